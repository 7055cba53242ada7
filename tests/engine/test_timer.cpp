// SPDX-License-Identifier: GPL-3.0-or-later
// The phase machine on a fake clock: reels, take lengths, breaks, the texts, notifications, and
// which operations re-derive blocking.
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
        e->editSettings([](Settings& s) { s.focusMin = 1, s.shortMin = 1, s.longMin = 2; });
    }
    // Runs the current take to its end.
    void completeTake() {
        if (e->phase() == Phase::standby) e->rollOrResume();
        ASSERT_EQ(e->phase(), Phase::rolling);
        while (e->phase() == Phase::rolling)
            e->tick();
    }
    QList<bool> syncs(QSignalSpy& spy) {
        QList<bool> out;
        for (const auto& call : spy)
            out << call[0].toBool();
        spy.clear();
        return out;
    }
};
} // namespace

TEST_F(Timer, EveryReelthTakeEndsInAWrapAndABelowOneReelCountsAsOne) {
    const QList<QPair<qint64, QList<Phase>>> cases = {
        {4,
         {Phase::setup, Phase::setup, Phase::setup, Phase::wrap, Phase::setup, Phase::setup, Phase::setup,
          Phase::wrap, Phase::setup}},
        {0, {Phase::wrap, Phase::wrap}},
    };
    for (const auto& [reel, expected] : cases) {
        e->editSettings([&](Settings& s) { s.reel = reel; });
        QList<Phase> breaks;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            completeTake();
            breaks << e->phase();
            EXPECT_EQ(e->remaining(), e->phase() == Phase::wrap ? 120 : 60);
            e->skipBreak();
        }
        EXPECT_EQ(breaks, expected) << reel;
    }
    EXPECT_EQ(e->takesToday(), 11);
    EXPECT_EQ(e->focusedSecondsToday(), 11 * 60);
}

TEST_F(Timer, TakeLengthsAndWhatTheyCredit) {
    e->editSettings([](Settings& s) { s.focusMin = 0; });
    e->rollOrResume();
    EXPECT_EQ(e->remaining(), 0);
    e->tick(); // a take of length zero ends at the first tick and is counted
    EXPECT_EQ(e->phase(), Phase::setup);
    EXPECT_EQ(e->takesToday(), 1);
    EXPECT_EQ(e->focusedSecondsToday(), 0);

    // A scheduled take runs for its own length and credits the configured one.
    e->editSettings([](Settings& s) { s.focusMin = 25; });
    e->skipBreak();
    EXPECT_EQ(e->remaining(), 1500); // idle: a changed length shows at once
    e->startTake(50, false);
    rig.ticks(2999);
    EXPECT_EQ(e->phase(), Phase::rolling);
    e->pause();
    e->editSettings([](Settings& s) { s.focusMin = 45; });
    EXPECT_EQ(e->remaining(), 1); // not while a take is paused
    e->rollOrResume();
    e->tick();
    EXPECT_EQ(e->focusedSecondsToday(), 45 * 60);
}

TEST_F(Timer, BreaksFollowTheAutoStartSettingsAndOnlyBreaksCanBeSkipped) {
    e->skipBreak();
    EXPECT_EQ(e->phase(), Phase::standby);
    e->editSettings([](Settings& s) { s.autoStartBreaks = false; });
    e->rollOrResume();
    e->skipBreak();
    EXPECT_EQ(e->phase(), Phase::rolling);
    completeTake();
    EXPECT_EQ(e->phase(), Phase::setup);
    rig.ticks(5);
    EXPECT_EQ(e->remaining(), 60); // waiting at full length
    EXPECT_EQ(e->primaryLabel(), u"Resume"_s);
    e->rollOrResume();
    EXPECT_EQ(e->primaryLabel(), u"Hold"_s);
    rig.ticks(60);
    EXPECT_EQ(e->phase(), Phase::standby); // announced, not rolling on
    EXPECT_FALSE(e->running());
    EXPECT_EQ(e->primaryLabel(), u"Roll"_s);

    e->editSettings([](Settings& s) { s.autoStartTakes = true, s.autoStartBreaks = true; });
    completeTake();
    EXPECT_TRUE(e->running());
    rig.notifier.posts.clear();
    e->skipBreak(); // a skip announces nothing and rolls on straight away
    EXPECT_TRUE(rig.notifier.posts.isEmpty());
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_TRUE(e->running());
}

TEST_F(Timer, ClockAndFocusedTexts) {
    for (const auto& [minutes, text] : {std::pair{90, u"90:00"_s}, std::pair{0, u"0:00"_s}}) {
        e->editSettings([&](Settings& s) { s.focusMin = minutes; });
        EXPECT_EQ(e->clockText(), text);
    }
    for (const auto& [seconds, text] : {std::pair{0, u"0 min"_s},
                                        {59, u"0 min"_s},
                                        {3599, u"59 min"_s},
                                        {3600, u"1h 00m"_s},
                                        {65 * 60, u"1h 05m"_s},
                                        {36061, u"10h 01m"_s}}) {
        rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
        rig.defaults.setValue(u"mivra.focused"_s, seconds);
        EXPECT_EQ(rig.start().focusedText(), text) << seconds;
    }
}

TEST_F(Timer, TextsAndNotificationsInTheLanguageOfTheMoment) {
    QSignalSpy texts(e, &TimerModel::textsChanged);
    rig.loc->setLang(Lang::fr);
    EXPECT_GE(texts.size(), 1);
    e->rollOrResume();
    EXPECT_EQ(e->phaseTitle(), u"ÇA TOURNE"_s);
    for (int i = 0; i < 3; ++i) {
        completeTake();
        e->skipBreak();
    }
    e->editSettings([](Settings& s) { s.soundOn = false; });
    rig.loc->setLang(Lang::en);
    completeTake();
    ASSERT_EQ(rig.notifier.posts.size(), 4);
    EXPECT_EQ(rig.notifier.posts[2].title, u"Coupez ! Mivra 3 imprimée."_s);
    EXPECT_EQ(rig.notifier.posts[3].title, u"Cut! Take 4 printed."_s);
    EXPECT_EQ(rig.notifier.posts[3].body, u"A full reel — time to wrap."_s);
    EXPECT_EQ(rig.sound.plays, 3); // silent since sound was switched off
    rig.ticks(120);                // the wrap runs out
    EXPECT_EQ(rig.notifier.posts.last().title, u"Back to one."_s);
}

TEST_F(Timer, WhoReDerivesBlockingAndWithWhichForce) {
    QSignalSpy spy(e, &TimerModel::blockingSynced);
    e->rollOrResume();
    EXPECT_EQ(syncs(spy), QList<bool>{false});
    e->pause();
    e->rollOrResume();
    rig.liveTicks(59); // ticks without a phase change
    EXPECT_EQ(syncs(spy), QList<bool>{});
    e->tick(); // the take ends
    e->skipBreak();
    EXPECT_EQ(syncs(spy), (QList<bool>{false, false}));
    e->editSettings([](Settings& s) { s.autoStartTakes = true; });
    EXPECT_EQ(syncs(spy), QList<bool>{true});
    completeTake();
    spy.clear();
    rig.ticks(60); // the setup ends and a take starts by itself
    e->resetToStandby();
    EXPECT_EQ(syncs(spy), (QList<bool>{false, false}));
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
    e->onChange = [&] {
        if (++calls == 2) e->tick(); // a change made by the listener is announced again
    };
    e->rollOrResume();
    e->tick();
    EXPECT_EQ(calls, 0);
    QCoreApplication::processEvents(); // changes made before the announcement share it
    EXPECT_EQ(calls, 1);
    e->pause();
    e->rollOrResume();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 3);
    e->tick();
    rig.engine.reset(); // gone before its queued announcement runs
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 3);
}

TEST_F(Timer, TheOneSecondTimerDrivesTheTick) {
    EXPECT_EQ(e->timer().interval(), 1000);
    e->rollOrResume();
    QSignalSpy spy(e, &TimerModel::remainingChanged);
    ASSERT_TRUE(spy.wait(3000));
    EXPECT_EQ(e->remaining(), 59);
}
