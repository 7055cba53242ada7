// SPDX-License-Identifier: GPL-3.0-or-later
// The app monitor against a fake workspace: what it holds, what it never holds, when it sweeps,
// launches, stopping, and the forced check after an undelivered terminate request.
#include "blocking/appmonitor.h"
#include "fakes/fakes.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct AppMonitorTest : ::testing::Test {
    FakeWorkspace ws;
    AppMonitor monitor{ws};
    QStringList held;
    void SetUp() override {
        monitor.onHold = [this](const QString& name) { held.append(name); };
    }
};

} // namespace

// Held when known by any blocked identifier, whatever the case; never the desktop or this application,
// even under another name (the wrapper is blocked by its main identifier, but it is also Mivra).
TEST_F(AppMonitorTest, HoldsWhatTheLockupNamesButNeverTheDesktopOrItself) {
    ws.apps = {fakeApp(1, u"com.tinyspeck.slackmacgap"_s, u"Slack"_s),
               fakeApp(2, u"com.example.Notes"_s, u"Notes"_s),
               fakeApp(3, u"com.discordapp.Discord"_s, u"Discord"_s, {u"discord"_s}),
               fakeApp(4, u""_s, u"Nameless"_s), // no identifier at all: never held
               fakeApp(5, u"org.Example.Unnamed"_s),
               fakeApp(6, u"com.apple.dock"_s, u"Dock"_s),
               fakeApp(7, u"org.example.wrapper"_s, u"Wrapper"_s, {u"Mivra"_s})};
    monitor.start(blockedApps({u"Com.Tinyspeck.SlackMacGap"_s, u"DISCORD"_s, u""_s, u"org.example.unnamed"_s,
                               u"COM.APPLE.DOCK"_s, u"App.Oriflan.Mivra"_s, u"org.example.wrapper"_s}));
    monitor.sweep();
    ws.launch(fakeApp(8, u"com.apple.dock"_s));
    ws.launch(fakeApp(9, u"app.oriflan.mivra"_s));
    EXPECT_EQ(ws.terminated, (QList<qint64>{1, 3, 5}));
    // Without a name the application is reported by its lower-cased identifier.
    EXPECT_EQ(held, (QStringList{u"Slack"_s, u"Discord"_s, u"org.example.unnamed"_s}));
}

TEST_F(AppMonitorTest, StoppedOrGivenOnlyEmptyIdentifiersItHoldsNothing) {
    monitor.start({}); // never started: the workspace is left untouched
    EXPECT_FALSE(ws.watching);
    for (bool byStop : {true, false}) {
        SCOPED_TRACE(byStop ? "stop()" : "start() with only empty identifiers");
        ws.apps.clear();
        monitor.start(blockedApps({u"slack"_s}));
        ASSERT_TRUE(monitor.isWatching() && ws.watching);
        byStop ? monitor.stop() : monitor.start(blockedApps({u""_s, u""_s}));
        EXPECT_FALSE(monitor.isWatching());
        EXPECT_FALSE(ws.watching);
        EXPECT_TRUE(monitor.blocked().isEmpty());

        ws.apps = {fakeApp(31, u"slack"_s, u"Slack"_s)};
        ws.launch(fakeApp(32, u"slack"_s, u"Slack"_s));
        emit ws.launched(fakeApp(33, u"slack"_s)); // even if the workspace still announced one
        monitor.sweep();
        EXPECT_TRUE(ws.terminated.isEmpty());
        EXPECT_TRUE(held.isEmpty());
    }
    monitor.stop(); // stopping twice is harmless
}

// Held at every start and every sweep while it runs, and at once when launched while watching.
TEST_F(AppMonitorTest, HeldAtStartAtEachSweepAndAtLaunch) {
    ws.apps = {fakeApp(7, u"com.hnc.discord"_s, u"Discord"_s), fakeApp(8, u"slack"_s, u"Slack"_s)};
    ws.stubborn = {7}; // keeps running after each request
    monitor.start(blockedApps({u"com.hnc.Discord"_s, u"slack"_s}));
    EXPECT_EQ(held, (QStringList{u"Discord"_s, u"Slack"_s}));
    EXPECT_EQ(ws.terminated, (QList<qint64>{7, 8}));
    monitor.sweep();
    monitor.start(blockedApps({u"com.hnc.Discord"_s, u"slack"_s})); // sweeps at once, even with the same set
    EXPECT_EQ(held, (QStringList{u"Discord"_s, u"Slack"_s, u"Discord"_s, u"Discord"_s}));
    EXPECT_TRUE(ws.forced.isEmpty()); // delivered requests are asked again, never forced

    held.clear();
    ws.launch(fakeApp(21, u"com.example.editor"_s, u"Editor"_s));
    ws.launch(fakeApp(22, u""_s, u"Mystery"_s));
    ws.launch(fakeApp(23, u"com.slack.Slack"_s, u"Slack"_s, {u"Slack"_s}));
    EXPECT_EQ(ws.terminated.mid(ws.terminated.size() - 1), (QList<qint64>{23}));
    EXPECT_EQ(held, (QStringList{u"Slack"_s})); // the second start does not watch twice
}

TEST_F(AppMonitorTest, AnUndeliveredRequestIsForcedOneSecondLaterUnlessTheAppIsGone) {
    ws.apps = {fakeApp(41, u"stuck"_s, u"Stuck"_s), fakeApp(42, u"quitter"_s, u"Quitter"_s),
               fakeApp(43, u"stubborn"_s, u"Stubborn"_s), fakeApp(44, u"orphan"_s, u"Orphan"_s)};
    ws.undelivered = {41, 42, 44};
    ws.stubborn = {43};

    // A monitor that goes away before its check never forces anything.
    auto gone = std::make_unique<AppMonitor>(ws);
    gone->start(blockedApps({u"orphan"_s}));
    gone.reset();

    QElapsedTimer clock;
    clock.start();
    monitor.start(blockedApps({u"stuck"_s, u"quitter"_s, u"stubborn"_s}));
    EXPECT_EQ(held, (QStringList{u"Stuck"_s, u"Quitter"_s, u"Stubborn"_s})); // reported whatever the answer
    EXPECT_TRUE(ws.forced.isEmpty());
    ws.apps.removeIf([](const RunningApp& a) { return a.pid == 42; }); // quits by itself meanwhile

    QTRY_VERIFY_WITH_TIMEOUT(ws.forced.contains(41), 5000);
    EXPECT_GE(clock.elapsed(), 900);
    QCoreApplication::processEvents();
    EXPECT_EQ(ws.forced, (QList<qint64>{41}));
}

TEST_F(AppMonitorTest, EveryStartRestartsTheTwoSecondSweep) {
    ws.apps = {fakeApp(51, u"slack"_s, u"Slack"_s)};
    ws.stubborn = {51};
    monitor.start(blockedApps({u"slack"_s}));
    QTest::qWait(800);
    monitor.start(blockedApps({u"slack"_s}));
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    ASSERT_EQ(held.size(), 2);

    // Had the first period gone on, the timer would sweep some 1.2 s after the restart.
    QTRY_COMPARE_WITH_TIMEOUT(held.size(), 3, 6000);
    EXPECT_GE(sinceRestart.elapsed(), 1500);
    EXPECT_TRUE(monitor.isWatching());
}
