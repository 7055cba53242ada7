// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/scheduledtakes.h"

#include "engine/userzone.h"

#include "engine/loc.h"
#include "engine/timermodel.h"
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
        if (b.weekdays.contains(weekday) && b.startHour == time.hour() && b.startMinute == time.minute()) return &b;
    }
    return nullptr;
}

void checkScheduledTakes(TimerModel& engine, const Clock& clock, QString& lastFiredMinute) {
    if (engine.running() || engine.phase() != Phase::standby || engine.openSetActive()) return;
    const QDateTime now = clock.now();
    const QString key = scheduleMinuteKey(now);
    if (key == lastFiredMinute) return;
    // Read in the user's zone as the day ledger reads it: a zone the system cannot resolve is UTC.
    const ScheduleBlock* due = dueScheduleBlock(engine.schedules(), now.toTimeZone(userTimeZone(clock)));
    if (!due) return;
    const ScheduleBlock block = *due; // the settings change below must not pull it from under us
    lastFiredMinute = key;
    if (block.lockupID) engine.editSettings([&](Settings& s) { s.activeLockupID = block.lockupID; });
    engine.setPendingLock(block.lockGate ? block.lockKind : LockKind::none);
    engine.notify(pick(u"Call time."_s, u"Heure de tournage."_s),
                  pick(u"Scheduled take — the set is closing."_s, u"Mivra programmée — le plateau se ferme."_s), true);
    engine.startTake(block.durationMin, false);
}
