// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/calendarstore.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <optional>

class Clock;

// A meeting as the popover and the tray show it. Compared field by field.
struct UpcomingEvent {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QDateTime start MEMBER start)
    Q_PROPERTY(QDateTime end MEMBER end)
    Q_PROPERTY(QString calendarTitle MEMBER calendarTitle)
public:
    QString id;
    QString title;
    QDateTime start;
    QDateTime end;
    QString calendarTitle;
    std::optional<QString> calendarColorHex; // "#RRGGBB"
    std::optional<QUrl> joinURL;
    std::optional<QString> location;

    bool operator==(const UpcomingEvent&) const = default;

    // The texts read the start in the time zone of `now`: pass the user's local now (Clock::localNow).
    // "in progress", "in 5 min", "at 9:05 AM", "tomorrow at 9:05 AM", "Tue at 9:05 AM" (and French).
    Q_INVOKABLE QString relativeText(const QDateTime& now) const;
    // "now", "in 5m", "9:05am", "tmw 9:05am", "Tue 9:05am" (and French).
    Q_INVOKABLE QString shortRelative(const QDateTime& now) const;
    // The tray's label: the relative part, after the title cut to `maxTitle` when `withTitle`.
    Q_INVOKABLE QString statusLabel(bool withTitle, int maxTitle, const QDateTime& now) const;
    // The id and the start in whole seconds since 1970: "id|1767225600".
    Q_INVOKABLE QString warnKey() const;
};

// A calendar as the settings panel lists it.
struct CalendarInfo {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString source MEMBER source)
public:
    QString id;
    QString title;
    std::optional<QString> colorHex;
    QString source;
    QStringList skipped = {}; // its files left unread: too large, or too costly to read

    bool operator==(const CalendarInfo&) const = default;
};

// "#RRGGBB" in upper-case hex from a colour's sRGB components; absent for an invalid colour.
std::optional<QString> colorText(const QColor& color);

// The meeting link of an event: its URL, then the links in the location, then in the notes; the
// first on a known meeting host wins, else the first candidate.
std::optional<QUrl> detectJoinURL(const QUrl& url, const QString& location, const QString& notes);

// The read-only link to the user's calendars: the meeting in progress and the next one.
class CalendarService : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant currentEvent READ currentEventValue NOTIFY currentEventChanged)
    Q_PROPERTY(QVariant nextEvent READ nextEventValue NOTIFY nextEventChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY enabledChanged)

public:
    CalendarService(CalendarStore& store, Clock& clock, QObject* parent = nullptr);
    ~CalendarService() override;

    const std::optional<UpcomingEvent>& currentEvent() const { return m_current; }
    const std::optional<UpcomingEvent>& nextEvent() const { return m_next; }
    CalendarAccess status() const { return m_status; }
    bool isEnabled() const { return m_enabled; }
    const QSet<QString>& muted() const { return m_muted; }
    bool observing() const { return m_observing; }
    CalendarStore& store() { return m_store; }

    // Called after every publication of events and after an access answer.
    std::function<void()> onChange;

    void configure(bool enabled, const QSet<QString>& muted);
    void activate();
    // Fetches the events of the watched calendars and publishes the current and next meeting.
    Q_INVOKABLE void refreshEvents();
    // Asks the store for access; the answer is handled on a later turn of the event loop.
    Q_INVOKABLE void requestAccess();
    QList<CalendarInfo> allCalendars() const;
    // allCalendars() for the views.
    Q_INVOKABLE QVariantList calendarList() const;
    Q_INVOKABLE void openPrivacySettings();

signals:
    void currentEventChanged();
    void nextEventChanged();
    void statusChanged();
    void enabledChanged();
    // The list of calendars may have changed (access granted, store changed).
    void calendarsChanged();

private:
    void storeChanged();
    QString identifierFor(const UpcomingEvent& withoutId) const;
    QVariant currentEventValue() const;
    QVariant nextEventValue() const;
    void publish(std::optional<UpcomingEvent> current, std::optional<UpcomingEvent> next);
    void setStatus(CalendarAccess status);

    CalendarStore& m_store;
    Clock& m_clock;
    std::optional<UpcomingEvent> m_current;
    std::optional<UpcomingEvent> m_next;
    CalendarAccess m_status = CalendarAccess::notDetermined;
    QTimer m_timer;
    bool m_observing = false;
    bool m_enabled = true;
    QSet<QString> m_muted;
    quint64 m_generation = 0;             // answers to older fetches are dropped
    mutable QSet<QString> m_generatedIds; // identifiers made for events that had none
};

Q_DECLARE_METATYPE(UpcomingEvent)
Q_DECLARE_METATYPE(CalendarInfo)
