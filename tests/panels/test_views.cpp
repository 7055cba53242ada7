// The four side panels rendered offscreen in the side-panel frame, in both languages, on a real
// engine over fakes: what they show, what their controls write, and that no text is cut off.
#include "fakes/enginerig.h"
#include "panelrig.h"
#include "quickrig.h"

#include "calendar/calendarservice.h"
#include "ui/panels/panelkit.h"

#include <QDir>
#include <QImage>
#include <QTest>
#include <QQuickItem>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct PanelView {
    EngineRig rig;
    FakeLoginItem login;
    QuickRig quick;
    QQuickItem* frame = nullptr;

    PanelView() {
        PanelSeams::shared() = {&login, &rig.workspace};
        rig.clock.set(QDateTime(QDate(2026, 3, 18), QTime(16, 0), QTimeZone::utc()));
    }
    ~PanelView() { PanelSeams::shared() = {}; }

    bool open(const QString& panel, Lang lang) {
        if (!rig.engine || rig.loc->lang() != lang) rig.start(lang);
        frame = quick.load(R"(import QtQuick
import Mivra
SidePanel { width: 340; height: 320 })",
                           {{u"engine"_s, QVariant::fromValue<QObject*>(rig.engine.get())},
                            {u"calendar"_s, QVariant::fromValue<QObject*>(&rig.engine->calendar())},
                            {u"source"_s, QString(u"panels/"_s + panel + u".qml"_s)}});
        settle();
        return frame && content();
    }
    QQuickItem* content() const {
        QQuickItem* loader = quick.find(u"sidePanelLoader"_s);
        return loader && !loader->childItems().isEmpty() ? loader->childItems().first() : nullptr;
    }
    QQuickItem* find(const QString& name) const { return QuickRig::findIn(content(), name); }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            if (frame) frame->polish();
            if (quick.window) quick.window->grabWindow(); // lays out and renders once
        }
    }

    static bool shown(QQuickItem* item, QQuickItem* root) {
        for (QQuickItem* i = item; i; i = i->parentItem()) {
            if (!i->isVisible() || i->opacity() == 0) return false;
            if (i == root) return true;
        }
        return true;
    }
    // Every visible text that is cut off or runs past the panel's edge.
    QStringList overflowing() const {
        QStringList out;
        QQuickItem* root = content();
        const qreal width = root->width();
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
            const QString text = item->property("text").toString();
            if (item->inherits("QQuickText") && shown(item, root) && !text.trimmed().isEmpty()) {
                const QRectF r = item->mapRectToItem(root, QRectF(0, 0, item->width(), item->height()));
                const bool wraps = item->property("wrapMode").toInt() != 0;
                if (item->property("truncated").toBool() || r.right() > width + 0.5 || r.left() < -0.5 ||
                    (!wraps && item->implicitWidth() > item->width() + 0.5))
                    out.append(text);
            }
            for (QQuickItem* child : item->childItems()) walk(child);
        };
        walk(root);
        return out;
    }
    // Writes the frame as the user first sees it and the whole panel, when asked to.
    void shoot(const QString& name) {
        const QString dir = qEnvironmentVariable("MIVRA_SCREENSHOTS");
        if (dir.isEmpty()) return;
        QDir().mkpath(dir);
        QTest::qWait(250); // switches finish sliding
        quick.window->grabWindow().save(dir + u'/' + name + u".png"_s);
        const qreal full = content()->height() + 28;
        frame->setHeight(full);
        quick.window->resize(340, int(full));
        settle();
        quick.window->grabWindow().save(dir + u'/' + name + u"-full.png"_s);
        frame->setHeight(320);
        quick.window->resize(340, 320);
        settle();
    }
    void click(const QString& name) {
        QQuickItem* item = find(name);
        ASSERT_TRUE(item) << name.toStdString();
        QMetaObject::invokeMethod(item, "clicked");
        settle();
    }
};

void fillForShots(EngineRig& rig) {
    rig.writeData(u"history.json"_s, R"([{"date":"2026-03-09","takes":2,"focusedSeconds":3000},
        {"date":"2026-03-10","takes":5,"focusedSeconds":7500},{"date":"2026-03-13","takes":1,"focusedSeconds":1500},
        {"date":"2026-03-16","takes":4,"focusedSeconds":6000},{"date":"2026-03-17","takes":6,"focusedSeconds":9000},
        {"date":"2026-03-18","takes":3,"focusedSeconds":4500}])");
    rig.calendarStore.status = 3;
    rig.calendarStore.calendarList = {{u"work"_s, u"Work"_s, QColor(u"#4E80C4"_s), u"Google"_s},
                                      {u"home"_s, u"Home"_s, QColor(), u"On this computer"_s}};
    rig.workspace.apps = {};
}
} // namespace

class PanelsRendered : public ::testing::TestWithParam<std::tuple<const char*, Lang>> {};

TEST_P(PanelsRendered, EveryTextFitsTheFrame) {
    const auto [panel, lang] = GetParam();
    PanelView v;
    fillForShots(v.rig);
    v.rig.start(lang);
    v.rig.engine->addSchedule();
    v.rig.engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
    v.rig.engine->setPassword(u"x"_s);
    ASSERT_TRUE(v.open(QString::fromUtf8(panel), lang)) << v.quick.errors.toStdString();
    EXPECT_EQ(v.overflowing(), QStringList()) << panel;
    v.shoot(QString::fromUtf8(panel) + (lang == Lang::fr ? u"-fr"_s : u"-en"_s));
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, PanelsRendered,
                         ::testing::Combine(::testing::Values("SettingsPanel", "ListsPanel", "SchedulePanel", "StatsPanel"),
                                            ::testing::Values(Lang::en, Lang::fr)));

TEST(PanelViews, EmptyStatesInBothLanguages) {
    for (Lang lang : {Lang::en, Lang::fr}) {
        PanelView v;
        v.rig.writeData(u"lockups.json"_s, "[]");
        v.rig.start(lang);
        const QString suffix = lang == Lang::fr ? u"-fr"_s : u"-en"_s;
        for (const char* panel : {"ListsPanel", "SchedulePanel", "StatsPanel"}) {
            ASSERT_TRUE(v.open(QString::fromUtf8(panel), lang)) << v.quick.errors.toStdString();
            EXPECT_EQ(v.overflowing(), QStringList()) << panel;
            v.shoot(QString::fromUtf8(panel) + u"-empty"_s + suffix);
        }
        ASSERT_TRUE(v.open(u"StatsPanel"_s, lang));
        EXPECT_TRUE(v.find(u"statsEmpty"_s)->isVisible());
        EXPECT_FALSE(v.find(u"statsFull"_s)->isVisible());
    }
}

TEST(PanelViews, ControlsWriteThroughTheEngine) {
    PanelView v;
    v.rig.writeData(u"lockups.json"_s, "[]");
    ASSERT_TRUE(v.open(u"ListsPanel"_s, Lang::en));
    EXPECT_TRUE(v.find(u"listsEmpty"_s)->isVisible());
    v.click(u"listsNew"_s);
    EXPECT_EQ(v.rig.engine->lockups().size(), 1);
    EXPECT_TRUE(v.find(u"listsEditor"_s)->isVisible());
    EXPECT_FALSE(v.find(u"listsEmpty"_s)->isVisible());

    ASSERT_TRUE(v.open(u"SchedulePanel"_s, Lang::fr));
    EXPECT_TRUE(v.find(u"scheduleEmpty"_s)->isVisible());
    v.click(u"scheduleAdd"_s);
    ASSERT_EQ(v.rig.engine->schedules().size(), 1);
    EXPECT_FALSE(v.find(u"scheduleEmpty"_s)->isVisible());
    v.click(u"weekday_1"_s);
    EXPECT_EQ(v.rig.engine->schedules()[0].weekdays, (QList<int>{1, 2, 3, 4, 5, 6}));
    QQuickItem* minute = v.find(u"scheduleStepper_startMinute"_s);
    ASSERT_TRUE(minute);
    QMetaObject::invokeMethod(QuickRig::findIn(minute, u"stepperUp"_s), "clicked");
    EXPECT_EQ(v.rig.engine->schedules()[0].startMinute, 5);
    EXPECT_EQ(v.find(u"scheduleTime"_s)->property("text").toString(), u"09:05"_s);
    v.click(u"scheduleDelete"_s);
    EXPECT_TRUE(v.rig.engine->schedules().isEmpty());

    ASSERT_TRUE(v.open(u"SettingsPanel"_s, Lang::en));
    QQuickItem* take = v.find(u"stepper_focusMin"_s);
    ASSERT_TRUE(take);
    QMetaObject::invokeMethod(QuickRig::findIn(take, u"stepperDown"_s), "clicked");
    EXPECT_EQ(v.rig.engine->settings().focusMin, 20);
    EXPECT_EQ(QuickRig::findIn(take, u"stepperValue"_s)->property("text").toString(), u"20 min"_s);
    QQuickItem* allowance = v.find(u"toggle_allowanceEnabled"_s);
    EXPECT_FALSE(v.find(u"stepper_allowanceMin"_s)->isVisible());
    QQuickItem* sw = QuickRig::findIn(allowance, u"toggleSwitch"_s);
    sw->setProperty("checked", true);
    QMetaObject::invokeMethod(sw, "clicked");
    v.settle();
    EXPECT_TRUE(v.rig.engine->settings().allowanceEnabled);
    EXPECT_TRUE(v.find(u"stepper_allowanceMin"_s)->isVisible());
    EXPECT_TRUE(v.find(u"calendarConnect"_s)->isVisible());
    EXPECT_FALSE(v.find(u"passwordClear"_s)->isVisible());
    v.rig.engine->setPassword(u"x"_s);
    v.settle();
    EXPECT_TRUE(v.find(u"passwordClear"_s)->isVisible());
    EXPECT_EQ(v.find(u"passwordStatus"_s)->property("text").toString(), u"Password set ✓"_s);
}

TEST(PanelViews, MenusOfferTheLockupsAndTheRunningApps) {
    PanelView v;
    fillForShots(v.rig);
    RunningApp calc = fakeApp(7, u"org.gnome.Calculator"_s, u"Calculator"_s);
    calc.regular = true;
    RunningApp self = fakeApp(8, u"app.oriflan.mivra"_s, u"Mivra"_s);
    self.regular = true;
    v.rig.workspace.apps = {calc, calc, self};
    ASSERT_TRUE(v.open(u"ListsPanel"_s, Lang::fr));
    QQuickItem* overlay = v.quick.window->contentItem();

    v.click(u"addRunningApp"_s);
    ASSERT_TRUE(QuickRig::findIn(overlay, u"candidate_0"_s));
    EXPECT_FALSE(QuickRig::findIn(overlay, u"candidate_1"_s)) << "one Calculator, never Mivra";
    v.shoot(u"ListsPanel-apps-menu-fr"_s);
    QMetaObject::invokeMethod(QuickRig::findIn(overlay, u"candidate_0"_s), "clicked");
    v.settle();
    EXPECT_EQ(v.rig.engine->lockupInEffect()->apps.last().bundleID, u"org.gnome.Calculator"_s);

    v.click(u"lockupPicker"_s);
    QQuickItem* second = QuickRig::findIn(overlay, u"pickerEntry_1"_s);
    ASSERT_TRUE(second);
    v.shoot(u"ListsPanel-picker-fr"_s);
    QMetaObject::invokeMethod(second, "clicked");
    v.settle();
    EXPECT_EQ(v.rig.engine->lockupInEffect()->id, v.rig.engine->lockups()[1].id);
    EXPECT_EQ(v.find(u"lockupName"_s)->property("text").toString(), v.rig.engine->lockups()[1].name);
}
