// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for Mivra on the bus: the real interface over a real engine on fakes.
// Options: --lang fr|en, --password TEXT, --tick-ms N. Prints "ready" once the name is claimed and
// "popover" for every request to show it; leaves with status 0 when quitting is granted.
#include "fakes/enginerig.h"
#include "ui/shell/busservice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QStandardPaths>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // every line reaches the test as it is printed
    const QStringList args = app.arguments();
    auto option = [&](const QString& name) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
    };

    EngineRig rig;
    TimerModel& engine = rig.start(option(u"--lang"_s) == u"fr" ? Lang::fr : Lang::en);
    if (!option(u"--password"_s).isEmpty()) engine.setPassword(option(u"--password"_s));
    if (!option(u"--tick-ms"_s).isEmpty()) engine.timer().setInterval(option(u"--tick-ms"_s).toInt());

    BusHooks hooks;
    hooks.statusTitle = [&engine]() -> QString {
        return engine.phase() == Phase::standby && !engine.running() ? QString()
                                                                     : u" "_s + engine.clockText();
    };
    hooks.showPopover = [](std::optional<QPoint>) { std::puts("popover"); };
    hooks.quit = [] { QCoreApplication::quit(); };
    MivraBus bus(engine, hooks);

    QDBusConnection session = QDBusConnection::sessionBus();
    if (!bus.attach(session) || !session.registerService(QString::fromUtf16(MivraBusNames::service))) {
        std::fputs("cannot claim the bus name\n", stderr);
        return 1;
    }
    std::puts("ready");
    return app.exec();
}
