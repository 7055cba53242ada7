// SPDX-License-Identifier: GPL-3.0-or-later
// What the engine blocks and until when: engine states against the monitor, the lockup file and the
// signature.
#include "blocking/appmonitor.h"
#include "fakes/enginerig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Policy : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;
    void SetUp() override {
        rig.installHelper();
        e = &rig.start();
    }
    bool appsBlocked() { return !e->appMonitor().blocked().isEmpty(); }
    // The lockup file holds `l` (the first seed by default) until `expires`; "" with no expiry: nothing.
    void blocks(std::optional<qint64> expires, bool apps, const Lockup* l = nullptr, bool page = true) {
        QByteArray b;
        if (expires) {
            b = page ? "#redirect 127.0.0.1\n" : "#redirect 0.0.0.0\n";
            b += "#expires " + QByteArray::number(*expires) + '\n';
            for (const QString& s : (l ? *l : e->lockups()[0]).sites)
                b += s.toUtf8() + '\n';
        }
        EXPECT_EQ(rig.lockupFile(), b);
        EXPECT_EQ(appsBlocked(), apps);
    }
    qint64 end() { return rig.clock.now().toSecsSinceEpoch() + 1505; } // a take's end plus five seconds
    // Marks the file so a later write shows.
    void mark() { writeFile(rig.root().lockupFile(), "untouched"); }
};
const std::nullopt_t none = std::nullopt;
} // namespace

TEST_F(Policy, ATakeBlocksTheLockupInEffectUntilItsEndPlusFiveSeconds) {
    blocks(none, false);
    e->rollOrResume();
    blocks(end(), true);
    EXPECT_EQ(e->appMonitor().blocked(), (QSet<QString>{u"com.tinyspeck.slackmacgap"_s, u"com.hnc.discord"_s,
                                                        u"com.apple.mobilesms"_s}));

    // A take that runs as the clock does keeps the expiry written at its start.
    mark();
    rig.liveTicks(100);
    EXPECT_EQ(rig.lockupFile(), "untouched");
    EXPECT_TRUE(appsBlocked());
    e->cutTake(std::nullopt); // the end of the take lifts everything
    blocks(none, false);
}

TEST_F(Policy, TheWrittenExpiryAlwaysCoversTheTake) {
    const auto written = [&] {
        const QByteArray f = rig.lockupFile();
        const qsizetype at = f.indexOf("#expires ");
        return at < 0 ? qint64(0) : f.mid(at + 9, f.indexOf('\n', at) - at - 9).toLongLong();
    };
    const auto now = [&] { return rig.clock.now().toSecsSinceEpoch(); };
    e->rollOrResume();
    struct Step {
        const char* what;
        std::function<void()> act;
        int ticks;           // ticks after the act, each a second later
        bool atOnce = false; // covered already before the next tick
    };
    const QList<Step> steps = {
        {"paused past its planned end", [&] { e->pause(); }, 1600},
        {"resumed", [&] { e->rollOrResume(); }, 40},
        {"suspended for an hour (the countdown stood still)", [&] { rig.clock.advance(3600); }, 5},
        {"suspended for an hour, and the session says it woke",
         [&] {
             rig.clock.advance(3600);
             rig.sleepWatch.wake();
         },
         5, true},
        {"the clock put back a day", [&] { rig.clock.advance(-86400); }, 5},
        {"paused with seconds left",
         [&] {
             rig.liveTicks(int(e->remaining()) - 3);
             e->pause();
         },
         100},
    };
    for (const Step& s : steps) {
        s.act();
        if (s.atOnce) {
            EXPECT_GE(written(), now() + e->remaining()) << s.what << " before any tick";
        }
        for (int i = 0; i < s.ticks; ++i) {
            rig.liveTicks(1);
            ASSERT_EQ(e->phase(), Phase::rolling) << s.what;
            // Never in the past, and never far beyond the take's end plus the pause margin.
            EXPECT_GE(written(), now() + e->remaining()) << s.what << " +" << i;
            EXPECT_LE(written(), now() + e->remaining() + 5 + 30 + 30) << s.what << " +" << i;
        }
    }
    EXPECT_TRUE(appsBlocked());
    e->rollOrResume();
    while (e->phase() == Phase::rolling)
        rig.liveTicks(1);
    blocks(none, false);
}

TEST_F(Policy, TheLockupInEffectIsTheChosenOneElseTheFirst) {
    const Lockup second = e->lockups()[1];
    e->selectLockup(second.id);
    e->rollOrResume();
    blocks(end(), false, &second);        // the second seed has no apps
    e->selectLockup(QUuid::createUuid()); // names no lockup
    blocks(end(), true);
    e->setLockups({});
    blocks(none, false);
    e->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    blocks(none, false); // nothing to block all day either
}

TEST_F(Policy, WebsitesAndAppsAreSwitchedSeparately) {
    QList<Lockup> list = e->lockups();
    list[0].sites.clear();
    e->setLockups(list);
    e->rollOrResume();
    blocks(none, true); // no sites: no redirect line either
    list[0].sites = {u"a.com"_s};
    list[0].apps.clear();
    e->setLockups(list);
    blocks(end(), false);
    list[0].apps = {BlockedApp{QUuid::createUuid(), u"Chat"_s, u"org.chat.App"_s}};
    e->setLockups(list);
    e->editSettings([](Settings& s) { s.blockWebsites = false; });
    blocks(none, true);
    e->editSettings([](Settings& s) {
        s.blockApps = false;
        s.blockPage = false;
        s.blockWebsites = true;
    });
    blocks(end(), false, nullptr, false);
}

TEST_F(Policy, BreaksBlockOnlyWhenAsked) {
    e->editSettings([](Settings& s) { s.focusMin = 0; });
    e->rollOrResume();
    e->tick();
    ASSERT_EQ(e->phase(), Phase::setup);
    blocks(none, false);
    e->editSettings([](Settings& s) { s.blockDuringBreaks = true; });
    blocks(end() - 1200, true); // the five-minute setup's end
    e->skipBreak();
    blocks(none, false);
}

TEST_F(Policy, AllowanceModeClosesTheSetUntilMidnightOutsideTakes) {
    e->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    const qint64 midnight = utcTime(2026, 3, 3, 0, 0).toSecsSinceEpoch();
    blocks(midnight, true);
    e->openSet();
    blocks(none, false);
    e->rollOrResume(); // a take closes the set again, with the take's own end
    blocks(end(), true);
    e->cutTake(std::nullopt);
    blocks(none, false); // back in standby, the set is still open
    e->closeSet();
    blocks(midnight, true);
}

TEST_F(Policy, UnforcedSyncsWriteOnlyWhenTheOutcomeChanges) {
    e->rollOrResume();
    mark();
    // Same sites, same redirect, an expiry in the same 30-second bucket: nothing is written.
    const qint64 expiry = end();
    const qint64 sameBucket = (expiry / 30) * 30 + 29 - expiry;
    rig.clock.advance(sameBucket);
    e->syncBlocking(false);
    EXPECT_EQ(rig.lockupFile(), "untouched");
    e->syncBlocking(true); // forced: written whatever the signature
    blocks(expiry + sameBucket, true);
    mark();
    rig.clock.advance(1); // the next bucket
    e->syncBlocking(false);
    EXPECT_NE(rig.lockupFile(), "untouched");
}

TEST_F(Policy, WithoutTheHelperNothingIsWrittenAndTheOutcomeIsNotRetried) {
    QFile::remove(rig.root().versionFile());
    e->blocker().refresh();
    mark();
    e->rollOrResume();
    EXPECT_EQ(rig.lockupFile(), "untouched");
    EXPECT_TRUE(appsBlocked()); // applications are still held
    EXPECT_TRUE(e->lastSig());

    rig.installHelper();
    e->blocker().refresh();
    mark();
    e->syncBlocking(false); // same outcome as before: not repeated
    EXPECT_EQ(rig.lockupFile(), "untouched");
    e->syncBlocking(true); // what a successful install asks for
    blocks(end(), true);
}

TEST_F(Policy, HeldApplicationsAreAnnouncedWithoutSound) {
    QStringList held;
    e->onAppHeld = [&](const QString& name) { held << name; };
    rig.workspace.apps = {fakeApp(4242, u"com.hnc.discord"_s, u"Discord"_s)};
    e->rollOrResume();
    ASSERT_FALSE(rig.notifier.posts.isEmpty());
    EXPECT_EQ(rig.notifier.posts.last().title, u"Held Discord."_s);
    EXPECT_EQ(rig.notifier.posts.last().body, u"Set's closed — stay in the shot."_s);
    EXPECT_EQ(rig.sound.plays, 0);
    EXPECT_EQ(held, QStringList{u"Discord"_s});
}
