// Mivra: a tray focus timer that closes the set while a take rolls.
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/linux/linuxplatform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the engine and the settings are torn down normally.
void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("oriflan"));
    QCoreApplication::setApplicationName(QStringLiteral("mivra"));
    quitOnSignals(app);

    LinuxPlatform platform;
    Loc loc(platform.defaults, systemPreferredLanguages());
    TimerModel engine(platform.view());
    // Leaving releases the block as quitting does, unless the gate holds it: then the block stays
    // until the expiry already written.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &engine,
                     [&engine] { engine.authorizeQuit(std::nullopt); });

    const int status = app.exec();
    platform.defaults.sync();
    return status;
}
