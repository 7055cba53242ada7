// The day ledger on a fake clock: launches on the same and the next day, midnight with a take
// running, a take completing just after midnight, duplicate records, and a clock moving back.
#include "fakes/enginerig.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QDateTime at(int day, int h, int m, int s = 0) {
    return QDateTime(QDate(2026, 3, day), QTime(h, m, s), QTimeZone::utc());
}

struct Ledger : ::testing::Test {
    EngineRig rig;
    // One tick of the engine with one second of wall-clock time.
    void tickLive(int n = 1) {
        for (int i = 0; i < n; ++i) {
            rig.clock.advance(1);
            rig.engine->tick();
        }
    }
    const DayStat* record(const QString& day) {
        for (const DayStat& d : rig.engine->history())
            if (d.date == day) return &d;
        return nullptr;
    }
    void runTakes(int n) {
        for (int i = 0; i < n; ++i) {
            rig.engine->rollOrResume();
            while (rig.engine->phase() == Phase::rolling) rig.engine->tick();
            rig.engine->skipBreak();
        }
    }
};
} // namespace

TEST_F(Ledger, FirstLaunchEverRecordsAnEmptyDayAndSavesNothing) {
    TimerModel& e = rig.start();
    EXPECT_EQ(e.takesToday(), 0);
    EXPECT_EQ(e.focusedSecondsToday(), 0);
    EXPECT_EQ(e.activeDay(), u"2026-03-02"_s);
    EXPECT_FALSE(rig.defaults.contains(u"mivra.day"_s));
    ASSERT_EQ(e.history().size(), 1);
    EXPECT_EQ(e.history()[0], (DayStat{u"2026-03-02"_s, 0, 0}));
}

TEST_F(Ledger, RelaunchesOnTheSameDayAndOnTheNext) {
    rig.start().editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(2);
    EXPECT_EQ(rig.defaults.value(u"mivra.takes"_s).toLongLong(), 2);

    TimerModel& same = rig.start();
    EXPECT_EQ(same.takesToday(), 2);
    EXPECT_EQ(same.focusedSecondsToday(), 120);
    ASSERT_EQ(same.history().size(), 1);
    EXPECT_EQ(same.history()[0], (DayStat{u"2026-03-02"_s, 2, 120}));

    rig.clock.advance(24 * 3600);
    TimerModel& next = rig.start();
    EXPECT_EQ(next.takesToday(), 0);
    EXPECT_EQ(next.focusedSecondsToday(), 0);
    ASSERT_EQ(next.history().size(), 2);
    EXPECT_EQ(next.history()[0], (DayStat{u"2026-03-02"_s, 2, 120}));
    EXPECT_EQ(next.history()[1], (DayStat{u"2026-03-03"_s, 0, 0}));
    // What is on disk matches what is in memory.
    EXPECT_TRUE(rig.readData(u"history.json"_s).contains("\"2026-03-03\""));
}

TEST_F(Ledger, ATakeRunningAcrossMidnightIsCountedOnTheNewDay) {
    rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
    rig.defaults.setValue(u"mivra.takes"_s, 2);
    rig.defaults.setValue(u"mivra.focused"_s, 3000);
    rig.clock.set(at(2, 23, 59, 30));
    TimerModel& e = rig.start();
    e.rollOrResume();
    int secondsAfterMidnight = -1;
    for (int i = 0; i < 120 && secondsAfterMidnight < 0; ++i) {
        tickLive();
        if (e.takesToday() == 0) secondsAfterMidnight = int(at(3, 0, 0).secsTo(rig.clock.now()));
    }
    ASSERT_GE(secondsAfterMidnight, 0);
    EXPECT_LE(secondsAfterMidnight, 20);
    EXPECT_EQ(e.phase(), Phase::rolling);
    ASSERT_NE(record(u"2026-03-03"_s), nullptr);
    EXPECT_EQ(*record(u"2026-03-03"_s), (DayStat{u"2026-03-03"_s, 0, 0}));
    EXPECT_EQ(*record(u"2026-03-02"_s), (DayStat{u"2026-03-02"_s, 2, 3000}));

    while (e.phase() == Phase::rolling) tickLive();
    EXPECT_EQ(e.takesToday(), 1);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 1);
    EXPECT_EQ(record(u"2026-03-02"_s)->takes, 2);
    EXPECT_EQ(rig.defaults.value(u"mivra.day"_s).toString(), u"2026-03-03"_s);
}

TEST_F(Ledger, ATakeCompletingBeforeTheRolloverCheckCountsOnItsOwnDay) {
    rig.clock.set(at(2, 23, 59, 0));
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) { s.focusMin = 1; });
    e.rollOrResume();
    tickLive(60); // the 60th tick lands on midnight: the take ends, then the day rolls over
    EXPECT_EQ(rig.clock.now(), at(3, 0, 0));
    ASSERT_NE(record(u"2026-03-02"_s), nullptr);
    EXPECT_EQ(record(u"2026-03-02"_s)->takes, 1);
    EXPECT_EQ(record(u"2026-03-02"_s)->focusedSeconds, 60);
    ASSERT_NE(record(u"2026-03-03"_s), nullptr);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 0);
    EXPECT_EQ(e.takesToday(), 0);

    // The same, with the check some seconds after midnight.
    rig.clock.set(at(3, 23, 58, 57));
    e.skipBreak();
    tickLive(5);
    e.rollOrResume();
    tickLive(60); // a check at 23:59:57, the end at 00:00:02, the next check at 00:00:17
    EXPECT_EQ(e.activeDay(), u"2026-03-03"_s);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 1);
    tickLive(20);
    EXPECT_EQ(record(u"2026-03-03"_s)->takes, 1);
    EXPECT_EQ(record(u"2026-03-04"_s)->takes, 0);
}

TEST_F(Ledger, OnlyTheFirstOfTwoRecordsForTodayChanges) {
    rig.writeData(u"history.json"_s, R"([{"date": "2026-03-02", "takes": 1, "focusedSeconds": 60},
                                         {"date": "2026-03-02", "takes": 5, "focusedSeconds": 300}])");
    rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
    rig.defaults.setValue(u"mivra.takes"_s, 3);
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(1);
    ASSERT_EQ(e.history().size(), 2);
    EXPECT_EQ(e.history()[0].takes, 4);
    EXPECT_EQ(e.history()[1], (DayStat{u"2026-03-02"_s, 5, 300}));
}

TEST_F(Ledger, ADayKeyMovingBackRestoresThatDaysRecord) {
    rig.writeData(u"history.json"_s, R"([{"date": "2026-03-01", "takes": 2, "focusedSeconds": 3000}])");
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) { s.focusMin = 1; });
    runTakes(1);
    rig.clock.set(at(1, 18, 0)); // the clock goes back a day
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-01"_s);
    EXPECT_EQ(e.takesToday(), 2);
    EXPECT_EQ(e.focusedSecondsToday(), 3000);
    EXPECT_EQ(*record(u"2026-03-01"_s), (DayStat{u"2026-03-01"_s, 2, 3000}));
    EXPECT_EQ(*record(u"2026-03-02"_s), (DayStat{u"2026-03-02"_s, 1, 60}));
    runTakes(1);
    EXPECT_EQ(record(u"2026-03-01"_s)->takes, 3);

    // A launch whose stored counters are of another day still finds today's record.
    rig.defaults.setValue(u"mivra.day"_s, u"2026-02-10"_s);
    TimerModel& again = rig.start();
    EXPECT_EQ(again.takesToday(), 3);
    EXPECT_EQ(record(u"2026-03-01"_s)->takes, 3);
}

TEST_F(Ledger, DayKeysFollowTheUserTimeZone) {
    rig.clock.set(at(2, 23, 30));
    rig.clock.setZone(QTimeZone("Europe/Paris"));
    TimerModel& e = rig.start();
    EXPECT_EQ(e.dayKey(), u"2026-03-03"_s);
    rig.clock.setZone(QTimeZone("America/Montreal"));
    EXPECT_EQ(e.dayKey(), u"2026-03-02"_s);
}

TEST_F(Ledger, TheRolloverSyncsBlockingWithForceAndKeepsThePhase) {
    rig.clock.set(at(2, 23, 59, 50));
    TimerModel& e = rig.start();
    e.rollOrResume();
    QSignalSpy spy(&e, &TimerModel::blockingSynced);
    tickLive(20);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_TRUE(spy[0][0].toBool());
    EXPECT_EQ(e.phase(), Phase::rolling);
    EXPECT_TRUE(e.running());
}

TEST_F(Ledger, AZoneChangeIsSeenAtTheNextCheck) {
    rig.clock.set(at(2, 23, 30));
    TimerModel& e = rig.start();
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-02"_s);
    rig.clock.setZone(QTimeZone("Europe/Paris")); // already past midnight there
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-03"_s);
    rig.clock.setZone(QTimeZone("America/Montreal")); // the evening before
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-02"_s);
}

TEST_F(Ledger, DaysEndAtLocalMidnightOnDaysOf23And25Hours) {
    auto utc = [](int month, int day, int h, int m, int s = 0) {
        return QDateTime(QDate(2026, month, day), QTime(h, m, s), QTimeZone::utc());
    };
    rig.clock.setZone(QTimeZone("Europe/Paris"));
    // On 29 March the clocks there go from 02:00 to 03:00.
    rig.clock.set(utc(3, 28, 23, 30)); // 00:30 local
    TimerModel& e = rig.start();
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-29"_s);
    rig.clock.set(utc(3, 29, 22, 0, 5)); // 00:00:05 local on the 30th
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-03-30"_s);

    // On 25 October they go from 03:00 back to 02:00.
    rig.clock.set(utc(10, 24, 22, 30)); // 00:30 local
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-10-25"_s);
    rig.clock.set(utc(10, 25, 22, 30)); // 23:30 local: 24 hours on, the same day
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-10-25"_s);
    rig.clock.set(utc(10, 25, 23, 0, 5)); // 00:00:05 local on the 26th
    tickLive(20);
    EXPECT_EQ(e.activeDay(), u"2026-10-26"_s);
}
