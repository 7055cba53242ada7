// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the popover's main view in its main states to PNG files, on a real engine over the fake
// platform seams: `mivra_screenshots <folder> [suffix]`. Run it on the offscreen platform with the
// software renderer; with QT_SCALE_FACTOR=2 and a suffix such as "@2x" it renders a few states at
// double density.
#include "fakes/enginerig.h"

#include "calendar/calendarservice.h"
#include "ui/mainview.h"
#include "ui/style.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <functional>

Q_IMPORT_QML_PLUGIN(MivraPlugin)

using namespace Qt::StringLiterals;

namespace {
struct Scene {
    const char16_t* name;
    Lang lang;
    std::function<void(EngineRig&, MainView&)> arrange;
    bool dense = false;                  // also rendered at double density
    qint64 takes = 0, allowanceUsed = 0; // today's counters, read at start
    int room = 0;                        // the popover's room on its screen (0: no limit)
    int tabs = 0;                        // Tab presses before the picture: where the keyboard's focus ring is
};

void today(EngineRig& rig, qint64 takes, qint64 allowanceUsed) {
    rig.defaults.setValue(u"mivra.day"_s, rig.clock.now().date().toString(Qt::ISODate));
    rig.defaults.setValue(u"mivra.takes"_s, takes);
    rig.defaults.setValue(u"mivra.focused"_s, takes * 1500);
    rig.defaults.setValue(u"mivra.allowanceUsed"_s, allowanceUsed);
}

void withCalendar(EngineRig& rig, CalendarAccess status) {
    rig.calendarStore.status = status;
    rig.engine->editSettings([](Settings& s) { s.calendarEnabled = true; });
    rig.engine->calendar().activate();
}

void meeting(EngineRig& rig, const QString& title, qint64 startsIn, bool link, const QColor& color) {
    rig.calendarStore.status = CalendarAccess::fullAccess;
    rig.calendarStore.calendarList = {StoreCalendar{u"work"_s, u"Work"_s, color, u"Local"_s}};
    StoreEvent e;
    e.id = u"e1"_s;
    e.calendarId = u"work"_s;
    e.title = title;
    e.start = rig.clock.now().addSecs(startsIn);
    e.end = e.start.addSecs(1800);
    if (link) e.url = QUrl(u"https://meet.example.com/abc-defg-hij"_s);
    rig.calendarStore.eventList = {e};
    rig.engine->editSettings([](Settings& s) { s.calendarEnabled = true; });
    rig.engine->calendar().activate();
}

// Two weeks of record with a gap, for the stats panel.
void withHistory(EngineRig& rig) {
    QList<DayStat> days;
    const QDate today = rig.clock.now().date();
    for (int i : {13, 12, 10, 9, 8, 6, 5, 4, 3, 2, 1})
        days.append(DayStat{today.addDays(-i).toString(Qt::ISODate), i % 5 + 1, (i % 5 + 1) * 1500});
    rig.writeData(u"history.json"_s, "[]");
    rig.engine.reset();
    QJsonArray list;
    for (const DayStat& d : days)
        list.append(
            QJsonObject{{u"date"_s, d.date}, {u"takes"_s, d.takes}, {u"focusedSeconds"_s, d.focusedSeconds}});
    rig.writeData(u"history.json"_s, QJsonDocument(list).toJson());
    rig.start(currentLang());
}

// Two weekly takes, one of them on a lockup that no longer exists.
void withSchedules(EngineRig& rig) {
    rig.engine->addSchedule();
    rig.engine->addSchedule();
    QList<ScheduleBlock> blocks = rig.engine->schedules();
    blocks[0].weekdays = {2, 3, 4, 5, 6};
    blocks[0].lockupID = rig.engine->lockups().value(0).id;
    blocks[1].weekdays = {1, 7};
    blocks[1].startHour = 14;
    blocks[1].startMinute = 30;
    blocks[1].durationMin = 50;
    blocks[1].lockupID = QUuid::createUuid();
    blocks[1].lockKind = LockKind::password;
    rig.engine->setSchedules(blocks);
}

void run(EngineRig& rig, qint64 seconds) {
    for (qint64 i = 0; i < seconds; ++i) {
        rig.clock.advance(1);
        rig.engine->tick();
    }
}

// A 1280 x 720 screen under a 24-point top panel: the room left below the icon.
constexpr int kRoom720 = 720 - 24 - 4;

// Every optional row of the main view: the calendar card, the gate picker, the allowance row.
void everyRow(EngineRig& rig) {
    withCalendar(rig, CalendarAccess::notDetermined);
    rig.engine->editSettings([](Settings& s) {
        s.allowanceEnabled = true;
        s.allowanceMin = 15;
    });
}

const Scene kScenes[] = {
    {u"standby-en", Lang::en, [](EngineRig&, MainView&) {}, true, 2},
    {u"rolling-timer-locked-fr", Lang::fr,
     [](EngineRig& rig, MainView&) {
         rig.engine->setPendingLock(LockKind::timer);
         rig.engine->rollOrResume();
         run(rig, 7 * 60 + 12);
     },
     true, 5},
    {u"setup-en", Lang::en,
     [](EngineRig& rig, MainView&) {
         rig.engine->rollOrResume();
         run(rig, 25 * 60 + 1 + 40);
     }},
    {u"allowance-set-open-en", Lang::en,
     [](EngineRig& rig, MainView&) {
         rig.engine->editSettings([](Settings& s) {
             s.allowanceEnabled = true;
             s.allowanceMin = 15;
         });
         rig.engine->openSet();
         run(rig, 30);
     },
     false, 1, 150},
    {u"allowance-set-closed-fr", Lang::fr,
     [](EngineRig& rig, MainView&) {
         rig.engine->editSettings([](Settings& s) {
             s.allowanceEnabled = true;
             s.allowanceMin = 15;
         });
     },
     false, 3, 150},
    {u"allowance-set-open-fr", Lang::fr,
     [](EngineRig& rig, MainView&) {
         rig.engine->editSettings([](Settings& s) {
             s.allowanceEnabled = true;
             s.allowanceMin = 15;
         });
         rig.engine->openSet();
         run(rig, 30);
     },
     false, 4, 150},
    {u"calendar-connect-en", Lang::en,
     [](EngineRig& rig, MainView&) { withCalendar(rig, CalendarAccess::notDetermined); }},
    {u"calendar-no-meetings-fr", Lang::fr,
     [](EngineRig& rig, MainView&) { withCalendar(rig, CalendarAccess::fullAccess); }},
    {u"calendar-meeting-join-en", Lang::en,
     [](EngineRig& rig, MainView&) {
         meeting(rig, u"Design review with the whole crew"_s, 12 * 60, true, QColor(0x3f, 0xb9, 0x7a));
     },
     true},
    {u"calendar-meeting-now-fr", Lang::fr,
     [](EngineRig& rig, MainView&) {
         meeting(rig, u"Point d'équipe"_s, -5 * 60, false, QColor());
         rig.engine->rollOrResume();
         run(rig, 90);
     }},
    {u"calendar-access-off-en", Lang::en,
     [](EngineRig& rig, MainView&) { withCalendar(rig, CalendarAccess::denied); }},
    {u"calendar-access-off-fr", Lang::fr,
     [](EngineRig& rig, MainView&) { withCalendar(rig, CalendarAccess::denied); }},
    {u"password-row-en", Lang::en,
     [](EngineRig& rig, MainView& view) {
         rig.engine->setPassword(u"sesame"_s);
         rig.engine->setPendingLock(LockKind::password);
         rig.engine->rollOrResume();
         run(rig, 3 * 60);
         view.secondary();
         view.setPwInput(u"ses"_s);
     },
     true},
    {u"password-row-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         rig.engine->setPassword(u"sesame"_s);
         rig.engine->setPendingLock(LockKind::password);
         rig.engine->rollOrResume();
         view.secondary();
     }},
    {u"panel-stats-en", Lang::en,
     [](EngineRig& rig, MainView& view) {
         withHistory(rig);
         view.togglePanel(u"stats"_s);
     }},
    {u"panel-stats-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         withHistory(rig);
         view.togglePanel(u"stats"_s);
     }},
    {u"panel-stats-empty-en", Lang::en, [](EngineRig&, MainView& view) { view.togglePanel(u"stats"_s); }},
    {u"panel-settings-en", Lang::en,
     [](EngineRig& rig, MainView& view) {
         withCalendar(rig, CalendarAccess::fullAccess);
         view.togglePanel(u"settings"_s);
     }},
    {u"panel-settings-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         withCalendar(rig, CalendarAccess::notDetermined);
         view.togglePanel(u"settings"_s);
     }},
    {u"panel-lists-en", Lang::en, [](EngineRig&, MainView& view) { view.togglePanel(u"lists"_s); }},
    {u"panel-lists-fr", Lang::fr, [](EngineRig&, MainView& view) { view.togglePanel(u"lists"_s); }},
    {u"panel-schedule-en", Lang::en,
     [](EngineRig& rig, MainView& view) {
         withSchedules(rig);
         view.togglePanel(u"schedule"_s);
     }},
    {u"panel-schedule-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         withSchedules(rig);
         view.togglePanel(u"schedule"_s);
     }},
    {u"screen-1280x720-stats-en", Lang::en,
     [](EngineRig& rig, MainView& view) {
         everyRow(rig);
         withHistory(rig);
         view.togglePanel(u"stats"_s);
     },
     false, 3, 300, kRoom720},
    {u"screen-1280x720-stats-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         everyRow(rig);
         withHistory(rig);
         view.togglePanel(u"stats"_s);
     },
     false, 3, 300, kRoom720},
    {u"screen-1280x720-lists-fr", Lang::fr,
     [](EngineRig& rig, MainView& view) {
         everyRow(rig);
         view.togglePanel(u"lists"_s);
     },
     false, 0, 0, kRoom720},
    // The keyboard's focus ring: on the calendar row of the main view, on a panel's add button.
    {u"focus-calendar-en", Lang::en, [](EngineRig&, MainView&) {}, false, 0, 0, 0, 3},
    {u"focus-lists-add-fr", Lang::fr, [](EngineRig&, MainView& view) { view.togglePanel(u"lists"_s); }, false,
     0, 0, 0, 14},
};

bool render(const Scene& scene, const QString& folder, const QString& suffix) {
    EngineRig rig;
    today(rig, scene.takes, scene.allowanceUsed);
    rig.start(scene.lang);
    auto view = std::make_unique<MainView>(*rig.engine, rig.engine->calendar(), rig.clock);
    view->setActive(true);
    scene.arrange(rig, *view);
    QCoreApplication::processEvents();
    view->refresh();

    QQmlEngine engine;
    engine.addImportPath(u"qrc:/qt/qml"_s);
    QQmlComponent component(&engine, QUrl(u"qrc:/qt/qml/Mivra/MainView.qml"_s));
    std::unique_ptr<QObject> root(
        component.createWithInitialProperties({{u"view"_s, QVariant::fromValue<QObject*>(view.get())}}));
    auto* item = qobject_cast<QQuickItem*>(root.get());
    if (!item) {
        std::fprintf(stderr, "screenshots: %s\n", qPrintable(component.errorString()));
        return false;
    }
    item->setProperty("room", scene.room);
    QQuickWindow window;
    window.setColor(Style::nuit);
    item->setParentItem(window.contentItem());
    window.resize(int(item->width()), int(item->height()));
    window.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    window.resize(int(item->width()), int(item->height()));
    for (int i = 0; i < scene.tabs; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier),
            release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &press);
        QCoreApplication::sendEvent(&window, &release);
    }
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    // A side panel is shown a frame at a time, scrolled down until its end.
    QObject* flick = nullptr;
    if (auto* scroll = item->findChild<QQuickItem*>(u"sidePanelScroll"_s); scroll && scroll->isVisible())
        flick = scroll->property("contentItem").value<QObject*>();
    for (int page = 0;; ++page) {
        const QImage image = window.grabWindow();
        const QString file = folder + u'/' + QString::fromUtf16(scene.name) + suffix +
                             (page ? u"-"_s + QString::number(page + 1) : QString()) + u".png"_s;
        if (!image.save(file)) {
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
            return false;
        }
        std::printf("%s  %dx%d\n", qPrintable(file), image.width(), image.height());
        if (!flick) return true;
        const qreal y = flick->property("contentY").toReal(), step = flick->property("height").toReal() - 40;
        const qreal end = flick->property("contentHeight").toReal() - flick->property("height").toReal();
        if (y >= end - 1 || page > 8) return true;
        flick->setProperty("contentY", std::min(end, y + step));
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    registerAppFonts();
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"screenshots"_s;
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QDir().mkpath(folder);
    std::printf("text face: %s (%s)\n", qPrintable(Style::family()),
                qPrintable(QFontDatabase::styles(Style::family()).join(u", "_s)));
    std::printf("number face: %s\n", qPrintable(Style::mono()));
    bool ok = true;
    for (const Scene& scene : kScenes)
        if (suffix.isEmpty() || scene.dense) ok = render(scene, folder, suffix) && ok;
    return ok ? 0 : 1;
}
