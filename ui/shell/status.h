// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QIcon>
#include <QImage>
#include <QString>

class CalendarService;
class TimerModel;

// The tray's status title: the remaining time while a phase runs or is paused, a dot while the set
// is closed at idle, and the meeting in progress or next when the calendar is on.
QString statusTitle(const TimerModel& engine, const CalendarService& calendar, const QDateTime& now);
// The tray's symbol: the lock while the gate is locked, the outline clapper in a break, else the
// filled clapper.
QString statusSymbol(const TimerModel& engine);
// The themed icon name of a symbol ("app.oriflan.mivra-locked-symbolic", …).
QString statusIconName(const QString& symbol);
// The tray icon: the symbolic icon from the theme, drawn from the symbol font where the theme
// has none, in a grey that reads on light and dark panels.
QIcon statusIcon(const QString& symbol);

// The folder to add to the icon theme's search path so that the status icons' names resolve from
// wherever Mivra runs: the build tree (icons/ beside the program) or an installation
// (share/icons beside bin/). Empty when neither holds them.
QString statusIconThemePath(const QString& programDir);
// The sizes a tray host asks for, drawn for the item that sends its icon as pixels.
QList<QImage> statusIconImages(const QString& symbol);
