#include "ui/panels/settingspanel.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "panelrig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct SettingsPanelTest : ::testing::Test {
    EngineRig rig;
    FakeLoginItem login;
    std::unique_ptr<SettingsPanelModel> panel;

    void open(Lang lang = Lang::en) {
        rig.start(lang);
        panel = std::make_unique<SettingsPanelModel>(*rig.engine, &login);
    }
    QJsonObject stored() { return QJsonDocument::fromJson(rig.readData(u"settings.json"_s)).object(); }
    QVariantMap stepper(const QString& field) { return panel->steppers()[field].toMap(); }
    qint64 value(const QString& field) { return stepper(field)[u"value"_s].toLongLong(); }
};
} // namespace

TEST_F(SettingsPanelTest, SteppersMoveByTheirStepAndStopAtTheEnds) {
    open();
    struct Case {
        const char* field;
        int stored;
        int direction, presses;
        int expected;
    };
    const Case cases[] = {
        {"focusMin", 25, +1, 1, 30},     {"focusMin", 25, -1, 1, 20},   {"focusMin", 27, +1, 1, 32},
        {"focusMin", 178, +1, 3, 180},   {"focusMin", 4, -1, 2, 1},     {"shortMin", 60, +1, 1, 60},
        {"longMin", 88, +1, 1, 90},      {"reel", 1, -1, 1, 1},         {"reel", 12, +1, 1, 12},
        {"meetingWarnMinutes", 30, +1, 1, 30}, {"allowanceMin", 5, -1, 1, 5}, {"allowanceMin", 241, -1, 1, 236},
    };
    for (const Case& c : cases) {
        const QString field = QString::fromUtf8(c.field);
        SCOPED_TRACE(c.field + std::to_string(c.stored));
        rig.writeData(u"settings.json"_s, QStringLiteral(R"({"%1": %2})").arg(field).arg(c.stored).toUtf8());
        open();
        for (int i = 0; i < c.presses; ++i) panel->step(field, c.direction);
        EXPECT_EQ(value(field), c.expected);
        EXPECT_EQ(stored()[field].toInteger(), c.expected);
    }
}

TEST_F(SettingsPanelTest, EveryChangeIsStoredAndRunsTheSettingsPath) {
    open();
    QSignalSpy synced(rig.engine.get(), &TimerModel::blockingSynced);
    panel->step(u"focusMin"_s, +1);
    EXPECT_EQ(rig.engine->remaining(), 30 * 60) << "standby shows the new take length";
    for (const char* field : {"soundOn", "autoStartTakes", "blockApps", "blockDuringBreaks", "allowanceEnabled", "meetingWarnEnabled"}) {
        const QString f = QString::fromUtf8(field);
        const bool before = panel->toggles()[f].toBool();
        panel->setToggle(f, !before);
        EXPECT_EQ(panel->toggles()[f].toBool(), !before) << field;
        EXPECT_EQ(stored()[f].toBool(), !before) << field;
    }
    EXPECT_EQ(synced.count(), 7);
    for (const QList<QVariant>& args : synced) EXPECT_TRUE(args[0].toBool()) << "settings force a sync";
    EXPECT_EQ(stepper(u"reel"_s)[u"text"_s], u"4"_s) << "no suffix, bare number";
    EXPECT_EQ(stepper(u"focusMin"_s)[u"text"_s], u"30 min"_s);
    rig.start();
    EXPECT_EQ(rig.engine->settings().focusMin, 30) << "survives a restart";
}

TEST_F(SettingsPanelTest, BlockWebsitesInstallsTheHelperOnceWhenMissing) {
    open();
    panel->setToggle(u"blockWebsites"_s, false);
    rig.runner.handler = [this](const QString&) {
        QThread::msleep(50);
        rig.installHelper();
        return PrivilegedResult{true, {}, 0, {}};
    };
    panel->setToggle(u"blockWebsites"_s, true);
    panel->setToggle(u"blockWebsites"_s, false);
    panel->setToggle(u"blockWebsites"_s, true);
    ASSERT_TRUE(waitUntil([&] { return panel->helperInstalled(); }));
    EXPECT_EQ(rig.runner.scripts.size(), 1) << "one administrator prompt";
    EXPECT_EQ(panel->texts()[u"helperAction"_s], u"Remove"_s);

    panel->setToggle(u"blockWebsites"_s, false);
    panel->setToggle(u"blockWebsites"_s, true);
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(rig.runner.scripts.size(), 1) << "installed: nothing is asked";
}

TEST_F(SettingsPanelTest, HelperErrorIsShownAndRemoveRunsTheRemoval) {
    rig.installHelper();
    open(Lang::fr);
    EXPECT_EQ(panel->texts()[u"helperStatus"_s], u"Assistant de blocage installé"_s);
    rig.runner.handler = [](const QString&) { return PrivilegedResult{true, {}, 1, "rm: cannot remove\n"}; };
    panel->removeHelper();
    ASSERT_TRUE(waitUntil([&] { return !panel->helperError().isEmpty(); }));
    EXPECT_TRUE(panel->helperInstalled());
}

TEST_F(SettingsPanelTest, PasswordSaveAndClear) {
    open();
    QVariantMap t = panel->texts();
    EXPECT_EQ(t[u"passwordPlaceholder"_s], u"Set a password"_s);
    EXPECT_FALSE(panel->canSavePassword());
    panel->savePassword();
    EXPECT_FALSE(panel->passwordSet()) << "an empty field saves nothing";

    panel->setPassword(u"cut!"_s);
    EXPECT_TRUE(panel->canSavePassword());
    panel->savePassword();
    EXPECT_TRUE(panel->password().isEmpty());
    EXPECT_TRUE(panel->passwordSet());
    t = panel->texts();
    EXPECT_EQ(t[u"passwordPlaceholder"_s], u"Change password"_s);
    EXPECT_EQ(t[u"passwordStatus"_s], u"Password set ✓"_s);
    EXPECT_EQ(stored()[u"passwordHash"_s].toString(), TimerModel::hashPassword(u"cut!"_s));

    panel->clearPassword();
    EXPECT_FALSE(panel->passwordSet());
    EXPECT_FALSE(stored().contains(u"passwordHash"_s) && !stored()[u"passwordHash"_s].isNull());
    EXPECT_EQ(panel->texts()[u"passwordStatus"_s], u"No password — only timer-locks available"_s);
}

TEST_F(SettingsPanelTest, CalendarSectionFollowsAccessWithoutReopening) {
    rig.calendarStore.calendarList = {{u"work"_s, u"Work"_s, QColor(u"#4E80C4"_s), u"Google"_s},
                                      {u"home"_s, u"Home"_s, QColor(), u"Local"_s}};
    open();
    EXPECT_EQ(panel->calendarState(), u"connect"_s);
    EXPECT_TRUE(panel->calendars().isEmpty());
    QSignalSpy redraw(panel.get(), &SettingsPanelModel::changed);
    panel->connectCalendar();
    EXPECT_EQ(rig.calendarStore.accessRequests, 1);
    ASSERT_TRUE(waitUntil([&] { return panel->calendarState() == u"connected"_s; }));
    EXPECT_GE(redraw.count(), 1);
    ASSERT_EQ(panel->calendars().size(), 2);

    auto watched = [&] {
        QStringList on;
        for (const QVariant& v : panel->calendars())
            if (v.toMap()[u"watched"_s].toBool()) on.append(v.toMap()[u"id"_s].toString());
        return on;
    };
    panel->setCalendarWatched(u"work"_s, false);
    panel->setCalendarWatched(u"work"_s, false);
    EXPECT_EQ(rig.engine->settings().mutedCalendarIDs, QStringList{u"work"_s}) << "a set: no duplicates";
    panel->setCalendarWatched(u"home"_s, false);
    EXPECT_TRUE(watched().isEmpty());
    EXPECT_EQ(panel->calendars().size(), 2) << "all off, the list stays";
    panel->setCalendarWatched(u"work"_s, true);
    EXPECT_EQ(rig.engine->settings().mutedCalendarIDs, QStringList{u"home"_s});
    EXPECT_EQ(rig.engine->calendar().muted(), QSet<QString>{u"home"_s});

    rig.calendarStore.status = 2;
    open();
    EXPECT_EQ(panel->calendarState(), u"denied"_s);
    panel->openCalendarSettings();
    EXPECT_EQ(rig.calendarStore.settingsOpened, 1);
}

TEST_F(SettingsPanelTest, LoginSwitchShowsTheRealStateAfterwards) {
    login.enabled = true;
    open();
    EXPECT_TRUE(panel->launchAtLogin());
    QList<bool> shown;
    QObject::connect(panel.get(), &SettingsPanelModel::launchAtLoginChanged, [&] { shown.append(panel->launchAtLogin()); });
    panel->setLaunchAtLogin(false);
    EXPECT_FALSE(login.enabled);
    EXPECT_EQ(shown.last(), false);

    login.refuse = true;
    login.reason = u"no autostart folder"_s;
    shown.clear();
    testing::internal::CaptureStderr();
    panel->setLaunchAtLogin(true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, (QList<bool>{true, false})) << "shown on, then flipped back";
    EXPECT_FALSE(panel->launchAtLogin());
    EXPECT_EQ(err, "Mivra login item error: no autostart folder\n");

    SettingsPanelModel withoutItem(*rig.engine, nullptr);
    withoutItem.setLaunchAtLogin(true);
    EXPECT_FALSE(withoutItem.launchAtLogin());
}

TEST_F(SettingsPanelTest, FooterNamesTheBuildVersionInBothLanguages) {
    open();
    const QString en = panel->texts()[u"footerVersion"_s].toString();
    EXPECT_TRUE(en.startsWith(u"Mivra "_s + SettingsPanelModel::appVersion())) << en.toStdString();
    EXPECT_TRUE(en.endsWith(u" — made in the oriflan"_s));
    EXPECT_NE(SettingsPanelModel::appVersion(), u"—"_s) << "the build gives a version";
    rig.loc->setLang(Lang::fr);
    EXPECT_TRUE(panel->texts()[u"footerVersion"_s].toString().endsWith(u" — fait dans l'oriflan"_s));
    EXPECT_EQ(stepper(u"focusMin"_s)[u"label"_s], u"Durée de la mivra"_s);
}
