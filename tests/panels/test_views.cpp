// SPDX-License-Identifier: GPL-3.0-or-later
// The four side panels rendered offscreen in the side-panel frame, in both languages, on a real
// engine over fakes: what they show, what their controls write, and that no text is cut off.
#include "fakes/enginerig.h"
#include "quickrig.h"

#include "calendar/calendarservice.h"
#include "ui/panels/panelkit.h"

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
        frame = quick.load("import QtQuick\nimport Mivra\nSidePanel { width: 340; height: 320 }",
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
    QQuickItem* find(const QString& name, QQuickItem* in = nullptr) const {
        QQuickItem* item = QuickRig::findIn(in ? in : content(), name);
        EXPECT_TRUE(item) << name.toStdString();
        return item;
    }
    bool shown(const QString& name) const {
        QQuickItem* i = find(name);
        return i && i->isVisible();
    }
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            if (frame) frame->polish();
            quick.window->grabWindow(); // lays out and renders once
        }
    }
    void click(const QString& name, QQuickItem* in = nullptr) {
        if (QQuickItem* item = find(name, in)) QMetaObject::invokeMethod(item, "clicked");
        settle();
    }

    // Every visible text that is cut off or runs past the panel's edge.
    QStringList overflowing() const {
        QStringList out;
        QQuickItem* root = content();
        auto shown = [root](QQuickItem* item) {
            for (QQuickItem* i = item; i && i != root; i = i->parentItem())
                if (!i->isVisible() || i->opacity() == 0) return false;
            return true;
        };
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
            const QString text = item->property("text").toString();
            if (item->inherits("QQuickText") && shown(item) && !text.trimmed().isEmpty()) {
                const QRectF r = item->mapRectToItem(root, QRectF(0, 0, item->width(), item->height()));
                const bool wraps = item->property("wrapMode").toInt() != 0;
                if (item->property("truncated").toBool() || r.right() > root->width() + 0.5 ||
                    r.left() < -0.5 || (!wraps && item->implicitWidth() > item->width() + 0.5))
                    out.append(text);
            }
            for (QQuickItem* child : item->childItems())
                walk(child);
        };
        walk(root);
        return out;
    }
};

void fill(EngineRig& rig) {
    rig.writeData(u"history.json"_s, R"([{"date":"2026-03-09","takes":2,"focusedSeconds":3000},
        {"date":"2026-03-10","takes":5,"focusedSeconds":7500},{"date":"2026-03-17","takes":6,"focusedSeconds":9000},
        {"date":"2026-03-18","takes":3,"focusedSeconds":4500}])");
    rig.calendarStore.status = CalendarAccess::fullAccess;
    rig.calendarStore.calendarList = {{u"work"_s, u"Work"_s, QColor(u"#4E80C4"_s), u"Google"_s},
                                      {u"home"_s, u"Home"_s, QColor(), u"On this computer"_s}};
    rig.workspace.apps = {};
}
} // namespace

class PanelsRendered : public ::testing::TestWithParam<std::tuple<const char*, Lang, bool>> {};

TEST_P(PanelsRendered, EveryTextFitsAndTabReachesEveryControl) {
    const auto [panel, lang, empty] = GetParam();
    PanelView v;
    if (empty) {
        v.rig.writeData(u"lockups.json"_s, "[]");
        v.rig.start(lang);
    } else {
        fill(v.rig);
        v.rig.start(lang);
        v.rig.engine->addSchedule();
        v.rig.engine->editSettings([](Settings& s) { s.allowanceEnabled = true; });
        v.rig.engine->setPassword(u"x"_s);
    }
    ASSERT_TRUE(v.open(QString::fromUtf8(panel), lang)) << v.quick.errors.toStdString();
    EXPECT_EQ(v.overflowing(), QStringList()) << panel;
    // Tab reaches every control of the panel, read line by line.
    const QList<QQuickItem*> stops = QuickRig::tabStops(v.content());
    EXPECT_EQ(QuickRig::readingOrderBreaks(stops, v.content()), "") << panel;
    EXPECT_EQ(QuickRig::names(v.quick.tabChain()), QuickRig::names(stops)) << panel;
    if (QString::fromUtf8(panel) == u"StatsPanel"_s) {
        EXPECT_EQ(std::pair(v.shown(u"statsEmpty"_s), v.shown(u"statsFull"_s)), std::pair(empty, !empty));
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, PanelsRendered,
                         ::testing::Combine(::testing::Values("SettingsPanel", "ListsPanel", "SchedulePanel",
                                                              "StatsPanel"),
                                            ::testing::Values(Lang::en, Lang::fr), ::testing::Bool()));

TEST(PanelViews, ControlsWriteThroughTheEngine) {
    PanelView v;
    v.rig.writeData(u"lockups.json"_s, "[]");
    ASSERT_TRUE(v.open(u"ListsPanel"_s, Lang::en));
    EXPECT_TRUE(v.shown(u"listsEmpty"_s));
    v.click(u"listsNew"_s);
    EXPECT_EQ(v.rig.engine->lockups().size(), 1);
    EXPECT_EQ(std::pair(v.shown(u"listsEditor"_s), v.shown(u"listsEmpty"_s)), std::pair(true, false));

    ASSERT_TRUE(v.open(u"SchedulePanel"_s, Lang::fr));
    EXPECT_TRUE(v.shown(u"scheduleEmpty"_s));
    v.click(u"scheduleAdd"_s);
    ASSERT_EQ(v.rig.engine->schedules().size(), 1);
    EXPECT_FALSE(v.shown(u"scheduleEmpty"_s));
    v.click(u"weekday_1"_s);
    EXPECT_EQ(v.rig.engine->schedules()[0].weekdays, (QList<int>{1, 2, 3, 4, 5, 6}));
    v.click(u"stepperUp"_s, v.find(u"scheduleStepper_startMinute"_s));
    EXPECT_EQ(v.rig.engine->schedules()[0].startMinute, 5);
    EXPECT_EQ(v.find(u"scheduleTime"_s)->property("text").toString(), u"09:05"_s);
    v.click(u"scheduleDelete"_s);
    EXPECT_TRUE(v.rig.engine->schedules().isEmpty());

    ASSERT_TRUE(v.open(u"SettingsPanel"_s, Lang::en));
    QQuickItem* take = v.find(u"stepper_focusMin"_s);
    v.click(u"stepperDown"_s, take);
    EXPECT_EQ(v.rig.engine->settings().focusMin, 20);
    EXPECT_EQ(v.find(u"stepperValue"_s, take)->property("text").toString(), u"20 min"_s);
    EXPECT_FALSE(v.shown(u"stepper_allowanceMin"_s));
    QQuickItem* sw = v.find(u"toggleSwitch"_s, v.find(u"toggle_allowanceEnabled"_s));
    sw->setProperty("checked", true);
    v.click(u"toggleSwitch"_s, sw);
    EXPECT_TRUE(v.rig.engine->settings().allowanceEnabled);
    EXPECT_TRUE(v.shown(u"stepper_allowanceMin"_s));
    EXPECT_EQ(std::pair(v.shown(u"calendarConnect"_s), v.shown(u"passwordClear"_s)), std::pair(true, false));
    v.rig.engine->setPassword(u"x"_s);
    v.settle();
    EXPECT_TRUE(v.shown(u"passwordClear"_s));
}

TEST(PanelViews, TheListsPanelTellsWhatIsNotBlockedAndWhatALockedTakeHolds) {
    PanelView v;
    v.rig.installHelper();
    ASSERT_TRUE(v.open(u"ListsPanel"_s, Lang::en));
    EXPECT_EQ(std::pair(v.shown(u"sitesRejected"_s), v.shown(u"blockHeld"_s)), std::pair(false, false));
    // A locked take holds the first lockup's block past the switch; the line about what was not
    // taken speaks of the lockup shown, so it is typed after the switch.
    v.rig.engine->setPendingLock(LockKind::timer);
    v.rig.engine->rollOrResume();
    v.rig.engine->selectLockup(v.rig.engine->lockups()[1].id);
    v.settle();
    QQuickItem* editor = v.find(u"sitesEditor"_s);
    ASSERT_TRUE(editor);
    editor->forceActiveFocus();
    editor->setProperty("text", u"ok.example\nno such.site"_s);
    v.settle();
    EXPECT_TRUE(v.shown(u"sitesRejected"_s));
    EXPECT_TRUE(v.find(u"sitesRejected"_s)->property("text").toString().contains(u"no such.site"_s));
    EXPECT_TRUE(v.shown(u"blockHeld"_s));
    EXPECT_EQ(v.overflowing(), QStringList());
    if (const QByteArray out = qgetenv("MIVRA_VIEW_PNG"); !out.isEmpty())
        v.quick.window->grabWindow().save(QString::fromLocal8Bit(out));
}

TEST(PanelViews, MenusOfferTheLockupsAndTheRunningApps) {
    PanelView v;
    fill(v.rig);
    RunningApp calc = fakeApp(7, u"org.gnome.Calculator"_s, u"Calculator"_s);
    calc.regular = true;
    v.rig.workspace.apps = {calc};
    ASSERT_TRUE(v.open(u"ListsPanel"_s, Lang::fr));
    QQuickItem* overlay = v.quick.window->contentItem();

    v.click(u"addRunningApp"_s);
    v.click(u"candidate_0"_s, overlay);
    EXPECT_EQ(v.rig.engine->lockupInEffect()->apps.last().bundleID, u"org.gnome.Calculator"_s);

    v.click(u"lockupPicker"_s);
    v.click(u"pickerEntry_1"_s, overlay);
    EXPECT_EQ(v.rig.engine->lockupInEffect()->id, v.rig.engine->lockups()[1].id);
    EXPECT_EQ(v.find(u"lockupName"_s)->property("text").toString(), v.rig.engine->lockups()[1].name);
}
