// SPDX-License-Identifier: GPL-3.0-or-later
// The popover's window offscreen: its height against the room on its screen, the edge next to the
// icon while the height changes, and the keyboard and wheel inside it (menus, fields, the sites
// editor).
#include "fakes/enginerig.h"
#include "quickrig.h"

#include "ui/mainview.h"
#include "ui/panels/panelkit.h"
#include "ui/shell/popover.h"

#include <QGuiApplication>
#include <QQuickView>
#include <QScreen>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct PopoverRig : ::testing::Test {
    EngineRig rig;
    FakeLoginItem login;
    std::unique_ptr<MainView> view;
    std::unique_ptr<Popover> popover;

    void SetUp() override { PanelSeams::shared() = {&login, &rig.workspace}; }
    void TearDown() override {
        popover.reset();
        PanelSeams::shared() = {};
    }

    QRect screen() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    QQuickView* window() const { return popover->window(); }
    QQuickItem* root() const { return window()->rootObject(); }
    QQuickItem* find(const QString& name) const {
        QQuickItem* i = QuickRig::findIn(window()->contentItem(), name);
        EXPECT_TRUE(i) << name.toStdString();
        return i;
    }
    void settle() {
        QCoreApplication::processEvents();
        window()->grabWindow(); // lays out and renders once
        QCoreApplication::processEvents();
    }
    void open(const QRect& anchor, Lang lang = Lang::en) {
        rig.start(lang);
        view = std::make_unique<MainView>(*rig.engine, rig.engine->calendar(), rig.clock);
        popover = std::make_unique<Popover>(*view);
        popover->open(anchor);
        ASSERT_TRUE(waitUntil([this] { return window()->isExposed(); }));
        settle();
    }
    void openPanel(const QString& panel) {
        if (view->panelName() != panel) view->togglePanel(panel);
        settle();
    }
    void click(QQuickItem* item) {
        QMetaObject::invokeMethod(item, "clicked");
        settle();
    }
    QPoint centre(QQuickItem* item) const {
        return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    }
};
} // namespace

TEST_F(PopoverRig, SidePanelShortensToTheRoomAndTheEdgeByTheIconStays) {
    const QRect area = screen();
    // An icon at the top: the popover hangs under it; at the bottom it stands on it.
    for (const bool top : {true, false}) {
        const QRect icon(area.center().x(), top ? area.top() : area.bottom() - 23, 24, 24);
        open(icon);
        const int room = root()->property("room").toInt();
        EXPECT_EQ(room, top ? area.bottom() + 1 - (icon.bottom() + 5) : icon.top() - 4 - area.top());
        const QRect closed = window()->geometry();
        for (const char* panel : {"stats", "lists", "settings", "schedule"}) {
            openPanel(QString::fromLatin1(panel));
            const QRect g = window()->geometry();
            QQuickItem* side = find(u"sidePanel"_s);
            EXPECT_GE(side->height(), 160) << panel;
            EXPECT_LE(side->height(), 320) << panel;
            // Fits the room whenever the panel has not reached its least height.
            if (side->height() > 160) {
                EXPECT_LE(g.height(), room) << panel;
            }
            EXPECT_TRUE(area.contains(g)) << panel;
            EXPECT_FALSE(g.intersects(icon)) << panel;
            EXPECT_EQ(top ? g.top() : g.bottom(), top ? closed.top() : closed.bottom()) << panel;
            EXPECT_EQ(g.height(), int(root()->height())) << panel;
        }
        // The language changes the height of some rows: the edge still stays.
        rig.loc->setLang(Lang::fr);
        settle();
        EXPECT_EQ(top ? window()->geometry().top() : window()->geometry().bottom(),
                  top ? closed.top() : closed.bottom());
        popover.reset();
    }
}

TEST_F(PopoverRig, RoomSetsTheSidePanelBetweenItsLeastAndFullHeight) {
    open(QRect(screen().center().x(), 0, 24, 24));
    openPanel(u"stats"_s);
    QQuickItem* side = find(u"sidePanel"_s);
    const int rest = int(root()->height() - side->height());
    struct Case {
        int room;
        int panel;
    };
    for (const Case c : {Case{0, 320}, Case{rest + 400, 320}, Case{rest + 200, 200}, Case{rest + 100, 160}}) {
        root()->setProperty("room", c.room);
        settle();
        EXPECT_EQ(side->height(), c.panel) << c.room;
        EXPECT_EQ(root()->height(), rest + c.panel) << c.room;
    }
}

TEST_F(PopoverRig, EscClosesAnOpenMenuFirstThenThePopover) {
    open(QRect(screen().center().x(), 0, 24, 24));
    openPanel(u"lists"_s);
    QQuickItem* picker = find(u"lockupPicker"_s);
    click(picker);
    QQuickItem* entry = find(u"pickerEntry_0"_s);
    ASSERT_TRUE(entry && entry->isVisible());
    // The menu fits the window, under or over its button.
    const QRectF menu = entry->parentItem()->mapRectToScene(entry->parentItem()->boundingRect());
    EXPECT_GE(menu.top(), 0);
    EXPECT_LE(menu.bottom(), window()->height());

    QTest::keyClick(window(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(entry->isVisible()) << "Esc closes the menu";
    EXPECT_TRUE(popover->isShown()) << "and leaves the popover open";
    QTest::keyClick(window(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([this] { return !popover->isShown(); }));

    // Reopened, no menu is left open from before.
    popover->open(QRect(screen().center().x(), 0, 24, 24));
    settle();
    QQuickItem* again = QuickRig::findIn(window()->contentItem(), u"pickerEntry_0"_s);
    EXPECT_FALSE(again && again->isVisible());
}

TEST_F(PopoverRig, ReturnInTheSettingsPasswordFieldSavesNothing) {
    open(QRect(screen().center().x(), 0, 24, 24));
    openPanel(u"settings"_s);
    QQuickItem* box = QuickRig::findIn(find(u"sidePanel"_s), u"passwordField"_s);
    ASSERT_TRUE(box);
    auto* field = qvariant_cast<QQuickItem*>(box->property("input"));
    ASSERT_TRUE(field);
    field->forceActiveFocus();
    for (const char c : std::string("sesame"))
        QTest::keyClick(window(), c);
    settle();
    ASSERT_EQ(field->property("text").toString(), u"sesame"_s);
    QTest::keyClick(window(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(rig.engine->settings().passwordHash.has_value()) << "only Save stores the password";
    EXPECT_TRUE(popover->isShown());
    click(find(u"passwordSave"_s));
    EXPECT_TRUE(rig.engine->settings().passwordHash.has_value());
}

TEST_F(PopoverRig, WheelScrollsTheSitesEditorWhenItOverflowsElseThePanel) {
    open(QRect(screen().center().x(), 0, 24, 24));
    openPanel(u"lists"_s);
    QQuickItem* editor = find(u"sitesEditor"_s);
    auto* panel =
        qobject_cast<QQuickItem*>(find(u"sidePanelScroll"_s)->property("contentItem").value<QObject*>());
    ASSERT_TRUE(panel);
    auto wheel = [this](QQuickItem* over) { // near the top, where the editor shows
        const QPoint at = over->mapToScene(QPointF(over->width() / 2, 10)).toPoint();
        QWheelEvent e(at, window()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        static ulong stamp = 1000;
        e.setTimestamp(stamp += 1000);
        QCoreApplication::sendEvent(window(), &e);
        settle();
    };
    auto flickOf = [](QQuickItem* item) {
        for (QQuickItem* i = item; i; i = i->parentItem())
            if (i->inherits("QQuickFlickable")) return i;
        return static_cast<QQuickItem*>(nullptr);
    };
    QQuickItem* editorFlick = flickOf(editor);
    ASSERT_TRUE(editorFlick);

    auto setSites = [this](const QStringList& hosts) {
        QList<Lockup> all = rig.engine->lockups();
        for (Lockup& each : all)
            if (each.id == rig.engine->lockupInEffect()->id) each.sites = hosts;
        rig.engine->setLockups(all);
        settle();
    };
    // A long list: the editor moves, the panel stays.
    QStringList hosts;
    for (int i = 0; i < 30; ++i)
        hosts << u"site%1.example"_s.arg(i);
    setSites(hosts);
    ASSERT_GT(editor->property("contentHeight").toReal(), editorFlick->height());
    panel->setProperty("contentY", 0);
    // The panel scrolled so that the editor's top shows, with room to scroll further.
    panel->setProperty("contentY", 60);
    settle();
    wheel(editor);
    EXPECT_TRUE(waitUntil([&] {
        window()->grabWindow();
        return editorFlick->property("contentY").toReal() > 0;
    })) << "the editor scrolls";
    EXPECT_EQ(panel->property("contentY").toReal(), 60);

    // A short list: the panel moves.
    setSites({u"example.com"_s});
    ASSERT_LT(editor->property("contentHeight").toReal(), editorFlick->height());
    wheel(editor);
    EXPECT_TRUE(waitUntil([&] {
        window()->grabWindow();
        return panel->property("contentY").toReal() > 60;
    })) << "the panel scrolls";
}
