// The gate (timer and password locks, cutting, quitting) and allowance mode (spending, running out,
// relaunching, midnight).
#include "blocking/appmonitor.h"
#include "fakes/enginerig.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct Gate : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;
    void SetUp() override {
        rig.installHelper();
        e = &rig.start();
        e->editSettings([](Settings& s) { s.focusMin = 1; });
    }
    void finishTake() {
        while (e->phase() == Phase::rolling) e->tick();
    }
};
} // namespace

TEST_F(Gate, PasswordDigestIsLowerCaseHexSha256OfTheExactText) {
    EXPECT_EQ(TimerModel::hashPassword(u"abc"_s),
              u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
    EXPECT_NE(TimerModel::hashPassword(u"abc "_s), TimerModel::hashPassword(u"abc"_s));
    // UTF-8 bytes, not Latin-1 or UTF-16.
    EXPECT_EQ(TimerModel::hashPassword(u"é"_s), TimerModel::hashPassword(QString::fromUtf8("\xc3\xa9")));
    EXPECT_NE(TimerModel::hashPassword(u"é"_s), TimerModel::hashPassword(u"e\u0301"_s));
}

TEST_F(Gate, ATimerLockRefusesEveryPasswordUntilTheTakeCompletes) {
    e->setPassword(u"secret"_s);
    e->setPendingLock(LockKind::timer);
    e->rollOrResume();
    EXPECT_TRUE(e->gateLocked());
    for (const std::optional<QString>& p : {std::optional<QString>(), std::optional<QString>(u"secret"_s),
                                            std::optional<QString>(u""_s)}) {
        EXPECT_FALSE(e->cutTake(p));
        EXPECT_FALSE(e->authorizeQuit(p));
    }
    EXPECT_EQ(e->phase(), Phase::rolling);
    e->pause();
    rig.ticks(10000);
    EXPECT_TRUE(e->gateLocked()); // a paused take stays locked
    e->rollOrResume();
    finishTake();
    EXPECT_FALSE(e->gateLocked());
    EXPECT_EQ(e->lockKind(), LockKind::none);
    EXPECT_TRUE(e->authorizeQuit(std::nullopt));
    EXPECT_EQ(e->pendingLock(), LockKind::timer); // the next take is locked again
    e->skipBreak();
    e->rollOrResume();
    EXPECT_EQ(e->lockKind(), LockKind::timer);
}

TEST_F(Gate, APasswordLockOpensOnlyForTheExactPassword) {
    e->setPassword(u"open sesame"_s);
    EXPECT_EQ(e->settings().passwordHash, TimerModel::hashPassword(u"open sesame"_s));
    e->setPendingLock(LockKind::password);
    e->rollOrResume();
    EXPECT_FALSE(e->cutTake(std::nullopt));
    EXPECT_FALSE(e->cutTake(u"open sesame "_s));
    EXPECT_FALSE(e->cutTake(u"Open sesame"_s));
    EXPECT_FALSE(e->authorizeQuit(u"wrong"_s));
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_TRUE(e->authorizeQuit(u"open sesame"_s));
    EXPECT_TRUE(e->gateLocked()); // quitting leaves the gate as it is
    EXPECT_TRUE(e->cutTake(u"open sesame"_s));
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_FALSE(e->gateLocked());
    EXPECT_EQ(e->takesToday(), 0); // a cut take is not counted
    EXPECT_EQ(e->pendingLock(), LockKind::password);
}

TEST_F(Gate, WithoutAStoredPasswordAPasswordLockCanOnlyBeWaitedOut) {
    e->setPassword(u"x"_s);
    e->setPendingLock(LockKind::password);
    e->rollOrResume();
    e->setPassword(u""_s);
    EXPECT_FALSE(e->settings().passwordHash.has_value());
    EXPECT_FALSE(e->cutTake(u""_s));
    EXPECT_FALSE(e->cutTake(u"x"_s));
    EXPECT_TRUE(e->gateLocked());
    finishTake();
    EXPECT_FALSE(e->gateLocked());
    EXPECT_TRUE(e->cutTake(std::nullopt));
}

TEST_F(Gate, AnOpenGateCutsAndQuitsWithoutAPassword) {
    e->rollOrResume();
    EXPECT_FALSE(e->gateLocked());
    EXPECT_TRUE(e->cutTake(std::nullopt));
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_EQ(e->remaining(), 60);
}

TEST_F(Gate, QuittingReleasesTheBlockOnlyOutsideAllowanceMode) {
    e->rollOrResume();
    EXPECT_FALSE(rig.lockupFile().isEmpty());
    EXPECT_TRUE(e->appMonitor().isWatching() || !e->appMonitor().blocked().isEmpty());
    ASSERT_TRUE(e->authorizeQuit(std::nullopt));
    EXPECT_TRUE(rig.lockupFile().isEmpty());
    EXPECT_TRUE(e->appMonitor().blocked().isEmpty());

    e->resetToStandby();
    e->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    const QByteArray allDay = rig.lockupFile();
    ASSERT_FALSE(allDay.isEmpty());
    ASSERT_TRUE(e->authorizeQuit(std::nullopt));
    EXPECT_EQ(rig.lockupFile(), allDay);
    EXPECT_TRUE(e->appMonitor().blocked().isEmpty());
}

namespace {
struct Allowance : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;
    QList<bool> syncs;
    void SetUp() override {
        rig.installHelper();
        e = &rig.start();
        e->editSettings([](Settings& s) { s.allowanceEnabled = true; });
        QObject::connect(e, &TimerModel::blockingSynced, [this](bool force) { syncs << force; });
    }
};
} // namespace

TEST_F(Allowance, ThirtyMinutesRunOutAfterExactly1800Ticks) {
    EXPECT_EQ(e->allowanceLeft(), 1800);
    const QByteArray closed = rig.lockupFile();
    ASSERT_TRUE(closed.startsWith("#redirect 127.0.0.1\n#expires "));
    e->openSet();
    EXPECT_TRUE(e->openSetActive());
    EXPECT_TRUE(rig.lockupFile().isEmpty()); // standby: opening the set lifts the block
    EXPECT_EQ(syncs, QList<bool>{false});
    rig.ticks(1799);
    EXPECT_TRUE(e->openSetActive());
    EXPECT_EQ(e->allowanceLeft(), 1);
    e->tick();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(e->allowanceLeft(), 0);
    EXPECT_EQ(rig.lockupFile(), closed); // blocked again until the next midnight
    EXPECT_EQ(syncs.count(false), 2);
    EXPECT_EQ(rig.defaults.value(u"mivra.allowanceUsed"_s).toLongLong(), 1800);
    e->openSet(); // nothing left
    EXPECT_FALSE(e->openSetActive());
}

TEST_F(Allowance, NoBudgetOrNoModeMeansTheSetStaysClosed) {
    e->editSettings([](Settings& s) { s.allowanceMin = 0; });
    syncs.clear();
    e->openSet();
    EXPECT_FALSE(e->openSetActive());
    e->editSettings([](Settings& s) {
        s.allowanceMin = 30;
        s.allowanceEnabled = false;
    });
    e->openSet();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(syncs, QList<bool>{true}); // the settings change only
}

TEST_F(Allowance, LoweringTheBudgetBelowWhatWasSpentClosesAtTheNextTick) {
    e->openSet();
    rig.ticks(120);
    e->editSettings([](Settings& s) { s.allowanceMin = 1; });
    EXPECT_EQ(e->allowanceLeft(), 0);
    EXPECT_TRUE(e->openSetActive());
    e->tick();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(e->allowanceUsedSeconds(), 121);
}

TEST_F(Allowance, TurningTheModeOffLeavesAnOpenSetSpending) {
    e->openSet();
    e->editSettings([](Settings& s) { s.allowanceEnabled = false; });
    rig.ticks(10);
    EXPECT_TRUE(e->openSetActive());
    EXPECT_EQ(e->allowanceUsedSeconds(), 10);
    e->closeSet();
    EXPECT_FALSE(e->openSetActive());
}

TEST_F(Allowance, ARelaunchRestoresWhatWasSavedAndClosesTheSet) {
    e->openSet();
    rig.ticks(603);
    TimerModel& again = rig.start();
    EXPECT_EQ(again.allowanceUsedSeconds(), 600);
    EXPECT_FALSE(again.openSetActive());
    EXPECT_EQ(again.allowanceLeft(), 1200);
}

TEST_F(Allowance, DuringATakeTheOpenSetSpendsButKeepsTheBlock) {
    e->rollOrResume();
    const QByteArray take = rig.lockupFile();
    e->openSet();
    EXPECT_EQ(rig.lockupFile(), take);
    rig.ticks(10);
    EXPECT_EQ(e->allowanceUsedSeconds(), 10);
}

TEST_F(Allowance, AnOpenSetKeepsSpendingAcrossMidnightWithAFreshBudget) {
    rig.clock.set(QDateTime(QDate(2026, 3, 2), QTime(23, 59, 0), QTimeZone::utc()));
    e->openSet();
    syncs.clear();
    for (int i = 0; i < 80; ++i) {
        rig.clock.advance(1);
        e->tick();
    }
    EXPECT_TRUE(e->openSetActive());
    EXPECT_LT(e->allowanceUsedSeconds(), 60); // restarted at the rollover, still spending
    EXPECT_GT(e->allowanceUsedSeconds(), 0);
    EXPECT_EQ(syncs, QList<bool>{true});
    EXPECT_TRUE(rig.lockupFile().isEmpty());
}
