// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

class Clock;
class TimerModel;

// The minute of an instant in UTC, "2026-03-02T07:30": a block fires at most once per key.
QString scheduleMinuteKey(const QDateTime& now);

// The weekday of a date as the schedules number them: 1 = Sunday ... 7 = Saturday.
int scheduleWeekday(const QDate& date);

// The first enabled block due at the local time `local` (weekday, hour and minute), or null.
const ScheduleBlock* dueScheduleBlock(const QList<ScheduleBlock>& blocks, const QDateTime& local);

// The check of every twentieth tick: while the engine is idle, the first block due this minute
// switches the lockup when it names one, sets the gate for the take, announces it and starts it.
// `lastFiredMinute` is the engine's memory of the minute that fired last.
void checkScheduledTakes(TimerModel& engine, const Clock& clock, QString& lastFiredMinute);
