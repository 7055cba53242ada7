#include "blocking/appmonitor.h"

#include "platform/workspace.h"

AppMonitor::AppMonitor(Workspace& workspace, QObject* parent) : QObject(parent), m_workspace(workspace) {}

void AppMonitor::start(const QList<BlockedApp>& apps) {
    QSet<QString> set;
    for (const BlockedApp& a : apps)
        if (!a.bundleID.isEmpty()) set.insert(a.bundleID.toLower());
    if (set.isEmpty()) {
        stop();
        return;
    }
    m_blocked = set;
}

void AppMonitor::stop() {
    m_blocked.clear();
    m_timer.stop();
}

void AppMonitor::sweep() {}

void AppMonitor::hold(const RunningApp&) {}
