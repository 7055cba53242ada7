// SPDX-License-Identifier: GPL-3.0-or-later
// The day ledger on a fake clock: launches on the same and the next day, midnight with a take
// running, duplicate records, a clock moving back, time zones, and where the day ends.
#include "fakes/enginerig.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QDateTime at(int day, int h, int m, int s = 0) {
    return utcTime(2026, 3, day, h, m, s);
}

struct Ledger : ::testing::Test {
    EngineRig rig;
    const DayStat* record(const QString& day) {
        for (const DayStat& d : rig.engine->history())
            if (d.date == day) return &d;
        return nullptr;
    }
    void runTakes(int n) {
        for (int i = 0; i < n; ++i) {
            rig.engine->rollOrResume();
            while (rig.engine->phase() == Phase::rolling)
                rig.engine->tick();
            rig.engine->skipBreak();
        }
    }
};
} // namespace

TEST_F(Ledger, LaunchesOnTheFirstTheSameAndTheNextDay) {
    TimerModel& first = rig.start();
    EXPECT_EQ(first.activeDay(), u"2026-03-02"_s);
    EXPECT_EQ(first.history(), (QList<DayStat>{{u"2026-03-02"_s, 0, 0}}));
    EXPECT_FALSE(rig.defaults.contains(u"mivra.day"_s)); // nothing saved before a take
    first.editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(2);

    TimerModel& same = rig.start();
    EXPECT_EQ(same.takesToday(), 2);
    EXPECT_EQ(same.focusedSecondsToday(), 120);
    EXPECT_EQ(same.history(), (QList<DayStat>{{u"2026-03-02"_s, 2, 120}}));

    rig.clock.advance(24 * 3600);
    TimerModel& next = rig.start();
    EXPECT_EQ(next.takesToday(), 0);
    EXPECT_EQ(next.focusedSecondsToday(), 0);
    EXPECT_EQ(next.history(), (QList<DayStat>{{u"2026-03-02"_s, 2, 120}, {u"2026-03-03"_s, 0, 0}}));
    EXPECT_TRUE(rig.readData(u"history.json"_s).contains("\"2026-03-03\""));
}

TEST_F(Ledger, ATakeRunningAcrossMidnightIsCountedOnTheNewDay) {
    rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
    rig.defaults.setValue(u"mivra.takes"_s, 2);
    rig.defaults.setValue(u"mivra.focused"_s, 3000);
    rig.clock.set(at(2, 23, 59, 30));
    TimerModel& e = rig.start();
    e.rollOrResume();
    QSignalSpy syncs(&e, &TimerModel::blockingSynced);
    while (e.takesToday() != 0 && rig.clock.now() < at(3, 0, 30))
        rig.liveTicks(1);
    // Within 20 seconds of midnight: totals zeroed, a new record, blocking re-derived with force.
    EXPECT_LE(at(3, 0, 0).secsTo(rig.clock.now()), 20);
    EXPECT_EQ(e.takesToday(), 0);
    EXPECT_EQ(e.phase(), Phase::rolling);
    EXPECT_TRUE(e.running());
    ASSERT_EQ(syncs.size(), 1);
    EXPECT_TRUE(syncs[0][0].toBool());
    EXPECT_EQ(*record(u"2026-03-03"_s), (DayStat{u"2026-03-03"_s, 0, 0}));
    EXPECT_EQ(*record(u"2026-03-02"_s), (DayStat{u"2026-03-02"_s, 2, 3000}));

    while (e.phase() == Phase::rolling)
        rig.liveTicks(1);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 1);
    EXPECT_EQ(record(u"2026-03-02"_s)->takes, 2);
    EXPECT_EQ(rig.defaults.value(u"mivra.day"_s).toString(), u"2026-03-03"_s);
}

TEST_F(Ledger, ATakeCompletingBeforeTheRolloverCheckCountsOnItsOwnDay) {
    rig.clock.set(at(2, 23, 58, 57));
    rig.start().editSettings([](Settings& s) { s.focusMin = 1; });
    rig.liveTicks(5);
    rig.engine->rollOrResume();
    rig.liveTicks(60); // a check at 23:59:57, the end at 00:00:02, the next check at 00:00:17
    EXPECT_EQ(*record(u"2026-03-02"_s), (DayStat{u"2026-03-02"_s, 1, 60}));
    rig.liveTicks(20);
    EXPECT_EQ(record(u"2026-03-02"_s)->takes, 1);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 0);
}

TEST_F(Ledger, OnlyTheFirstOfTwoRecordsForTodayChanges) {
    rig.writeData(u"history.json"_s, R"([{"date": "2026-03-02", "takes": 1, "focusedSeconds": 60},
                                         {"date": "2026-03-02", "takes": 5, "focusedSeconds": 300}])");
    rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
    rig.defaults.setValue(u"mivra.takes"_s, 3);
    rig.start().editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(1);
    EXPECT_EQ(rig.engine->history(), (QList<DayStat>{{u"2026-03-02"_s, 4, 60}, {u"2026-03-02"_s, 5, 300}}));
}

TEST_F(Ledger, ADayKeyMovingBackRestoresThatDaysRecord) {
    rig.writeData(u"history.json"_s, R"([{"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000}])");
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(1);
    rig.clock.set(at(1, 18, 0)); // the clock goes back a day
    rig.liveTicks(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-01"_s);
    EXPECT_EQ(e.takesToday(), 2);
    EXPECT_EQ(e.focusedSecondsToday(), 3000);
    EXPECT_EQ(*record(u"2026-03-02"_s), (DayStat{u"2026-03-02"_s, 1, 60}));
    runTakes(1);
    EXPECT_EQ(record(u"2026-03-01"_s)->takes, 3);

    // A launch whose stored counters are of another day still finds today's record.
    rig.defaults.setValue(u"mivra.day"_s, u"2026-02-10"_s);
    EXPECT_EQ(rig.start().takesToday(), 3);
}

TEST_F(Ledger, TheDayIsTheUsersOwnAndEndsAtItsLocalMidnight) {
    struct Step {
        const char* zone;
        QDateTime now;
        const char* day;
    };
    const auto utc = [](int mo, int d, int h, int mi, int s = 0) { return utcTime(2026, mo, d, h, mi, s); };
    const QList<Step> steps = {
        {"UTC", utc(3, 2, 23, 30), "2026-03-02"},
        {"Europe/Paris", utc(3, 2, 23, 30), "2026-03-03"},     // a zone change is seen at the next check
        {"America/Montreal", utc(3, 2, 23, 30), "2026-03-02"}, // and back
        // Paris on the 23-hour day of spring and the 25-hour day of autumn.
        {"Europe/Paris", utc(3, 28, 23, 30), "2026-03-29"},
        {"Europe/Paris", utc(3, 29, 22, 0, 5), "2026-03-30"},
        {"Europe/Paris", utc(10, 24, 22, 30), "2026-10-25"},
        {"Europe/Paris", utc(10, 25, 22, 30), "2026-10-25"},
        {"Europe/Paris", utc(10, 25, 23, 0, 5), "2026-10-26"},
        // A zone the system does not know (a typo, a retired name, no tzdata) counts as UTC.
        {"Nowhere/Atlantis", utc(10, 26, 23, 50), "2026-10-26"},
        {"Nowhere/Atlantis", utc(10, 27, 0, 0, 5), "2026-10-27"},
    };
    TimerModel& e = rig.start();
    for (const Step& s : steps) {
        rig.clock.setZone(QTimeZone(s.zone));
        rig.clock.set(s.now);
        rig.liveTicks(20);
        EXPECT_EQ(e.activeDay(), QLatin1StringView(s.day))
            << s.zone << " " << s.now.toString(Qt::ISODate).toStdString();
        EXPECT_NE(record(QString::fromLatin1(s.day)), nullptr);
    }
    // The counters of an unknown zone's day are not restored on a later day.
    e.editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(1);
    rig.clock.advance(24 * 3600);
    EXPECT_EQ(rig.start().takesToday(), 0);
    EXPECT_EQ(rig.engine->activeDay(), u"2026-10-28"_s);
}

TEST_F(Ledger, AnAllowanceBlockLastsUntilTheFirstInstantOfTheNextDay) {
    struct Case {
        const char* zone;
        QDateTime now, expiry;
    };
    const QList<Case> cases = {
        // The day before spring forward, the short day itself, the long day of autumn.
        {"Europe/Paris", utcTime(2026, 3, 28, 9, 0), utcTime(2026, 3, 28, 23, 0)},
        {"Europe/Paris", utcTime(2026, 3, 29, 8, 0), utcTime(2026, 3, 29, 22, 0)},
        {"Europe/Paris", utcTime(2026, 10, 25, 9, 0), utcTime(2026, 10, 25, 23, 0)},
        {"America/Montreal", utcTime(2026, 3, 8, 3, 0), utcTime(2026, 3, 8, 5, 0)},
        {"America/Montreal", utcTime(2026, 3, 8, 12, 0), utcTime(2026, 3, 9, 4, 0)},
        {"Asia/Kolkata", utcTime(2026, 3, 2, 20, 0), utcTime(2026, 3, 3, 18, 30)},
        // Zones whose clocks jump from 23:59:59 to 01:00: the next day begins at that jump.
        {"America/Havana", utcTime(2026, 3, 7, 20, 0), utcTime(2026, 3, 8, 5, 0)},
        {"America/Santiago", utcTime(2026, 9, 5, 20, 0), utcTime(2026, 9, 6, 4, 0)},
        {"Asia/Beirut", utcTime(2026, 3, 28, 10, 0), utcTime(2026, 3, 28, 22, 0)},
        {"Africa/Cairo", utcTime(2026, 4, 23, 10, 0), utcTime(2026, 4, 23, 22, 0)},
        // Samoa skipped 30 December 2011 altogether.
        {"Pacific/Apia", utcTime(2011, 12, 29, 20, 0), utcTime(2011, 12, 30, 10, 0)},
        {"Nowhere/Atlantis", utcTime(2026, 3, 2, 20, 0), utcTime(2026, 3, 3, 0, 0)},
    };
    rig.installHelper();
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) { s.allowanceEnabled = true; });
    for (const Case& c : cases) {
        rig.clock.setZone(QTimeZone(c.zone));
        rig.clock.set(c.now);
        e.syncBlocking(true);
        EXPECT_EQ(e.blockExpiry(), c.expiry) << c.zone;
        EXPECT_TRUE(rig.lockupFile().contains(
            QByteArray("#expires " + QByteArray::number(c.expiry.toSecsSinceEpoch()) + '\n')));
    }
}
