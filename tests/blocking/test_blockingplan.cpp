// SPDX-License-Identifier: GPL-3.0-or-later
// The union a locked take holds, asked of the policy directly: what the engine cannot be brought to
// show (duplicates in a lockup, identifiers that differ only in case, the order a held list keeps).
#include "blocking/blockingpolicy.h"
#include "fakes/fakes.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// "a b" is {"a", "b"}.
QStringList words(const char* text) {
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}
QList<BlockedApp> appsOf(const QStringList& ids) {
    QList<BlockedApp> apps;
    for (const QString& id : ids)
        apps.append(BlockedApp{{}, id, id});
    return apps;
}
QStringList idsOf(const QList<BlockedApp>& apps) {
    QStringList ids;
    for (const BlockedApp& a : apps)
        ids.append(a.bundleID);
    return ids;
}
} // namespace

TEST(BlockingPlan, ALockedTakeHoldsTheUnionAndSaysWhenItHoldsMoreThanIsAsked) {
    struct Case {
        const char* what;
        bool locked;
        // Held before, asked by the lockup, blocked by the plan (in order): sites, then applications.
        const char *heldSites, *askedSites, *sites;
        const char *heldApps, *askedApps, *apps;
        bool holding;
    };
    const QList<Case> cases = {
        {"open gate: the lockup as it stands", false, "old.example", "a.example a.example",
         "a.example a.example", "", "org.App", "org.App", false},
        {"a site twice in the lockup is blocked once", true, "", "a.example a.example", "a.example", "", "",
         "", false},
        {"what is added goes after what is held", true, "b.example", "a.example b.example",
         "b.example a.example", "", "", "", false},
        {"a site taken out is held", true, "a.example b.example", "b.example", "a.example b.example", "", "",
         "", true},
        {"a site taken out is held beside one named twice", true, "x.example", "a.example a.example",
         "x.example a.example", "", "", "", true},
        {"an application asked in another case is the same", true, "", "", "", "org.Slack.App",
         "org.slack.app", "org.Slack.App", false},
        {"an application taken out is held", true, "", "", "", "org.Slack.App org.other", "ORG.OTHER",
         "org.Slack.App org.other", true},
        {"an application twice in the lockup is held once", true, "", "", "", "", "org.other org.Other",
         "org.other", false},
    };
    FakeClock clock;
    for (const Case& c : cases) {
        Lockup lockup;
        lockup.sites = words(c.askedSites);
        lockup.apps = appsOf(words(c.askedApps));
        const TakeState take{Phase::rolling, 600, true, c.locked, false};
        const BlockingPlan plan = blockingPlanFor(
            Settings{}, {lockup}, take, HeldBlock{words(c.heldSites), appsOf(words(c.heldApps))}, clock);
        EXPECT_EQ(plan.sites, words(c.sites)) << c.what;
        EXPECT_EQ(idsOf(plan.apps), words(c.apps)) << c.what;
        EXPECT_EQ(plan.holding, c.holding) << c.what;
        if (c.locked) {
            EXPECT_EQ(plan.held.sites, plan.sites) << c.what;
            EXPECT_EQ(plan.held.apps, plan.apps) << c.what;
        } else {
            EXPECT_EQ(plan.held.sites, words(c.heldSites)) << c.what; // an open gate leaves it to the engine
        }
        EXPECT_EQ(plan.expiry, clock.now().addSecs(605)) << c.what;
    }
}
