// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class Clock;

// The minute of an instant in UTC, "2026-03-02T07:30": a block fires at most once per key.
QString scheduleMinuteKey(const QDateTime& now);

// The weekday of a date as the schedules number them: 1 = Sunday ... 7 = Saturday.
int scheduleWeekday(const QDate& date);

// The first enabled block due at the local time `local` (weekday, hour and minute), or null.
const ScheduleBlock* dueScheduleBlock(const QList<ScheduleBlock>& blocks, const QDateTime& local);

// The block that starts a take at `now`, read in the user's zone as the day ledger reads it, unless
// the minute of `now` already fired (`lastFiredMinute`). The engine asks while it is idle and acts.
std::optional<ScheduleBlock> scheduledTakeDue(const QList<ScheduleBlock>& blocks, const QDateTime& now,
                                              const Clock& clock, const QString& lastFiredMinute);
