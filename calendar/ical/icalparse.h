// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading iCalendar text into events that can be asked for their occurrences in a window. Times are
// kept as milliseconds since 1970; libical is only used while a file is read and while a series is
// expanded.
#include "platform/calendarstore.h"

#include <QByteArray>
#include <QColor>
#include <QDate>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

struct IcalAttendee {
    QString address; // lower case, without "mailto:"
    Participation participation = Participation::pending;
};

struct IcalRecurrence; // a series: its rule, extra dates, exceptions and a cache of its expansion

// One VEVENT of a file: a single event, the master of a series, or one overridden occurrence.
struct IcalEvent {
    QString uid;
    QString title, location, notes;
    QUrl url;
    bool allDay = false;
    bool cancelled = false;
    QList<IcalAttendee> attendees;
    qint64 startMs = 0, endMs = 0;              // of the event, or of a series' first occurrence
    std::shared_ptr<IcalRecurrence> recurrence; // null unless the event repeats

    IcalEvent();
    ~IcalEvent();
    IcalEvent(IcalEvent&&) noexcept;
    IcalEvent& operator=(IcalEvent&&) noexcept;

    // The event's occurrences overlapping [fromMs, toMs), in time order: itself, or its series
    // expanded without its excluded and overridden dates.
    void occurrences(qint64 fromMs, qint64 toMs,
                     const std::function<void(qint64 startMs, qint64 endMs)>& out) const;

    // How the first of the `owners` among the attendees answered; none when none of them is listed.
    Participation participationOf(const QStringList& owners) const;
};

// The content of one .ics file.
struct IcalFile {
    QString calendarName; // X-WR-CALNAME
    QColor color;         // X-APPLE-CALENDAR-COLOR or COLOR, invalid when absent
    std::vector<IcalEvent> events;

    // Calls `out` for every occurrence overlapping [fromMs, toMs), each series expanded, overridden
    // occurrences replaced by their own event and excluded dates left out. The order is the file's,
    // and a series' occurrences come in time order.
    void occurrences(qint64 fromMs, qint64 toMs,
                     const std::function<void(const IcalEvent&, qint64 startMs, qint64 endMs)>& out) const;
};

// Parses iCalendar text. Floating times and dates are read in `local`; named zones come from the
// file's VTIMEZONE, else from the system's zone database, else they count as floating. Text that
// is not iCalendar gives an empty file.
IcalFile parseIcal(const QByteArray& text, const QTimeZone& local);
