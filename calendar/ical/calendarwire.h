// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the calendar reader and Mivra say to each other: one compact JSON object a line.
//
// Mivra to the reader:
//   {"op":"setup","roots":[{"path","key","source","evolution"}],"settleMs":N,"skip":[file…]}
//   {"op":"calendars"}                                  answered by {"calendars":[calendar…]}
//   {"op":"events","ids":[…],"from":ms,"to":ms}         answered by {"events":[event…]}
//   {"op":"skip","file":file}                           not answered
// The reader to Mivra, besides the answers:
//   {"file":file}      the calendar library is about to read this file or expand its series
//   {"changed":true}   the folders changed on disk
// where a file is {"path","size","mtime"}.
#include "calendar/ical/icalstore.h"
#include "platform/calendarstore.h"

#include <QJsonArray>
#include <QJsonObject>

namespace CalendarWire {

QJsonObject fileJson(const IcalCalendarStore::FileMark& f);
IcalCalendarStore::FileMark fileFrom(const QJsonObject& o);

QJsonObject rootJson(const CalendarRoot& r);
CalendarRoot rootFrom(const QJsonObject& o);

QJsonObject calendarJson(const StoreCalendar& c);
StoreCalendar calendarFrom(const QJsonObject& o);

QJsonObject eventJson(const StoreEvent& e);
StoreEvent eventFrom(const QJsonObject& o);

// One line of text, ending with a line feed.
QByteArray line(const QJsonObject& o);

} // namespace CalendarWire
