// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/fakes.h"

bool FakeWorkspace::terminate(const RunningApp& app) {
    terminated.append(app.pid);
    if (undelivered.contains(app.pid)) return false;
    if (!stubborn.contains(app.pid)) apps.removeIf([&](const RunningApp& a) { return a.pid == app.pid; });
    return true;
}

void FakeWorkspace::forceTerminate(const RunningApp& app) {
    forced.append(app.pid);
    apps.removeIf([&](const RunningApp& a) { return a.pid == app.pid; });
}

bool FakeWorkspace::isTerminated(const RunningApp& app) {
    for (const RunningApp& a : apps)
        if (a.pid == app.pid) return false;
    return true;
}

void FakeWorkspace::launch(const RunningApp& app) {
    apps.append(app);
    if (watching) emit launched(app);
}
