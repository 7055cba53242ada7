// SPDX-License-Identifier: GPL-3.0-or-later
// The main view rendered offscreen on a real engine over fakes: texts, visibility, enabled states,
// colours and sizes of each state, and the controls' effect on the engine.
#include "fakes/enginerig.h"
#include "quickrig.h"

#include "calendar/calendarservice.h"
#include "ui/mainview.h"
#include "ui/style.h"

#include <QFontMetricsF>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

struct MainViewTest : ::testing::Test {
    EngineRig rig;
    std::unique_ptr<MainView> view;
    QuickRig quick;
    int passwordQuits = 0, terminates = 0;

    void start(Lang lang = Lang::en) {
        rig.start(lang);
        view = std::make_unique<MainView>(*rig.engine, rig.engine->calendar(), rig.clock);
        view->onPasswordQuit = [this] { ++passwordQuits; };
        view->onTerminate = [this] { ++terminates; };
        view->setActive(true);
        ASSERT_TRUE(quick.load("import QtQuick\nimport Mivra\nMainView {}",
                               {{u"view"_s, QVariant::fromValue<QObject*>(view.get())}}))
            << quick.errors.toStdString();
    }
    QQuickItem* item(const char16_t* name) {
        QQuickItem* i = quick.find(QString::fromUtf16(name));
        EXPECT_TRUE(i) << QString::fromUtf16(name).toStdString();
        return i;
    }
    QString text(const char16_t* name) { return item(name)->property("text").toString(); }
    bool shown(const char16_t* name) { return item(name)->isVisible(); }
    void click(const char16_t* name) { quick.click(item(name)); }
    void today(qint64 takes, qint64 allowanceUsed = 0) {
        rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
        rig.defaults.setValue(u"mivra.takes"_s, takes);
        rig.defaults.setValue(u"mivra.allowanceUsed"_s, allowanceUsed);
    }
    void lockNextTake(LockKind kind) {
        if (kind == LockKind::password) rig.engine->setPassword(u"sesame"_s);
        click(kind == LockKind::timer ? u"gateChip1" : u"gateChip2");
        click(u"primaryButton");
    }
};

TEST_F(MainViewTest, EachStateShowsItsControlsAndQuitGoesByTheGate) {
    enum Step { primary, lockTimer, endPhase };
    struct Case {
        const char* name;
        QList<Step> steps;
        Phase phase;
        bool running, gatePicker, recMark, canCut, locked;
        QColor color;
        int terminates, passwordQuits;
    };
    const Case cases[] = {
        {"standby", {}, Phase::standby, false, true, false, false, false, Style::bleuVif, 1, 0},
        {"rolling", {primary}, Phase::rolling, true, false, true, true, false, Style::craie, 1, 0},
        {"paused", {primary, primary}, Phase::rolling, false, false, false, true, false, {}, 1, 0},
        {"setup", {primary, endPhase}, Phase::setup, true, false, false, true, false, Style::trace, 1, 0},
        {"locked to the timer",
         {lockTimer},
         Phase::rolling,
         true,
         false,
         true,
         false,
         true,
         Style::craie,
         0,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        passwordQuits = terminates = 0;
        start(Lang::fr);
        for (Step step : c.steps) {
            if (step == primary) click(u"primaryButton");
            if (step == lockTimer) lockNextTake(LockKind::timer);
            if (step == endPhase) rig.engine->phaseEnded();
        }
        EXPECT_EQ(rig.engine->phase(), c.phase);
        EXPECT_EQ(rig.engine->running(), c.running);
        EXPECT_EQ(shown(u"gatePicker"), c.gatePicker);
        EXPECT_EQ(shown(u"recMark"), c.recMark);
        EXPECT_EQ(item(u"secondaryButton")->isEnabled(), c.canCut);
        EXPECT_DOUBLE_EQ(item(u"secondaryButton")->opacity(), c.canCut ? 1.0 : 0.4);
        EXPECT_EQ(shown(u"phaseLock"), c.locked);
        EXPECT_EQ(rig.engine->gateLocked(), c.locked);
        EXPECT_FALSE(shown(u"passwordRow"));
        if (c.color.isValid()) {
            EXPECT_EQ(view->phaseColor(), c.color);
        }
        if (c.phase == Phase::setup) {
            EXPECT_EQ(view->primaryTextColor(), Style::nuit);
            click(u"secondaryButton");
            EXPECT_EQ(rig.engine->phase(), Phase::standby) << "the break is skipped";
        }
        click(u"quitButton");
        EXPECT_EQ(std::pair(terminates, passwordQuits), std::pair(c.terminates, c.passwordQuits));
    }
    EXPECT_EQ(quick.root->property("width").toInt(), 340);
    EXPECT_EQ(view->lockSymbol(), u"lock.fill"_s);
    EXPECT_EQ(item(u"progressBar")->width(), 0) << "a fresh take has no progress";
}

TEST_F(MainViewTest, PasswordLockedTakeCutsOnlyWithTheRightPassword) {
    start();
    lockNextTake(LockKind::password);
    EXPECT_EQ(view->lockSymbol(), u"lock.shield.fill"_s);
    click(u"secondaryButton");
    ASSERT_TRUE(shown(u"passwordRow"));
    EXPECT_EQ(rig.engine->phase(), Phase::rolling);

    for (const auto& [input, unlocks] : {std::pair(u"wrong"_s, false), std::pair(u"sesame"_s, true)}) {
        view->setPwInput(input);
        click(u"unlockButton");
        EXPECT_EQ(shown(u"passwordRow"), !unlocks);
        EXPECT_TRUE(unlocks || view->pwInput().isEmpty()) << "a wrong password is cleared";
        EXPECT_EQ(rig.engine->phase(), unlocks ? Phase::standby : Phase::rolling);
        EXPECT_EQ(rig.engine->gateLocked(), !unlocks);
    }
}

TEST_F(MainViewTest, ATickChangesTheClockWithoutTheRest) {
    start();
    click(u"primaryButton");
    QSignalSpy state(view.get(), &MainView::stateChanged);
    QSignalSpy tick(view.get(), &MainView::tickChanged);
    rig.ticks(1);
    EXPECT_EQ(tick.size(), 1);
    EXPECT_EQ(state.size(), 0);
    EXPECT_EQ(text(u"clock"), u"24:59"_s);
    EXPECT_GT(item(u"progressBar")->width(), 0);
}

TEST(ReelDots, FilledDotsOfAReel) {
    struct Case {
        qint64 takes, reel;
        int filled;
    };
    for (const Case c :
         {Case{0, 4, 0}, Case{4, 4, 4}, Case{5, 4, 1}, Case{8, 4, 4}, Case{3, 0, 1}, Case{0, 0, 0}})
        EXPECT_EQ(filledReelDots(c.takes, c.reel), c.filled) << c.takes << " of " << c.reel;
    EXPECT_DOUBLE_EQ(phaseProgress(1500, 1500), 0);
    EXPECT_DOUBLE_EQ(phaseProgress(0, 0), 1);
    EXPECT_DOUBLE_EQ(phaseProgress(2000, 1500), 0);
}

TEST_F(MainViewTest, DayStripCountsTheTakesAndTheReel) {
    struct Case {
        qint64 takes, reel;
        QVariantList dots;
    };
    const Case cases[] = {
        {0, 4, {false, false, false, false}}, {1, 0, {true}}, {5, 4, {true, false, false, false}}};
    for (const Case& c : cases) {
        today(c.takes);
        start();
        rig.engine->editSettings([&](Settings& s) { s.reel = c.reel; });
        EXPECT_EQ(text(u"takesCount"), QString::number(c.takes));
        EXPECT_EQ(view->reelDots(), c.dots) << c.takes;
    }
    const QString english = text(u"takesLabel");
    click(u"lang_fr");
    EXPECT_NE(text(u"takesLabel"), english) << "follows the language";
}

TEST_F(MainViewTest, AllowanceRow) {
    struct Case {
        qint64 used;
        const char16_t* text;
        bool enabled;
    };
    for (const Case c :
         {Case{510, u"Allowance · 1:30 left today", true}, Case{0, u"Allowance · 10:00 left today", true},
          Case{600, u"Allowance · 0:00 left today", false}}) {
        today(0, c.used);
        start();
        rig.engine->editSettings([](Settings& s) {
            s.allowanceEnabled = true;
            s.allowanceMin = 10;
        });
        EXPECT_TRUE(shown(u"allowanceRow"));
        EXPECT_EQ(text(u"allowanceText"), QString::fromUtf16(c.text));
        EXPECT_EQ(item(u"setButton")->isEnabled(), c.enabled);
        EXPECT_EQ(view->setButtonColor(), c.enabled ? Style::bleuVif : Style::traceDim);
    }
    click(u"setButton"); // nothing left: stays closed
    EXPECT_FALSE(rig.engine->openSetActive());
}

TEST_F(MainViewTest, CalendarCardStates) {
    rig.calendarStore.status = CalendarAccess::notDetermined;
    start();
    EXPECT_TRUE(shown(u"calendarCard"));
    EXPECT_EQ(view->calendarState(), u"connect"_s);
    click(u"connectRow");
    EXPECT_EQ(rig.calendarStore.accessRequests, 1);
    EXPECT_EQ(view->calendarState(), u"empty"_s);

    rig.calendarStore.calendarList = {StoreCalendar{u"work"_s, u"Work"_s, QColor(), u"Local"_s}};
    StoreEvent e;
    e.id = u"standup"_s, e.calendarId = u"work"_s, e.title = u"Standup"_s,
    e.url = QUrl(u"https://meet.example.com/abc"_s);
    e.start = rig.clock.now().addSecs(-60), e.end = rig.clock.now().addSecs(900);
    rig.calendarStore.eventList = {e};
    rig.calendarStore.touch();
    rig.engine->calendar().refreshEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(view->calendarState(), u"meeting"_s);
    EXPECT_EQ(text(u"meetingTitle"), u"Standup"_s);
    EXPECT_EQ(view->meetingColor(), Style::trace); // no calendar colour
    EXPECT_TRUE(shown(u"joinButton"));

    rig.calendarStore.status = CalendarAccess::denied;
    rig.engine->editSettings([](Settings& s) { s.calendarEnabled = false; });
    EXPECT_FALSE(shown(u"calendarCard"));
}

TEST_F(MainViewTest, PanelSwitcherTogglesAndSwitches) {
    start();
    click(u"panelButton_stats");
    EXPECT_TRUE(shown(u"sidePanel"));
    EXPECT_EQ(view->panelName(), u"stats"_s);
    EXPECT_EQ(item(u"sidePanel")->height(), 320);
    click(u"panelButton_lists");
    EXPECT_EQ(view->panelName(), u"lists"_s);
    // The frame now holds the lists panel itself.
    EXPECT_TRUE(quick.find(u"listsNew"_s));
    click(u"panelButton_lists");
    EXPECT_FALSE(shown(u"sidePanel"));
    EXPECT_EQ(view->panelName(), u"none"_s);
}

TEST_F(MainViewTest, LongFrenchRowsWrapInsteadOfLosingTheirEnd) {
    today(0, 150);
    rig.calendarStore.status = CalendarAccess::denied;
    start(Lang::fr);
    rig.engine->editSettings([](Settings& s) {
        s.allowanceEnabled = true;
        s.allowanceMin = 15;
        s.calendarEnabled = true;
    });
    rig.engine->openSet();
    QCoreApplication::processEvents();
    for (const char16_t* name : {u"allowanceText", u"calendarOffText"}) {
        QQuickItem* label = item(name);
        EXPECT_FALSE(label->property("truncated").toBool()) << QString::fromUtf16(name).toStdString();
        EXPECT_LE(label->property("contentWidth").toReal(), label->width() + 0.5);
    }
    EXPECT_TRUE(text(u"allowanceText").endsWith(u"de quota restant"_s));
    // The allowance text stays one line: the button takes a line of its own when both do not fit.
    EXPECT_EQ(item(u"allowanceText")->property("lineCount").toInt(), 1);
    EXPECT_GT(item(u"setButton")->mapToScene({0, 0}).y(), item(u"allowanceText")->mapToScene({0, 0}).y());

    // The cut row's placeholder is whole: the field takes the full width, its buttons go under it.
    rig.engine->closeSet();
    lockNextTake(LockKind::password);
    click(u"secondaryButton");
    ASSERT_TRUE(shown(u"passwordRow"));
    quick.window->grabWindow(); // lays the new row out
    auto* input = qvariant_cast<QQuickItem*>(item(u"passwordField")->property("input"));
    const QFontMetricsF metrics(input->property("font").value<QFont>());
    EXPECT_LE(metrics.horizontalAdvance(input->property("placeholderText").toString()),
              input->width() - 20 + 0.5);
    EXPECT_LE(item(u"unlockButton")->mapToScene({item(u"unlockButton")->width(), 0}).x(), 340 - 16 + 0.5);
    EXPECT_LE(item(u"setButton")->mapToScene({item(u"setButton")->width(), 0}).x(), 340 - 16 + 0.5);
}

TEST_F(MainViewTest, KeyboardReachesEveryControlInReadingOrderAndPressesIt) {
    auto names = &QuickRig::names;
    for (Lang lang : {Lang::en, Lang::fr}) {
        SCOPED_TRACE(lang == Lang::en ? "en" : "fr");
        start(lang);
        rig.engine->editSettings([](Settings& s) {
            s.allowanceEnabled = true;
            s.allowanceMin = 10;
        });
        view->togglePanel(u"lists"_s);
        QCoreApplication::processEvents();
        quick.window->grabWindow();
        auto* root = qobject_cast<QQuickItem*>(quick.root.get());
        const QList<QQuickItem*> stops = QuickRig::tabStops(root);
        const std::string order = QuickRig::readingOrderBreaks(stops, root);

        const QList<QQuickItem*> forward = quick.tabChain();
        EXPECT_EQ(names(forward), names(stops));
        EXPECT_EQ(order, "");
        EXPECT_NE(names(stops).find("lockupDelete, lockupName, sitesEditor"), std::string::npos);
        // Shift+Tab walks the same ring the other way.
        QList<QQuickItem*> backward = quick.tabChain(false);
        std::reverse(backward.begin(), backward.end());
        if (!backward.isEmpty() && backward.contains(forward.value(0)))
            std::rotate(backward.begin(), backward.begin() + backward.indexOf(forward.value(0)),
                        backward.end());
        EXPECT_EQ(names(backward), names(forward));

        // Return and Space press the focused button; only the keyboard's focus shows the ring.
        QQuickItem* primary = item(u"primaryButton");
        QQuickItem* ring = QuickRig::findIn(primary, u"focusRing"_s);
        ASSERT_TRUE(ring);
        click(u"primaryButton");
        EXPECT_FALSE(ring->isVisible()) << "a click shows no ring";
        EXPECT_TRUE(rig.engine->running());
        QTest::keyClick(quick.window.get(), Qt::Key_Tab);
        QTest::keyClick(quick.window.get(), Qt::Key_Backtab);
        EXPECT_EQ(quick.window->activeFocusItem(), primary);
        EXPECT_TRUE(ring->isVisible());
        QTest::keyClick(quick.window.get(), Qt::Key_Return);
        EXPECT_FALSE(rig.engine->running()) << "Return pauses";
        QTest::keyClick(quick.window.get(), Qt::Key_Space);
        EXPECT_TRUE(rig.engine->running()) << "Space resumes";
        view->togglePanel(u"lists"_s);
    }
}
