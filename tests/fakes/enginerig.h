// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An engine on fakes, in a temporary data folder: what every engine and policy test starts from.
#include "blocking/blocker.h"
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "fakes/fakes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

struct EngineRig {
    // In memory where the system offers it: every store write is synced to disk.
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/mivra-test-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/mivra-test-XXXXXX")};
    FakeClock clock;
    MemoryDefaults defaults;
    FakeNotifier notifier;
    FakeSound sound;
    FakeWorkspace workspace;
    FakeRunner runner;
    FakeCalendarStore calendarStore;
    FakeSleepWatch sleepWatch;
    std::unique_ptr<Loc> loc;
    std::unique_ptr<TimerModel> engine;

    QString dataDir() const { return dir.path() + QStringLiteral("/data"); }
    RootLayout root() const { return RootLayout::under(dir.path() + QStringLiteral("/root")); }

    Platform platform() {
        return Platform{clock,  defaults,      notifier, sound,     workspace,
                        runner, calendarStore, root(),   dataDir(), &sleepWatch};
    }

    // Starts (or restarts, as a relaunch would) the language and the engine.
    TimerModel& start(Lang systemLang = Lang::en) {
        engine.reset();
        loc.reset();
        loc = std::make_unique<Loc>(defaults, QStringList{systemLang == Lang::en ? QStringLiteral("en-US")
                                                                                 : QStringLiteral("fr-FR")});
        engine = std::make_unique<TimerModel>(platform());
        return *engine;
    }

    // A locked take outlives the engine, as it outlives the application: tests that want each start
    // clean drop it first.
    void forgetTake() { QFile::remove(dataDir() + QStringLiteral("/take.json")); }

    // Pretends the root helper is installed, with an empty lockup file.
    void installHelper() {
        writeFile(root().versionFile(), "3\n");
        writeFile(root().lockupFile(), "");
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            engine->tick();
    }
    // Ticks as the timer gives them: each one a second of wall-clock time later.
    void liveTicks(int n) {
        for (int i = 0; i < n; ++i) {
            clock.advance(1);
            engine->tick();
        }
    }

    void writeData(const QString& name, const QByteArray& bytes) {
        writeFile(dataDir() + u'/' + name, bytes);
    }
    QByteArray readData(const QString& name) const { return readFile(dataDir() + u'/' + name); }
    QStringList asideFiles(const QString& name) const {
        return QDir(dataDir()).entryList({name + QStringLiteral(".corrupt-*")}, QDir::Files);
    }
    QByteArray lockupFile() const { return readFile(root().lockupFile()); }
};
