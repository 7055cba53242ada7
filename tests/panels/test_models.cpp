// SPDX-License-Identifier: GPL-3.0-or-later
// The side panels' models on a real engine over fakes: each control writes its field through the engine.
#include "ui/panels/listspanel.h"
#include "ui/panels/runningapps.h"
#include "ui/panels/schedulepanel.h"
#include "ui/panels/settingspanel.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "fakes/enginerig.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

RunningApp app(qint64 pid, const QString& id, const QString& name, bool regular = true) {
    RunningApp a = fakeApp(pid, id, name);
    a.regular = regular;
    return a;
}

struct PanelModels : ::testing::Test {
    EngineRig rig;
    FakeLoginItem login;
    std::unique_ptr<SettingsPanelModel> settings;
    std::unique_ptr<ListsPanelModel> lists;
    std::unique_ptr<SchedulePanelModel> schedule;

    void open(Lang lang = Lang::en) {
        rig.start(lang);
        settings = std::make_unique<SettingsPanelModel>(*rig.engine, &login);
        lists = std::make_unique<ListsPanelModel>(*rig.engine, rig.workspace);
        schedule = std::make_unique<SchedulePanelModel>(*rig.engine, nullptr);
    }
    QJsonObject stored() { return QJsonDocument::fromJson(rig.readData(u"settings.json"_s)).object(); }
    QVariantMap card(int i) { return schedule->cards().value(i).toMap(); }
    QString id(int i) { return card(i)[u"id"_s].toString(); }
    const ScheduleBlock& block(int i) { return rig.engine->schedules()[i]; }
};
} // namespace

TEST_F(PanelModels, SteppersMoveByTheirStepAndStopAtTheEnds) {
    struct Case {
        bool scheduled;
        const char* field;
        int stored, direction, presses, expected;
    };
    const Case cases[] = {
        {false, "focusMin", 25, +1, 1, 30},   {false, "focusMin", 25, -1, 1, 20},
        {false, "focusMin", 27, +1, 1, 32},   {false, "focusMin", 178, +1, 3, 180},
        {false, "focusMin", 4, -1, 2, 1},     {false, "shortMin", 60, +1, 1, 60},
        {false, "longMin", 88, +1, 1, 90},    {false, "reel", 1, -1, 1, 1},
        {false, "reel", 12, +1, 1, 12},       {false, "meetingWarnMinutes", 30, +1, 1, 30},
        {false, "allowanceMin", 5, -1, 1, 5}, {false, "allowanceMin", 241, -1, 1, 236},
        {true, "startMinute", 7, +1, 1, 12},  {true, "startMinute", 12, -1, 3, 0},
        {true, "startHour", 23, +1, 1, 23},   {true, "durationMin", 238, +1, 1, 240},
    };
    for (const Case& c : cases) {
        const QString field = QString::fromUtf8(c.field);
        const QString file = c.scheduled ? u"schedules.json"_s : u"settings.json"_s;
        SCOPED_TRACE(c.field + std::to_string(c.stored));
        QJsonObject record = c.scheduled
                                 ? QJsonDocument::fromJson(R"({"id":"6F1C2B8E-0000-4000-8000-000000000001",
            "enabled":true,"weekdays":[2],"startHour":9,"startMinute":0,"durationMin":25,"lockGate":false,"lockKind":"timer"})")
                                       .object()
                                 : QJsonObject();
        record[field] = c.stored;
        // The running engine goes first: it would write its own lists over the file on the way out.
        settings.reset(), lists.reset(), schedule.reset(), rig.engine.reset();
        rig.writeData(file, c.scheduled ? QJsonDocument(QJsonArray{record}).toJson()
                                        : QJsonDocument(record).toJson());
        open();
        auto shown = [&] {
            Stepper* row = c.scheduled ? card(0)[u"steppers"_s].toMap()[field].value<Stepper*>()
                                       : settings->stepper(field);
            return row ? row->value() : -1;
        };
        EXPECT_EQ(shown(), c.stored) << "kept until the stepper is used";
        for (int i = 0; i < c.presses; ++i)
            c.scheduled ? schedule->step(id(0), field, c.direction) : settings->step(field, c.direction);
        EXPECT_EQ(shown(), c.expected);
        const QJsonDocument written = QJsonDocument::fromJson(rig.readData(file));
        EXPECT_EQ((c.scheduled ? written.array()[0].toObject() : written.object())[field].toInteger(),
                  c.expected);
    }
}

TEST_F(PanelModels, EveryChangeIsStoredAndRunsTheSettingsPathAndThePasswordSavesAndClears) {
    open();
    QSignalSpy synced(rig.engine.get(), &TimerModel::blockingSynced);
    settings->step(u"focusMin"_s, +1);
    EXPECT_EQ(rig.engine->remaining(), 30 * 60) << "standby shows the new take length";
    for (const char* field : {"soundOn", "autoStartTakes", "blockApps", "blockDuringBreaks",
                              "allowanceEnabled", "meetingWarnEnabled"}) {
        const QString f = QString::fromUtf8(field);
        const bool before = settings->toggle(f)->isOn();
        settings->setToggle(f, !before);
        EXPECT_EQ(settings->toggle(f)->isOn(), !before) << field;
        EXPECT_EQ(stored()[f].toBool(), !before) << field;
    }
    EXPECT_EQ(synced.count(), 7);
    for (const QList<QVariant>& args : synced)
        EXPECT_TRUE(args[0].toBool()) << "settings force a sync";
    EXPECT_NE(SettingsPanelModel::appVersion(), u"—"_s) << "the build gives a version";
    rig.start();
    EXPECT_EQ(rig.engine->settings().focusMin, 30) << "survives a restart";

    open();
    EXPECT_FALSE(settings->canSavePassword());
    settings->savePassword();
    EXPECT_FALSE(settings->passwordSet()) << "an empty field saves nothing";
    settings->setPassword(u"cut!"_s);
    EXPECT_TRUE(settings->canSavePassword());
    settings->savePassword();
    EXPECT_TRUE(settings->password().isEmpty());
    EXPECT_TRUE(settings->passwordSet());
    EXPECT_EQ(stored()[u"passwordHash"_s].toString(), TimerModel::hashPassword(u"cut!"_s));
    settings->clearPassword();
    EXPECT_FALSE(settings->passwordSet());
    EXPECT_FALSE(stored().contains(u"passwordHash"_s) && !stored()[u"passwordHash"_s].isNull());
}

TEST_F(PanelModels, BlockWebsitesInstallsTheHelperOnceAndRemovalErrorsAreKept) {
    open();
    rig.runner.handler = [this](const QString&) {
        QThread::msleep(50);
        rig.installHelper();
        return PrivilegedResult{true, {}, 0, {}};
    };
    for (bool on : {false, true, false, true})
        settings->setToggle(u"blockWebsites"_s, on);
    ASSERT_TRUE(waitUntil([&] { return settings->helperInstalled(); }));
    EXPECT_EQ(rig.runner.scripts.size(), 1) << "one administrator prompt";
    for (bool on : {false, true})
        settings->setToggle(u"blockWebsites"_s, on);
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(rig.runner.scripts.size(), 1) << "installed: nothing is asked";
    // A packaged helper whose lockup file is not this user's yet still takes the one authorisation.
    QFile::remove(rig.root().lockupFile());
    rig.engine->blocker().refresh();
    for (bool on : {false, true})
        settings->setToggle(u"blockWebsites"_s, on);
    EXPECT_TRUE(waitUntil([&] { return rig.runner.scripts.size() == 2; }, 5000));
    // The handover ends (its handler still reads this test) before the runner is given another.
    EXPECT_TRUE(waitUntil([&] { return rig.engine->blocker().lockupWritable(); }));

    rig.runner.handler = [](const QString&) { return PrivilegedResult{true, {}, 1, "rm: cannot remove\n"}; };
    settings->removeHelper();
    ASSERT_TRUE(waitUntil([&] { return !settings->helperError().isEmpty(); }));
    EXPECT_TRUE(settings->helperInstalled());
}

TEST_F(PanelModels, CalendarSectionFollowsAccessWithoutReopening) {
    rig.calendarStore.calendarList = {{u"work"_s, u"Work"_s, QColor(u"#4E80C4"_s), u"Google"_s},
                                      {u"home"_s, u"Home"_s, QColor(), u"Local"_s}};
    open();
    EXPECT_EQ(settings->calendarState(), u"connect"_s);
    EXPECT_TRUE(settings->calendars().isEmpty());
    QSignalSpy redraw(settings.get(), &SettingsPanelModel::changed);
    settings->connectCalendar();
    EXPECT_EQ(rig.calendarStore.accessRequests, 1);
    ASSERT_TRUE(waitUntil([&] { return settings->calendarState() == u"connected"_s; }));
    EXPECT_GE(redraw.count(), 1);
    ASSERT_EQ(settings->calendars().size(), 2);

    settings->setCalendarWatched(u"work"_s, false);
    settings->setCalendarWatched(u"work"_s, false);
    EXPECT_EQ(rig.engine->settings().mutedCalendarIDs, QStringList{u"work"_s}) << "a set: no duplicates";
    settings->setCalendarWatched(u"home"_s, false);
    for (const QVariant& v : settings->calendars())
        EXPECT_FALSE(v.toMap()[u"watched"_s].toBool());
    EXPECT_EQ(settings->calendars().size(), 2) << "all off, the list stays";
    settings->setCalendarWatched(u"work"_s, true);
    EXPECT_EQ(rig.engine->settings().mutedCalendarIDs, QStringList{u"home"_s});
    EXPECT_EQ(rig.engine->calendar().muted(), QSet<QString>{u"home"_s});

    rig.calendarStore.status = CalendarAccess::denied;
    open();
    EXPECT_EQ(settings->calendarState(), u"denied"_s);
    settings->openCalendarSettings();
    EXPECT_EQ(rig.calendarStore.settingsOpened, 1);
}

TEST_F(PanelModels, LoginSwitchShowsTheRealStateAfterwards) {
    login.enabled = true;
    open();
    EXPECT_TRUE(settings->launchAtLogin());
    QList<bool> shown;
    QObject::connect(settings.get(), &SettingsPanelModel::launchAtLoginChanged,
                     [&] { shown.append(settings->launchAtLogin()); });
    settings->setLaunchAtLogin(false);
    EXPECT_FALSE(login.enabled);
    EXPECT_EQ(shown.last(), false);

    login.refuse = true;
    login.reason = u"no autostart folder"_s;
    shown.clear();
    testing::internal::CaptureStderr();
    settings->setLaunchAtLogin(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mivra login item error: no autostart folder\n");
    EXPECT_EQ(shown, (QList<bool>{true, false})) << "shown on, then flipped back";
    EXPECT_FALSE(settings->launchAtLogin());

    SettingsPanelModel withoutItem(*rig.engine, nullptr);
    withoutItem.setLaunchAtLogin(true);
    EXPECT_FALSE(withoutItem.launchAtLogin());
}

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
    for (const BlockedApp& c : runningAppCandidates(running, lockup))
        names.append(c.name);
    EXPECT_EQ(names, (QStringList{u"Calculator"_s, u"Élan"_s, u"files"_s, u"Slack"_s}));
    EXPECT_TRUE(runningAppCandidates({}, lockup).isEmpty());
    QLocale::setDefault(before);
}

TEST_F(PanelModels, EmptyStateThenNewLockupInTheInterfaceLanguage) {
    rig.writeData(u"lockups.json"_s, "[]");
    open(Lang::fr);
    EXPECT_FALSE(lists->hasLockups());
    EXPECT_EQ(lists->currentIndex(), -1);
    lists->setName(u"ignored"_s); // nothing shown: nothing to edit
    lists->newLockup();
    ASSERT_TRUE(lists->hasLockups());
    EXPECT_EQ(lists->name(), u"Nouveau périmètre"_s);
    EXPECT_EQ(rig.engine->settings().activeLockupID, rig.engine->lockups().first().id);

    rig.workspace.apps = {app(1, u"org.gnome.Calculator"_s, u"Calculator"_s)};
    lists->refreshCandidates();
    lists->addCandidate(0);
    ASSERT_EQ(lists->apps().size(), 1);
    EXPECT_TRUE(lists->candidateNames().isEmpty()) << "once added it is no longer offered";
    lists->addCandidate(0); // a stale menu entry adds nothing
    EXPECT_EQ(rig.engine->lockups()[0].apps.size(), 1);
    lists->removeApp(lists->apps().first().toMap()[u"id"_s].toString());
    EXPECT_TRUE(lists->apps().isEmpty());
    lists->refreshCandidates();
    EXPECT_EQ(lists->candidateNames(), QStringList{u"Calculator"_s});

    lists->deleteShown();
    EXPECT_FALSE(lists->hasLockups());
}

TEST_F(PanelModels, EditsWriteTheShownLockupAtOnce) {
    open();
    ASSERT_EQ(rig.engine->lockups().size(), 2);
    lists->selectLockup(1);
    EXPECT_EQ(lists->currentIndex(), 1);
    const QUuid shownID = rig.engine->lockups()[1].id;
    QByteArray last = rig.readData(u"lockups.json"_s);
    int syncs = 0;
    QObject::connect(rig.engine.get(), &TimerModel::blockingSynced, [&](bool force) { syncs += force; });
    for (const QString& partial : {u"D"_s, u"De"_s, u"Dee"_s, u""_s}) {
        lists->setName(partial);
        const QByteArray now = rig.readData(u"lockups.json"_s);
        EXPECT_NE(std::exchange(last, now), now) << "rewritten: " << partial.toStdString();
        EXPECT_EQ(rig.engine->lockups()[1].name, partial) << "stored as typed, empty allowed";
    }
    EXPECT_EQ(syncs, 4);

    lists->setSitesText(
        u"HTTPS://News.Example.com/path?q=1\n   \n*.video.example\nnews.example.com\nno such.site\n"_s);
    EXPECT_EQ(rig.engine->lockups()[1].sites, (QStringList{u"news.example.com"_s, u"video.example"_s,
                                                           u"www.video.example"_s, u"news.example.com"_s}));
    EXPECT_EQ(lists->sitesText(), u"news.example.com\nvideo.example\nwww.video.example\nnews.example.com"_s);
    // What names no host is not kept, and the panel says so in one line.
    EXPECT_EQ(lists->rejectedText(),
              u"Not blocked \u2014 \u201Cno such.site\u201D: a site name has no spaces"_s);
    lists->setSitesText(u"news.example.com"_s);
    EXPECT_EQ(lists->rejectedText(), QString());
    EXPECT_EQ(rig.engine->lockups()[1].id, shownID);

    // The line speaks of the lockup it was typed into: it goes as soon as another one is shown,
    // however that one was chosen, and does not come back with the first.
    const QString bad = u"news.example.com\nno such.site"_s;
    lists->setSitesText(bad);
    ASSERT_NE(lists->rejectedText(), QString());
    lists->selectLockup(0);
    EXPECT_EQ(lists->rejectedText(), QString()) << "another lockup picked in the panel";
    lists->selectLockup(1);
    EXPECT_EQ(lists->rejectedText(), QString()) << "back on the lockup it was typed into";
    lists->setSitesText(bad);
    rig.engine->selectLockup(rig.engine->lockups()[0].id);
    EXPECT_EQ(lists->rejectedText(), QString()) << "another lockup chosen in the popover or over the bus";

    lists->selectLockup(0);
    EXPECT_EQ(rig.engine->lockupInEffect()->id, rig.engine->lockups()[0].id);
    lists->setSitesText(bad);
    lists->deleteShown();
    EXPECT_EQ(lists->rejectedText(), QString()) << "the lockup it was typed into deleted";
    EXPECT_EQ(rig.engine->lockups().size(), 1);
    EXPECT_EQ(lists->name(), u""_s) << "the next lockup in effect is shown";
    EXPECT_EQ(lists->currentIndex(), 0);
}

TEST_F(PanelModels, AddedCardsToggleWeekdaysSortedAndDeleteById) {
    open();
    for (int i = 0; i < 3; ++i)
        schedule->add();
    QString on;
    for (const QVariant& d : card(0)[u"days"_s].toList())
        on += d.toMap()[u"on"_s].toBool() ? u'x' : u'.';
    EXPECT_EQ(on, u".xxxxx."_s) << "Monday to Friday, Sunday first";
    for (int day : {1, 4, 7, 8})
        schedule->toggleWeekday(id(0), day);
    EXPECT_EQ(block(0).weekdays, (QList<int>{1, 2, 3, 5, 6, 7}));

    const QString first = id(0), middle = id(1), last = id(2);
    schedule->setEnabled(last, false);
    schedule->remove(middle);
    ASSERT_EQ(schedule->cards().size(), 2);
    EXPECT_EQ((QStringList{id(0), id(1)}), (QStringList{first, last}));
    EXPECT_FALSE(card(1)[u"enabled"_s].toBool());
    schedule->setEnabled(middle, true); // gone: draws and edits nothing
    schedule->remove(u"not an id"_s);
    EXPECT_EQ(schedule->cards().size(), 2);
    rig.start();
    ASSERT_EQ(rig.engine->schedules().size(), 2);
    EXPECT_EQ(rig.engine->schedules()[0].weekdays, (QList<int>{1, 2, 3, 5, 6, 7})) << "stored";
}

TEST_F(PanelModels, LockupPickerWithAbsentAndDanglingLockups) {
    open();
    const QList<Lockup> lockups = rig.engine->lockups();
    ASSERT_EQ(lockups.size(), 2);
    QList<ScheduleBlock> blocks(3);
    for (ScheduleBlock& b : blocks)
        b.id = QUuid::createUuid();
    blocks[1].lockupID = lockups[1].id;
    blocks[2].lockupID = QUuid::createUuid(); // a deleted lockup
    rig.engine->setSchedules(blocks);

    EXPECT_EQ(card(0)[u"lockupIndex"_s].toInt(), 0) << "none: the first is shown";
    EXPECT_FALSE(block(0).lockupID.has_value()) << "…and nothing is stored";
    EXPECT_EQ(card(1)[u"lockupIndex"_s].toInt(), 1);
    EXPECT_EQ(card(2)[u"lockupIndex"_s].toInt(), -1) << "dangling: no entry selected";
    schedule->chooseLockup(id(2), 0);
    EXPECT_EQ(block(2).lockupID, lockups[0].id);

    rig.engine->setLockups({});
    EXPECT_EQ(card(0)[u"lockupIndex"_s].toInt(), -1) << "no lockups: nothing shown";
    schedule->chooseLockup(id(0), 0);
    EXPECT_FALSE(block(0).lockupID.has_value());
}

TEST_F(PanelModels, LockPickerKeepsTheKindThroughOpen) {
    open();
    schedule->add();
    EXPECT_EQ(card(0)[u"lockIndex"_s].toInt(), 1);
    struct Case {
        int choice;
        bool gate;
        LockKind kind;
    };
    const Case cases[] = {{2, true, LockKind::password},
                          {0, false, LockKind::password},
                          {2, true, LockKind::password},
                          {1, true, LockKind::timer}};
    for (const Case& c : cases) {
        schedule->chooseLock(id(0), c.choice); // password is accepted without a gate password
        EXPECT_EQ(block(0).lockGate, c.gate) << c.choice;
        EXPECT_EQ(block(0).lockKind, c.kind) << c.choice;
        EXPECT_EQ(card(0)[u"lockIndex"_s].toInt(), c.choice);
    }
}
