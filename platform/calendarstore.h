// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// One calendar of a store.
struct StoreCalendar {
    QString id; // stable across launches; the value kept in mutedCalendarIDs
    QString title;
    QColor color;             // invalid when the calendar has no colour
    QString source;           // title of the account or collection the calendar belongs to
    QStringList skipped = {}; // names of its files left unread (too large, or too costly to read)
};

// How the current user answered an event's invitation.
enum class Participation {
    none,    // no attendee list, or no attendee that is the user
    pending, // needs action
    accepted,
    tentative,
    declined,
};

// How the user answered, read from an invitation's PARTSTAT value ("ACCEPTED", "IN-PROCESS", …): the
// one reading every store uses. Work in progress or done counts as accepted; a value not known here
// has not been answered.
inline Participation participationFromPartstat(const QByteArray& value) {
    const QByteArray v = value.trimmed().toUpper();
    if (v == "ACCEPTED" || v == "COMPLETED" || v == "IN-PROCESS") return Participation::accepted;
    if (v == "TENTATIVE") return Participation::tentative;
    if (v == "DECLINED") return Participation::declined;
    return Participation::pending;
}

// One event (one occurrence of a series) as a store reports it.
struct StoreEvent {
    QString id; // empty when the event has none
    QString calendarId;
    QString title;
    QDateTime start, end;
    bool allDay = false;
    bool cancelled = false;
    Participation participation = Participation::none;
    QUrl url;
    QString location;
    QString notes;
};

// Read-only access to the user's calendars. Lives on the GUI thread; answers may come later but
// always arrive on the GUI thread.
// Whether calendars may be read. The numbers are stored with the person's consent and kept.
enum class CalendarAccess { notDetermined = 0, restricted = 1, denied = 2, fullAccess = 3, writeOnly = 4 };

// The access a stored number stands for; a number out of range is not determined.
inline CalendarAccess calendarAccessFromNumber(qint64 n) {
    return n >= 0 && n <= 4 ? static_cast<CalendarAccess>(n) : CalendarAccess::notDetermined;
}

class CalendarStore : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~CalendarStore() override = default;

    virtual CalendarAccess authorizationStatus() const = 0;
    // Asks for access; `done` receives whether it was granted.
    virtual void requestAccess(std::function<void(bool granted)> done) = 0;

    virtual QList<StoreCalendar> calendars() const = 0;
    // The events of the given calendars that overlap [from, to), in the store's order. `done` may
    // run before this returns (a store that has the answer at hand) or later.
    virtual void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                        std::function<void(QList<StoreEvent>)> done) = 0;

    // Shows the person where calendars are set up or granted (a folder, the desktop's settings).
    virtual void openSettings() = 0;

signals:
    // The calendars or their events changed.
    void changed();
};
