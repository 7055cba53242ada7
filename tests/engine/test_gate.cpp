// SPDX-License-Identifier: GPL-3.0-or-later
// The gate (timer and password locks, cutting, quitting) and allowance mode (spending, running out,
// relaunching, midnight).
#include "blocking/appmonitor.h"
#include "fakes/enginerig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct Gate : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;
    QList<bool> syncs;
    void SetUp() override {
        rig.installHelper();
        e = &rig.start();
        e->editSettings([](Settings& s) { s.focusMin = 1; });
        QObject::connect(e, &TimerModel::blockingSynced, [this](bool force) { syncs << force; });
    }
    void allowance() {
        e->editSettings([](Settings& s) { s.focusMin = 25, s.allowanceEnabled = true; });
        syncs.clear();
    }
};
} // namespace

TEST_F(Gate, PasswordDigestIsLowerCaseHexSha256OfTheExactUtf8Text) {
    EXPECT_EQ(TimerModel::hashPassword(u"abc"_s),
              u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
    EXPECT_NE(TimerModel::hashPassword(u"abc "_s), TimerModel::hashPassword(u"abc"_s));
    EXPECT_EQ(TimerModel::hashPassword(u"é"_s), TimerModel::hashPassword(QString::fromUtf8("\xc3\xa9")));
    EXPECT_NE(TimerModel::hashPassword(u"é"_s), TimerModel::hashPassword(u"e\u0301"_s));
}

TEST_F(Gate, EachLockOpensOnlyAsItShouldAndTheNextTakeIsLockedAgain) {
    struct Case {
        LockKind lock;
        QString stored; // empty: no password
        std::optional<QString> attempt;
        bool opens;
    };
    const QString secret = u"open sesame"_s;
    const QList<Case> cases = {
        {LockKind::none, {}, std::nullopt, true},
        {LockKind::timer, secret, secret, false},
        {LockKind::timer, secret, std::nullopt, false},
        {LockKind::timer, secret, u""_s, false},
        {LockKind::password, secret, secret, true},
        {LockKind::password, secret, u"open sesame "_s, false},
        {LockKind::password, secret, u"Open sesame"_s, false},
        {LockKind::password, secret, std::nullopt, false},
        // Without a stored password a password lock can only be waited out.
        {LockKind::password, {}, u""_s, false},
    };
    int counted = 0;
    for (const Case& c : cases) {
        const std::string what =
            QString(lockKindText(c.lock) + u' ' + c.attempt.value_or(u"-"_s)).toStdString();
        e->setPassword(c.stored);
        e->setPendingLock(c.lock);
        e->rollOrResume();
        EXPECT_EQ(e->authorizeQuit(c.attempt), c.opens) << what;
        EXPECT_EQ(e->gateLocked(), c.lock != LockKind::none) << what; // quitting leaves the gate as it is
        EXPECT_EQ(e->cutTake(c.attempt), c.opens) << what;
        if (!c.opens) {
            e->pause();
            rig.ticks(100);
            EXPECT_TRUE(e->gateLocked()) << what; // a paused take stays locked
            e->rollOrResume();
            while (e->phase() == Phase::rolling)
                e->tick();
            ++counted;
            EXPECT_FALSE(e->gateLocked());
            EXPECT_TRUE(e->authorizeQuit(std::nullopt));
            EXPECT_TRUE(e->cutTake(std::nullopt));
        }
        EXPECT_EQ(e->phase(), Phase::standby) << what;
        EXPECT_EQ(e->pendingLock(), c.lock) << what;
    }
    EXPECT_EQ(e->takesToday(), counted); // a cut take is not counted
}

TEST_F(Gate, QuittingReleasesTheBlockOnlyOutsideAllowanceMode) {
    e->rollOrResume();
    EXPECT_FALSE(rig.lockupFile().isEmpty());
    ASSERT_TRUE(e->authorizeQuit(std::nullopt));
    EXPECT_TRUE(rig.lockupFile().isEmpty());
    EXPECT_TRUE(e->appMonitor().blocked().isEmpty());

    e->resetToStandby();
    allowance();
    const QByteArray allDay = rig.lockupFile();
    ASSERT_FALSE(allDay.isEmpty());
    ASSERT_TRUE(e->authorizeQuit(std::nullopt));
    EXPECT_EQ(rig.lockupFile(), allDay);
    EXPECT_TRUE(e->appMonitor().blocked().isEmpty());
}

TEST_F(Gate, ThirtyMinutesOfAllowanceRunOutAfterExactly1800Ticks) {
    allowance();
    EXPECT_EQ(e->allowanceLeft(), 1800);
    const QByteArray closed = rig.lockupFile();
    ASSERT_TRUE(closed.startsWith("#redirect 127.0.0.1\n#expires "));
    e->openSet();
    EXPECT_TRUE(rig.lockupFile().isEmpty()); // standby: opening the set lifts the block
    rig.ticks(1799);
    EXPECT_TRUE(e->openSetActive());
    EXPECT_EQ(e->allowanceLeft(), 1);
    e->tick();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(rig.lockupFile(), closed); // blocked again until the next midnight
    EXPECT_EQ(syncs, (QList<bool>{false, false}));
    EXPECT_EQ(rig.defaults.value(u"mivra.allowanceUsed"_s).toLongLong(), 1800);
    e->openSet(); // nothing left
    EXPECT_FALSE(e->openSetActive());
}

TEST_F(Gate, TheOpenSetNeedsTheModeAndABudgetAndClosesOnlyWhenSpent) {
    e->openSet(); // the mode is off
    allowance();
    e->editSettings([](Settings& s) { s.allowanceMin = 0; });
    e->openSet();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(syncs, QList<bool>{true}); // the settings change only

    e->editSettings([](Settings& s) { s.allowanceMin = 30; });
    e->openSet();
    rig.ticks(120);
    e->editSettings([](Settings& s) { s.allowanceEnabled = false; }); // does not close an open set
    rig.ticks(10);
    EXPECT_TRUE(e->openSetActive());
    e->editSettings([](Settings& s) { s.allowanceMin = 1; }); // below what was spent
    EXPECT_EQ(e->allowanceLeft(), 0);
    EXPECT_TRUE(e->openSetActive());
    e->tick();
    EXPECT_FALSE(e->openSetActive());
    EXPECT_EQ(e->allowanceUsedSeconds(), 131);
}

TEST_F(Gate, TheAllowanceSurvivesARelaunchAndATakeKeepsItsBlock) {
    allowance();
    e->openSet();
    rig.ticks(603);
    e = &rig.start();
    EXPECT_EQ(e->allowanceUsedSeconds(), 600); // saved every fifth second
    EXPECT_FALSE(e->openSetActive());

    e->rollOrResume();
    const QByteArray take = rig.lockupFile();
    e->openSet();
    EXPECT_EQ(rig.lockupFile(), take);
    rig.ticks(10);
    EXPECT_EQ(e->allowanceUsedSeconds(), 610);
}

TEST_F(Gate, AnOpenSetKeepsSpendingAcrossMidnightWithAFreshBudget) {
    allowance();
    rig.clock.set(utcTime(2026, 3, 2, 23, 59, 0));
    e->openSet();
    syncs.clear();
    rig.liveTicks(80);
    EXPECT_TRUE(e->openSetActive());
    EXPECT_LT(e->allowanceUsedSeconds(), 60); // restarted at the rollover, still spending
    EXPECT_GT(e->allowanceUsedSeconds(), 0);
    EXPECT_EQ(syncs, QList<bool>{true});
    EXPECT_TRUE(rig.lockupFile().isEmpty());
}

TEST_F(Gate, WhileTheGateIsLockedTheBlockOnlyGrows) {
    struct Change {
        const char* what;
        std::function<void(TimerModel&)> make;
    };
    const auto editFirst = [](TimerModel& m, const std::function<void(Lockup&)>& edit) {
        QList<Lockup> list = m.lockups();
        edit(list[0]);
        m.setLockups(list);
    };
    const QList<Change> changes = {
        {"another lockup chosen", [](TimerModel& m) { m.selectLockup(m.lockups()[1].id); }},
        {"a site and an app taken out",
         [&](TimerModel& m) { editFirst(m, [](Lockup& l) { l.sites.removeAt(3), l.apps.removeFirst(); }); }},
        {"the lockup deleted", [](TimerModel& m) { m.deleteLockup(m.lockups()[0].id); }},
        {"every lockup deleted", [](TimerModel& m) { m.setLockups({}); }},
        {"website and app blocking off",
         [](TimerModel& m) {
             m.editSettings([](Settings& s) { s.blockWebsites = false, s.blockApps = false; });
         }},
    };
    for (LockKind lock : {LockKind::none, LockKind::timer, LockKind::password}) {
        for (const Change& c : changes) {
            const std::string what = lockKindText(lock).toStdString() + ": " + c.what;
            EngineRig r;
            r.installHelper();
            TimerModel& m = r.start();
            m.editSettings([](Settings& s) { s.focusMin = 1; });
            m.setPendingLock(lock);
            m.rollOrResume();
            const QByteArray firstSite =
                '\n' + m.lockups()[0].sites[3].toUtf8() + '\n'; // in the first seed only
            const QString firstApp = m.lockups()[0].apps.first().bundleID.toLower();
            c.make(m);
            const bool locked = lock != LockKind::none;
            EXPECT_EQ(r.lockupFile().contains(firstSite), locked) << what;
            EXPECT_EQ(m.appMonitor().blocked().contains(firstApp), locked) << what;
            EXPECT_EQ(m.blockHeld(), locked) << what;
            // What is added takes effect at once, also while something is held.
            if (m.lockupInEffect() && m.settings().blockWebsites) {
                QList<Lockup> list = m.lockups();
                list[m.lockupInEffect() - m.lockups().constData()].sites.append(u"added.example"_s);
                m.setLockups(list);
                EXPECT_TRUE(r.lockupFile().contains("\nadded.example\n")) << what;
                EXPECT_EQ(r.lockupFile().contains(firstSite), locked) << what;
            }
            // The end of the take lets the change through.
            while (m.phase() == Phase::rolling)
                r.liveTicks(1);
            EXPECT_FALSE(m.blockHeld()) << what;
            EXPECT_FALSE(r.lockupFile().contains(firstSite)) << what;
            EXPECT_TRUE(m.appMonitor().blocked().isEmpty()) << what;
        }
    }
}

TEST_F(Gate, ALockedTakeOutlivesTheApplication) {
    // Killed half-way through a timer-locked take and started again: the take goes on with its lock,
    // the time it had left and what it held; the block was never lifted.
    e->setPendingLock(LockKind::timer);
    e->rollOrResume();
    rig.liveTicks(20);
    e->selectLockup(e->lockups()[1].id); // held until the take ends
    const QByteArray block = rig.lockupFile();
    rig.engine.release();  // a kill: no destructor, no quit
    rig.clock.advance(15); // down for fifteen seconds
    e = &rig.start();
    EXPECT_EQ(rig.lockupFile().left(block.indexOf("#expires")), block.left(block.indexOf("#expires")));
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_TRUE(e->running());
    EXPECT_EQ(e->lockKind(), LockKind::timer);
    EXPECT_TRUE(e->gateLocked());
    EXPECT_EQ(e->remaining(), 60 - 20 - 15);
    EXPECT_FALSE(e->authorizeQuit(std::nullopt));
    EXPECT_TRUE(e->blockHeld());
    while (e->phase() == Phase::rolling)
        rig.liveTicks(1);
    EXPECT_EQ(e->takesToday(), 1);
    EXPECT_FALSE(QFile::exists(rig.dataDir() + u"/take.json"_s));

    // A take whose end passed while the application was not running ends then and is counted, on
    // the day it ended; an unlocked take is not kept at all.
    e->skipBreak();
    e->setPendingLock(LockKind::password);
    e->rollOrResume();
    rig.engine.release();
    rig.clock.advance(3600);
    e = &rig.start();
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_FALSE(e->gateLocked());
    EXPECT_EQ(e->takesToday(), 2);
    EXPECT_EQ(e->history().last().takes, 2);
    EXPECT_TRUE(rig.lockupFile().isEmpty());

    e->setPendingLock(LockKind::none);
    e->rollOrResume();
    rig.engine.release();
    e = &rig.start();
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_TRUE(rig.lockupFile().isEmpty());

    // A kept take that is not one this application wrote is kept aside and resumes nothing.
    rig.writeData(u"take.json"_s, "{\"lockKind\": \"timer\", \"endsAt\": \"soon\"}\n");
    e = &rig.start();
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_EQ(rig.asideFiles(u"take.json"_s).size(), 1);
}
