#pragma once

// An engine on fakes for the panels, with a wait for work that finishes on the event loop.
#include "fakes/enginerig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

inline bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Counts the engine's settings publications and the writes of one store.
struct StoreWatch {
    EngineRig& rig;
    QString file;
    QByteArray last;
    explicit StoreWatch(EngineRig& r, QString name) : rig(r), file(std::move(name)), last(r.readData(file)) {}
    // Whether the file changed since the last call.
    bool rewritten() {
        const QByteArray now = rig.readData(file);
        const bool changed = now != last;
        last = now;
        return changed;
    }
};
