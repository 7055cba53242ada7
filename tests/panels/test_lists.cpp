#include "ui/panels/listspanel.h"
#include "ui/panels/runningapps.h"

#include "panelrig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
RunningApp app(qint64 pid, const QString& id, const QString& name, bool regular = true) {
    RunningApp a = fakeApp(pid, id, name);
    a.regular = regular;
    return a;
}

struct ListsPanelTest : ::testing::Test {
    EngineRig rig;
    std::unique_ptr<ListsPanelModel> panel;
    void open(Lang lang = Lang::en) {
        rig.start(lang);
        panel = std::make_unique<ListsPanelModel>(*rig.engine, rig.workspace);
    }
};
} // namespace

TEST(RunningAppCandidates, RegularAppsOnceWithoutOurselvesOrTheBlockedSorted) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    Lockup lockup;
    lockup.apps = blockedApps({u"org.mozilla.firefox"_s});
    const QList<RunningApp> running{
        app(10, u"org.gnome.Nautilus"_s, u"files"_s),
        app(11, u"app.oriflan.mivra"_s, u"Mivra"_s),
        app(12, u"Org.Mozilla.Firefox"_s, u"Firefox"_s),
        app(13, u"com.slack.Slack"_s, u"Slack"_s),
        app(14, u"com.slack.Slack"_s, u"Slack"_s),
        app(15, u"tracker-miner"_s, u"Tracker"_s, false),
        app(16, u""_s, u"Nameless id"_s),
        app(17, u"org.example.noname"_s, u""_s),
        app(18, u"org.gnome.Calculator"_s, u"Calculator"_s),
        app(19, u"élan"_s, u"Élan"_s),
    };
    QStringList names;
    for (const BlockedApp& c : runningAppCandidates(running, lockup)) names.append(c.name);
    EXPECT_EQ(names, (QStringList{u"Calculator"_s, u"Élan"_s, u"files"_s, u"Slack"_s}));
    EXPECT_TRUE(runningAppCandidates({}, lockup).isEmpty());
    QLocale::setDefault(before);
}

TEST_F(ListsPanelTest, EmptyStateThenNewLockupInTheInterfaceLanguage) {
    rig.writeData(u"lockups.json"_s, "[]");
    open(Lang::fr);
    EXPECT_FALSE(panel->hasLockups());
    EXPECT_EQ(panel->currentIndex(), -1);
    EXPECT_EQ(panel->texts()[u"empty"_s], u"Aucun périmètre pour l'instant."_s);
    panel->setName(u"ignored"_s); // nothing shown: nothing to edit
    panel->newLockup();
    ASSERT_TRUE(panel->hasLockups());
    EXPECT_EQ(panel->name(), u"Nouveau périmètre"_s);
    EXPECT_EQ(rig.engine->settings().activeLockupID, rig.engine->lockups().first().id);
    panel->deleteShown();
    EXPECT_FALSE(panel->hasLockups());
}

TEST_F(ListsPanelTest, EditsWriteTheShownLockupAtOnce) {
    open();
    ASSERT_EQ(rig.engine->lockups().size(), 2);
    panel->selectLockup(1);
    EXPECT_EQ(panel->currentIndex(), 1);
    const QUuid shownID = rig.engine->lockups()[1].id;
    StoreWatch lockups(rig, u"lockups.json"_s);

    int syncs = 0;
    QObject::connect(rig.engine.get(), &TimerModel::blockingSynced, [&](bool force) { syncs += force; });
    for (const QString& partial : {u"D"_s, u"De"_s, u"Dee"_s, u""_s}) {
        panel->setName(partial);
        EXPECT_TRUE(lockups.rewritten()) << partial.toStdString();
        EXPECT_EQ(rig.engine->lockups()[1].name, partial) << "stored as typed, empty allowed";
    }
    EXPECT_EQ(syncs, 4);

    panel->setSitesText(u"HTTPS://News.Example.com/path?q=1\n   \n*.video.example\nnews.example.com\n"_s);
    EXPECT_EQ(rig.engine->lockups()[1].sites,
              (QStringList{u"news.example.com"_s, u"video.example"_s, u"news.example.com"_s}));
    EXPECT_EQ(panel->sitesText(), u"news.example.com\nvideo.example\nnews.example.com"_s);
    EXPECT_EQ(rig.engine->lockups()[1].id, shownID);

    panel->selectLockup(0);
    EXPECT_EQ(rig.engine->lockupInEffect()->id, rig.engine->lockups()[0].id);
    panel->deleteShown();
    EXPECT_EQ(rig.engine->lockups().size(), 1);
    EXPECT_EQ(panel->name(), u""_s) << "the next lockup in effect is shown";
    EXPECT_EQ(panel->currentIndex(), 0);
}

TEST_F(ListsPanelTest, RunningAppsComeAndGoWithTheChips) {
    rig.writeData(u"lockups.json"_s, "[]");
    open();
    panel->newLockup();
    rig.workspace.apps = {app(1, u"org.gnome.Calculator"_s, u"Calculator"_s), app(2, u"org.gnome.Calculator"_s, u"Calculator"_s),
                          app(3, u"app.oriflan.mivra"_s, u"Mivra"_s), app(4, u"evolution-alarm-notify"_s, u"Alarms"_s, false)};
    panel->refreshCandidates();
    EXPECT_EQ(panel->candidateNames(), QStringList{u"Calculator"_s});
    panel->addCandidate(0);
    ASSERT_EQ(panel->apps().size(), 1);
    EXPECT_TRUE(panel->candidateNames().isEmpty()) << "once added it is no longer offered";
    panel->addCandidate(0); // a stale menu entry adds nothing
    EXPECT_EQ(rig.engine->lockups()[0].apps.size(), 1);

    const QString chip = panel->apps().first().toMap()[u"id"_s].toString();
    panel->removeApp(chip);
    EXPECT_TRUE(panel->apps().isEmpty());
    panel->refreshCandidates();
    EXPECT_EQ(panel->candidateNames(), QStringList{u"Calculator"_s});
}
