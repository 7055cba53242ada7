// SPDX-License-Identifier: GPL-3.0-or-later
// Mivra: a tray focus timer that closes the set while a take rolls.
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/commandline.h"
#include "platform/linux/autostartloginitem.h"
#include "platform/linux/linuxplatform.h"
#include "ui/panels/panelkit.h"
#include "ui/shell/busservice.h"
#include "ui/shell/popover.h"
#include "ui/shell/shell.h"
#include "ui/shell/singleinstance.h"
#include "ui/shell/status.h"
#include "ui/shell/statusnotifier.h"
#include "ui/style.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QtQml/qqmlextensionplugin.h>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(MivraPlugin)

#ifndef MIVRA_VERSION
#define MIVRA_VERSION ""
#endif

namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP (the terminal or the session that started Mivra has ended) ask to quit
// like the Quit control does: the gate may refuse.
// The signals are caught from the first moment; one that comes before the shell exists waits in
// the pipe until routeSignals() reads it.
void catchSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

void routeSignals(QObject* owner, const std::function<void()>& onQuit) {
    if (g_signalPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onQuit] {
        char byte;
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], &byte, 1);
        onQuit();
    });
}

// A Wayland client cannot place its own windows, so the popover would open mid-screen. With
// XWayland there and no platform chosen by the user, run through it instead.
void preferXWayland() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    const bool wayland =
        qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "xcb");
}
} // namespace

int main(int argc, char** argv) {
    // Help, version and wrong usage are answered before any display is needed.
    const CommandLine line = readCommandLine(argc, argv, MIVRA_VERSION);
    if (!line.run) {
        std::fputs(line.out.c_str(), stdout);
        std::fputs(line.err.c_str(), stderr);
        return line.status;
    }
    catchSignals();
    preferXWayland();
    // The popover is one small view that mostly stands still: the software renderer draws it without
    // loading a GL driver (a third of the memory, and the first opening is faster) and repaints only
    // what changed, the clock each second. QT_QUICK_BACKEND still chooses another.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication::setOrganizationName(QStringLiteral("oriflan"));
    QApplication::setApplicationName(QStringLiteral("mivra"));
    QApplication::setDesktopFileName(QStringLiteral("app.oriflan.mivra"));
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationDisplayName(QStringLiteral("Mivra"));

    SingleInstance instance;
    if (!instance.claim()) {
        // Another Mivra of this user runs: it shows itself, this start ends.
        if (instance.showRunning()) return 0;
        // It holds the name but does not answer (hung or stopped): say so instead of showing nothing.
        SettingsDefaults stored;
        const bool english = resolveLanguage(stored.string(QString::fromUtf16(Loc::key)),
                                             systemPreferredLanguages()) == Lang::en;
        const QString text =
            english ? QStringLiteral(
                          "mivra: Mivra is already running but does not answer: it is hung or stopped.")
                    : QStringLiteral(
                          "mivra : Mivra est déjà lancé mais ne répond pas : il est bloqué ou arrêté.");
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return 1;
    }

    registerAppFonts();
    LinuxPlatform platform;
    Loc loc(platform.defaults, systemPreferredLanguages());
    TimerModel engine(platform.view());
    // Leaving releases the block as quitting does, unless the gate holds it: then the block stays
    // until the expiry already written.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &engine, [&engine] {
        engine.authorizeQuit(std::nullopt);
        // A store that could not be saved (the disk was full) has one more chance before memory goes.
        engine.retryFailedSaves();
    });

    // The side panels' services beside the engine: the login item and the running applications.
    AutostartLoginItem loginItem;
    PanelSeams::shared() = {&loginItem, &platform.workspace};

    Shell shell(engine, platform.clock);
    QObject::connect(&instance, &SingleInstance::showRequested, &shell, &Shell::showPopover);
    routeSignals(&app, [&shell] { shell.requestQuit(); });
    shell.start();

    // The interface on the bus, and the status item with its label where the tray reads one.
    BusHooks busHooks;
    busHooks.showPopover = [&shell](std::optional<QPoint>) { shell.showPopover(); };
    busHooks.statusTitle = [&engine, &platform] {
        return statusTitle(engine, engine.calendar(), platform.clock.now());
    };
    MivraBus bus(engine, busHooks);
    if (instance.busAvailable()) bus.attach(instance.connection());

    TrayHooks trayHooks;
    trayHooks.activate = [&shell](QPoint at) { shell.popover().toggle(QRect(at, QSize(1, 1))); };
    trayHooks.open = [&shell] { shell.showPopover(); };
    trayHooks.quit = [&shell] { shell.requestQuit(); };
    StatusNotifierItem item(trayHooks);
    // Hosts draw the icon by name (found through the theme path from the build tree or the
    // installation) or from the pixels sent with it.
    item.setIconThemePath(statusIconThemePath(QCoreApplication::applicationDirPath()));
    auto follow = [&item, &bus, &engine] {
        item.setStatusTitle(bus.statusTitle());
        const QString symbol = statusSymbol(engine);
        if (item.iconName() == statusIconName(symbol) && !item.iconPixmaps().isEmpty()) return;
        QList<SniPixmap> pixmaps;
        for (const QImage& image : statusIconImages(symbol))
            pixmaps.append(sniPixmap(image));
        item.setIconPixmaps(pixmaps);
        item.setIconName(statusIconName(symbol));
    };
    follow();
    QObject::connect(&bus, &MivraBus::announced, &item, follow);
    // While the item is registered it stands in for the ordinary tray icon.
    QObject::connect(&item, &StatusNotifierItem::registeredChanged, &shell, &Shell::setStatusItemRegistered);
    if (instance.busAvailable()) item.start(instance.connection());

    const int status = QApplication::exec();
    platform.defaults.sync();
    return status;
}
