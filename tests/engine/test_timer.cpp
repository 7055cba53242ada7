// The phase machine on a fake clock: reels, breaks, the texts, notifications, and which operations
// re-derive blocking.
#include "fakes/enginerig.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct Timer : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;
    void SetUp() override {
        e = &rig.start();
        e->editSettings([](Settings& s) {
            s.focusMin = 1;
            s.shortMin = 1;
            s.longMin = 2;
        });
    }
    // Runs the current take to its end.
    void completeTake() {
        if (e->phase() == Phase::standby) e->rollOrResume();
        ASSERT_EQ(e->phase(), Phase::rolling);
        while (e->phase() == Phase::rolling) e->tick();
    }
    QList<bool> syncs(QSignalSpy& spy) {
        QList<bool> out;
        for (const auto& call : spy) out << call[0].toBool();
        spy.clear();
        return out;
    }
};
} // namespace

TEST_F(Timer, AReelOfFourEndsInAWrapAndTheCountGoesOn) {
    QList<Phase> breaks;
    for (int i = 0; i < 9; ++i) {
        completeTake();
        breaks << e->phase();
        e->skipBreak();
    }
    EXPECT_EQ(breaks, (QList<Phase>{Phase::setup, Phase::setup, Phase::setup, Phase::wrap, Phase::setup,
                                    Phase::setup, Phase::setup, Phase::wrap, Phase::setup}));
    EXPECT_EQ(e->takesToday(), 9);
    EXPECT_EQ(e->focusedSecondsToday(), 9 * 60);
}

TEST_F(Timer, AReelBelowOneCountsAsOne) {
    for (qint64 reel : {0, -2}) {
        e->editSettings([&](Settings& s) { s.reel = reel; });
        completeTake();
        EXPECT_EQ(e->phase(), Phase::wrap) << reel;
        EXPECT_EQ(e->remaining(), 120);
        e->skipBreak();
    }
}

TEST_F(Timer, ATakeOfLengthZeroEndsAtTheFirstTickAndIsCounted) {
    e->editSettings([](Settings& s) { s.focusMin = 0; });
    e->rollOrResume();
    EXPECT_EQ(e->remaining(), 0);
    e->tick();
    EXPECT_EQ(e->phase(), Phase::setup);
    EXPECT_EQ(e->takesToday(), 1);
    EXPECT_EQ(e->focusedSecondsToday(), 0);
}

TEST_F(Timer, AScheduledLengthCreditsTheConfiguredTakeLength) {
    e->editSettings([](Settings& s) { s.focusMin = 25; });
    e->startTake(50, false);
    EXPECT_EQ(e->remaining(), 3000);
    rig.ticks(2999);
    EXPECT_EQ(e->phase(), Phase::rolling);
    e->tick();
    EXPECT_EQ(e->phase(), Phase::setup);
    EXPECT_EQ(e->focusedSecondsToday(), 1500);
}

TEST_F(Timer, BreaksFollowTheAutoStartSettings) {
    e->editSettings([](Settings& s) { s.autoStartBreaks = false; });
    completeTake();
    EXPECT_EQ(e->phase(), Phase::setup);
    EXPECT_FALSE(e->running());
    rig.ticks(5);
    EXPECT_EQ(e->remaining(), 60); // paused at full length
    EXPECT_EQ(e->primaryLabel(), u"Resume"_s);
    e->rollOrResume();
    EXPECT_TRUE(e->running());
    EXPECT_EQ(e->primaryLabel(), u"Hold"_s);
    rig.ticks(60);
    EXPECT_EQ(e->phase(), Phase::standby); // announced, not rolling on
    EXPECT_FALSE(e->running());
    EXPECT_EQ(e->remaining(), 60);

    e->editSettings([](Settings& s) {
        s.autoStartTakes = true;
        s.autoStartBreaks = true;
    });
    completeTake();
    rig.notifier.posts.clear();
    e->skipBreak(); // a skip announces nothing and rolls on straight away
    EXPECT_TRUE(rig.notifier.posts.isEmpty());
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_TRUE(e->running());
    EXPECT_EQ(e->remaining(), 60);
}

TEST_F(Timer, PauseAndResumeKeepTheClockAndTheGate) {
    e->editSettings([](Settings& s) { s.focusMin = 25; });
    e->setPendingLock(LockKind::timer);
    e->rollOrResume();
    rig.ticks(25 * 60 - (12 * 60 + 34));
    EXPECT_EQ(e->clockText(), u"12:34"_s);
    e->pause();
    rig.ticks(100);
    EXPECT_EQ(e->clockText(), u"12:34"_s);
    EXPECT_EQ(e->primaryLabel(), u"Roll"_s);
    e->rollOrResume();
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_EQ(e->clockText(), u"12:34"_s);
    EXPECT_TRUE(e->gateLocked());
    EXPECT_EQ(e->lockKind(), LockKind::timer);
}

TEST_F(Timer, SkipOnlyLeavesBreaks) {
    e->skipBreak();
    EXPECT_EQ(e->phase(), Phase::standby);
    e->rollOrResume();
    e->skipBreak();
    EXPECT_EQ(e->phase(), Phase::rolling);
}

TEST_F(Timer, TakeLengthChangesShowAtOnceOnlyWhileIdle) {
    e->editSettings([](Settings& s) { s.focusMin = 30; });
    EXPECT_EQ(e->remaining(), 1800);
    e->rollOrResume();
    rig.ticks(10);
    e->pause();
    e->editSettings([](Settings& s) { s.focusMin = 45; });
    EXPECT_EQ(e->remaining(), 1790);
}

TEST_F(Timer, ClockAndFocusedTexts) {
    e->editSettings([](Settings& s) { s.focusMin = 90; });
    EXPECT_EQ(e->clockText(), u"90:00"_s);
    e->editSettings([](Settings& s) { s.focusMin = 0; });
    EXPECT_EQ(e->clockText(), u"0:00"_s);

    struct Case {
        qint64 seconds;
        QString text;
    };
    for (const Case& c : {Case{0, u"0 min"_s}, Case{59, u"0 min"_s}, Case{3599, u"59 min"_s},
                          Case{3600, u"1h 00m"_s}, Case{65 * 60, u"1h 05m"_s}, Case{36000 + 61, u"10h 01m"_s}}) {
        rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
        rig.defaults.setValue(u"mivra.focused"_s, c.seconds);
        EXPECT_EQ(rig.start().focusedText(), c.text) << c.seconds;
    }
}

TEST_F(Timer, StatusTextsFollowTheLanguage) {
    QSignalSpy texts(e, &TimerModel::textsChanged);
    rig.loc->setLang(Lang::fr);
    EXPECT_GE(texts.size(), 1);
    EXPECT_EQ(e->phaseTitle(), u"EN ATTENTE"_s);
    EXPECT_EQ(e->primaryLabel(), u"Tourne"_s);
    e->rollOrResume();
    EXPECT_EQ(e->phaseTitle(), u"ÇA TOURNE"_s);
    EXPECT_EQ(e->phaseSubtitle(), u"La caméra tourne. Reste dans le cadre."_s);
    EXPECT_EQ(e->primaryLabel(), u"Pause"_s);
    rig.loc->setLang(Lang::en);
    EXPECT_EQ(e->phaseTitle(), u"ROLLING"_s);
    for (int i = 0; i < 3; ++i) {
        completeTake();
        e->skipBreak();
    }
    completeTake();
    EXPECT_EQ(e->phaseTitle(), u"THAT'S A WRAP"_s);
    rig.loc->setLang(Lang::fr);
    EXPECT_EQ(e->phaseTitle(), u"DANS LA BOÎTE"_s);
    EXPECT_EQ(lockKindLabel(LockKind::password), u"Verrouiller par mot de passe"_s);
}

TEST_F(Timer, NotificationsInTheLanguageOfTheMoment) {
    completeTake();
    ASSERT_EQ(rig.notifier.posts.size(), 1);
    EXPECT_EQ(rig.notifier.posts[0].title, u"Cut! Take 1 printed."_s);
    EXPECT_EQ(rig.notifier.posts[0].body, u"Nice take. Reset for the next."_s);
    EXPECT_EQ(rig.sound.plays, 1);

    rig.loc->setLang(Lang::fr);
    rig.ticks(60); // the setup runs out
    ASSERT_EQ(rig.notifier.posts.size(), 2);
    EXPECT_EQ(rig.notifier.posts[1].title, u"On reprend à un."_s);
    EXPECT_EQ(rig.notifier.posts[1].body, u"En attente — tourne quand t'es prêt."_s);

    e->editSettings([](Settings& s) { s.soundOn = false; });
    for (int i = 0; i < 3; ++i) {
        completeTake();
        e->skipBreak();
    }
    EXPECT_EQ(rig.notifier.posts.last().title, u"Coupez ! Mivra 4 imprimée."_s);
    EXPECT_EQ(rig.notifier.posts.last().body, u"Une bobine complète — on emballe."_s);
    EXPECT_EQ(rig.sound.plays, 2); // silent since sound was switched off

    rig.loc->setLang(Lang::en);
    e->editSettings([](Settings& s) { s.reel = 5; });
    completeTake();
    EXPECT_EQ(rig.notifier.posts.last().body, u"A full reel — time to wrap."_s);
    EXPECT_EQ(rig.notifier.posts.last().title, u"Cut! Take 5 printed."_s);
}

TEST_F(Timer, WhoReDerivesBlockingAndWithWhichForce) {
    QSignalSpy spy(e, &TimerModel::blockingSynced);
    e->rollOrResume();
    EXPECT_EQ(syncs(spy), QList<bool>{false});
    e->pause();
    e->rollOrResume();
    rig.ticks(59); // ticks without a phase change
    EXPECT_EQ(syncs(spy), QList<bool>{});
    e->tick(); // the take ends
    EXPECT_EQ(syncs(spy), QList<bool>{false});
    e->skipBreak();
    EXPECT_EQ(syncs(spy), QList<bool>{false});
    e->editSettings([](Settings& s) { s.autoStartTakes = true; });
    EXPECT_EQ(syncs(spy), QList<bool>{true});
    completeTake();
    spy.clear();
    rig.ticks(60); // the setup ends and a take starts by itself
    EXPECT_EQ(syncs(spy), (QList<bool>{false}));
    EXPECT_EQ(e->phase(), Phase::rolling);
    e->resetToStandby();
    EXPECT_EQ(syncs(spy), QList<bool>{false});
    e->setLockups(e->lockups());
    e->addLockup(u"x"_s); // the new lockup, then choosing it
    EXPECT_EQ(syncs(spy), (QList<bool>{true, true, true}));
    e->setSchedules({});
    e->addSchedule();
    e->setPendingLock(LockKind::password);
    EXPECT_EQ(syncs(spy), QList<bool>{});
}

TEST_F(Timer, ChangesAreAnnouncedOneTurnLaterAndNeverToAGoneEngine) {
    int calls = 0;
    e->onChange = [&] { ++calls; };
    e->rollOrResume();
    EXPECT_EQ(calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    // Changes made before the announcement runs share it; nothing is left waiting after it.
    e->tick();
    e->pause();
    e->rollOrResume();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);

    // A change made by the listener itself is announced again, a turn later.
    e->onChange = [&] {
        if (++calls == 3) e->tick();
    };
    e->tick();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 4);

    e->tick();
    rig.engine.reset(); // gone before its queued announcement runs
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 4);
}

TEST_F(Timer, TheOneSecondTimerDrivesTheTick) {
    EXPECT_TRUE(e->timer().isActive());
    EXPECT_EQ(e->timer().interval(), 1000);
    e->rollOrResume();
    QSignalSpy spy(e, &TimerModel::remainingChanged);
    ASSERT_TRUE(spy.wait(3000));
    EXPECT_EQ(e->remaining(), 59);
}
