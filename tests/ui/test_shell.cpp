// SPDX-License-Identifier: GPL-3.0-or-later
// The shell's decisions: the tray title and icon, the termination check for each gate state, the
// quit alerts and where the popover opens.
#include "fakes/enginerig.h"

#include "calendar/calendarservice.h"
#include "ui/mainview.h"
#include "ui/shell/alerts.h"
#include "ui/shell/popover.h"
#include "ui/shell/shell.h"
#include "ui/shell/status.h"
#include "ui/shell/termination.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

struct StatusTest : ::testing::Test {
    EngineRig rig;
    QString title() { return statusTitle(*rig.engine, rig.engine->calendar(), rig.clock.now()); }
};

TEST_F(StatusTest, TitleAndIconFollowTheState) {
    rig.start();
    EXPECT_EQ(title(), QString());
    rig.engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    ASSERT_TRUE(rig.engine->blockingActive());
    EXPECT_EQ(title(), u" ●"_s);
    EXPECT_EQ(statusSymbol(*rig.engine), u"movieclapper.fill"_s);
    rig.engine->editSettings([](Settings& s) { s.allowanceEnabled = false; });
    rig.engine->rollOrResume();
    EXPECT_EQ(title(), u" 25:00"_s);
    rig.ticks(25 * 60 - 545);
    EXPECT_EQ(title(), u" 9:05"_s);
    rig.engine->phaseEnded();
    ASSERT_EQ(rig.engine->phase(), Phase::setup);
    EXPECT_EQ(statusSymbol(*rig.engine), u"movieclapper"_s);
    rig.engine->skipBreak();
    rig.engine->setPendingLock(LockKind::timer);
    rig.engine->rollOrResume();
    EXPECT_EQ(statusSymbol(*rig.engine), u"lock.fill"_s);
    EXPECT_FALSE(statusIcon(u"lock.fill"_s).isNull());
}

TEST_F(StatusTest, MeetingJoinsTheTitle) {
    StoreEvent e;
    e.id = e.title = u"Quarterly planning with the team"_s, e.calendarId = u"work"_s;
    e.start = rig.clock.now().addSecs(300), e.end = e.start.addSecs(1800);
    rig.calendarStore.status = CalendarAccess::fullAccess;
    rig.calendarStore.calendarList = {StoreCalendar{u"work"_s, u"Work"_s, QColor(), u"Local"_s}};
    rig.calendarStore.eventList = {e};
    rig.start();
    rig.engine->calendar().refreshEvents();
    QCoreApplication::processEvents();
    ASSERT_TRUE(rig.engine->calendar().nextEvent());
    const UpcomingEvent m = *rig.engine->calendar().nextEvent();
    EXPECT_EQ(title(), u" "_s + m.statusLabel(true, 18, rig.clock.now()));
    rig.engine->rollOrResume();
    EXPECT_EQ(title(), u" 25:00  ·  "_s + m.statusLabel(false, 18, rig.clock.now()));
    rig.engine->editSettings([](Settings& s) { s.calendarEnabled = false; });
    EXPECT_EQ(title(), u" 25:00"_s);
}

struct QuitTest : StatusTest {
    std::unique_ptr<Shell> shell;
    int quits = 0;
    void startShell(LockKind lock) {
        rig.installHelper();
        rig.forgetTake();
        rig.start();
        rig.engine->setPassword(u"sesame"_s);
        rig.engine->setPendingLock(lock);
        rig.engine->rollOrResume();
        shell = std::make_unique<Shell>(*rig.engine, rig.clock);
        shell->quitHook = [this] { ++quits; };
    }
    Alert* alert() { return shell->alerts().currentAlert(); }
};

TEST_F(QuitTest, TerminationCheckForEachGateState) {
    struct Case {
        LockKind lock;
        QuitAnswer answer;
    };
    for (const Case c :
         {Case{LockKind::none, QuitAnswer::terminateNow}, Case{LockKind::timer, QuitAnswer::timerLockAlert},
          Case{LockKind::password, QuitAnswer::passwordAlert}}) {
        startShell(c.lock);
        ASSERT_TRUE(rig.engine->blockingActive());
        EXPECT_EQ(terminationCheck(*rig.engine), c.answer);
        // Only an open gate lets the block go.
        EXPECT_EQ(rig.lockupFile().contains("127.0.0.1"), c.lock != LockKind::none) << int(c.lock);
        if (c.lock != LockKind::timer) continue;
        shell->requestQuit();
        EXPECT_TRUE(alert()) << "the timer lock shows its alert and stays";
        EXPECT_EQ(quits, 0);
    }
}

TEST_F(QuitTest, PasswordLockQuitsOnlyWithTheRightPassword) {
    startShell(LockKind::password);
    shell->requestQuit();
    ASSERT_TRUE(alert() && alert()->hasField);
    alert()->choose(0, u"nope"_s);
    QCoreApplication::processEvents();
    ASSERT_TRUE(alert()) << "a wrong password is told";
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(rig.engine->gateLocked());

    shell->passwordQuit();
    alert()->choose(1, u"sesame"_s); // Cancel ignores the field
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 0);

    shell->passwordQuit();
    alert()->choose(0, u"sesame"_s);
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 1);
}

TEST(PopoverGeometry, StaysOnScreenNextToTheIcon) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(340, 500);
    struct Case {
        QRect anchor;
        QPoint topLeft;
    };
    const Case cases[] = {
        {QRect(1000, 0, 24, 24), QPoint(841, 28)},     // top panel: below, centred
        {QRect(1896, 0, 24, 24), QPoint(1580, 28)},    // top-right corner: pulled left
        {QRect(1000, 1056, 24, 24), QPoint(841, 552)}, // bottom panel: above
        {QRect(5, 500, 1, 1), QPoint(0, 0)},           // click near the left edge, mid-height: on screen
        {QRect(3000, 3000, 1, 1), QPoint(1580, 580)},  // off every screen: clamped
    };
    for (const Case& c : cases) {
        const QRect g = popoverGeometry(size, c.anchor, screen);
        EXPECT_TRUE(screen.contains(g)) << c.anchor.x() << "," << c.anchor.y();
        if (c.anchor.x() != 5) {
            EXPECT_EQ(g.topLeft(), c.topLeft) << c.anchor.x() << "," << c.anchor.y();
        }
    }
}

TEST(PopoverWindow, LetGoAfterStayingClosedAndBuiltAgainOnTheNextOpening) {
    EngineRig rig;
    rig.start();
    MainView view(*rig.engine, rig.engine->calendar(), rig.clock);
    Popover popover(view);
    popover.setReleaseDelay(0);
    const QRect anchor(1000, 0, 24, 24);
    popover.open(anchor);
    ASSERT_TRUE(popover.window() && popover.window()->rootObject());
    EXPECT_TRUE(popover.isShown());
    EXPECT_TRUE(view.active());

    popover.close();
    EXPECT_FALSE(view.active());
    ASSERT_TRUE(waitUntil([&] { return popover.window() == nullptr; }));
    EXPECT_FALSE(popover.isShown());

    popover.open(anchor);
    ASSERT_TRUE(popover.window() && popover.window()->rootObject());
    EXPECT_TRUE(popover.isShown());
    EXPECT_TRUE(view.active());
}

TEST(StatusIcon, ThemePathFromTheBuildTreeOrTheInstallationAndDrawnPixels) {
    QTemporaryDir dir;
    const QString build = dir.path() + u"/build"_s, prefix = dir.path() + u"/usr"_s;
    const QString file = u"/hicolor/symbolic/apps/app.oriflan.mivra-symbolic.svg"_s;
    for (const QString& icons : QStringList{build + u"/icons"_s, prefix + u"/share/icons"_s}) {
        QDir().mkpath(QFileInfo(icons + file).path());
        QFile f(icons + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDir().mkpath(prefix + u"/bin"_s);
    EXPECT_EQ(statusIconThemePath(build), build + u"/icons"_s);
    EXPECT_EQ(statusIconThemePath(prefix + u"/bin"_s), prefix + u"/share/icons"_s);
    EXPECT_EQ(statusIconThemePath(dir.path()), QString()) << "nowhere: the pixels alone";

    for (const QString& symbol : {u"movieclapper.fill"_s, u"movieclapper"_s, u"lock.fill"_s}) {
        const QList<QImage> images = statusIconImages(symbol);
        ASSERT_EQ(images.size(), 5);
        for (const QImage& image : images) {
            int drawn = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    drawn += qAlpha(image.pixel(x, y)) > 0;
            EXPECT_GT(drawn, image.width() * image.height() / 10) << symbol.toStdString() << image.width();
        }
    }
}
