#include "platform/linux/procworkspace.h"

ProcWorkspace::ProcWorkspace(QObject* parent) : Workspace(parent) {}

QList<RunningApp> ProcWorkspace::runningApplications() {
    return {};
}

bool ProcWorkspace::terminate(const RunningApp&) {
    return false;
}

void ProcWorkspace::forceTerminate(const RunningApp&) {}

bool ProcWorkspace::isTerminated(const RunningApp&) {
    return true;
}

void ProcWorkspace::setWatchingLaunches(bool) {}
