// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/scheduledtakes.h"

#include "engine/userzone.h"
#include "platform/clock.h"

using namespace Qt::StringLiterals;

QString scheduleMinuteKey(const QDateTime& now) {
    return now.toUTC().toString(u"yyyy-MM-ddTHH:mm"_s);
}

int scheduleWeekday(const QDate& date) {
    return date.dayOfWeek() % 7 + 1; // Qt counts Monday as 1 and Sunday as 7
}

const ScheduleBlock* dueScheduleBlock(const QList<ScheduleBlock>& blocks, const QDateTime& local) {
    const int weekday = scheduleWeekday(local.date());
    const QTime time = local.time();
    for (const ScheduleBlock& b : blocks) {
        if (!b.enabled) continue;
        if (b.weekdays.contains(weekday) && b.startHour == time.hour() && b.startMinute == time.minute())
            return &b;
    }
    return nullptr;
}

std::optional<ScheduleBlock> scheduledTakeDue(const QList<ScheduleBlock>& blocks, const QDateTime& now,
                                              const Clock& clock, const QString& lastFiredMinute) {
    if (scheduleMinuteKey(now) == lastFiredMinute) return std::nullopt;
    // A zone the system cannot resolve is UTC.
    const ScheduleBlock* due = dueScheduleBlock(blocks, now.toTimeZone(userTimeZone(clock)));
    if (!due) return std::nullopt;
    return *due;
}
