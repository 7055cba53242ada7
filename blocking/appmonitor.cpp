// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/appmonitor.h"

#include "platform/workspace.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {
constexpr int kSweepMs = 2000;
constexpr int kForceCheckMs = 1000;

// The desktop's own processes and this application, under every name they go by.
const QSet<QString>& builtInExempt() {
    static const QSet<QString> ids{
        u"com.apple.finder"_s,         u"com.apple.loginwindow"_s, u"com.apple.dock"_s,
        u"com.apple.systemuiserver"_s, u"app.oriflan.mivra"_s,     u"mivra"_s,
    };
    return ids;
}
} // namespace

AppMonitor::AppMonitor(Workspace& workspace, QObject* parent)
    : QObject(parent), m_workspace(workspace), m_exempt(builtInExempt()) {
    for (const QString& id : workspace.exemptIdentifiers())
        m_exempt.insert(id.toLower());
    m_timer.setInterval(kSweepMs);
    connect(&m_timer, &QTimer::timeout, this, &AppMonitor::sweep);
}

AppMonitor::~AppMonitor() {
    stop();
}

void AppMonitor::start(const QList<BlockedApp>& apps) {
    QSet<QString> set;
    for (const BlockedApp& a : apps)
        if (!a.bundleID.isEmpty()) set.insert(a.bundleID.toLower());
    if (set.isEmpty()) {
        stop();
        return;
    }
    m_blocked = set;
    if (!m_observing) {
        connect(&m_workspace, &Workspace::launched, this, &AppMonitor::appLaunched);
        m_workspace.setWatchingLaunches(true);
        m_observing = true;
    }
    m_timer.start(); // restarts the period
    sweep();
}

void AppMonitor::stop() {
    m_blocked.clear();
    m_timer.stop();
    if (m_observing) {
        disconnect(&m_workspace, &Workspace::launched, this, &AppMonitor::appLaunched);
        m_workspace.setWatchingLaunches(false);
        m_observing = false;
    }
}

void AppMonitor::sweep() {
    if (m_blocked.isEmpty()) return;
    const QList<RunningApp> apps = m_workspace.runningApplications();
    for (const RunningApp& app : apps) {
        if (app.bundleID.isEmpty() && app.identifiers.isEmpty()) continue;
        hold(app);
    }
}

void AppMonitor::appLaunched(const RunningApp& app) {
    if (app.bundleID.isEmpty() && app.identifiers.isEmpty()) return;
    hold(app);
}

void AppMonitor::hold(const RunningApp& app) {
    if (m_blocked.isEmpty()) return;
    QStringList ids;
    if (!app.bundleID.isEmpty()) ids.append(app.bundleID.toLower());
    for (const QString& id : app.identifiers)
        if (!id.isEmpty()) ids.append(id.toLower());
    bool matched = false;
    for (const QString& id : std::as_const(ids)) {
        // An application known under any exempt name is left alone, whatever else it is called.
        if (m_exempt.contains(id)) return;
        matched = matched || m_blocked.contains(id);
    }
    if (!matched) return;

    const QString name = !app.name.isEmpty() ? app.name : ids.first();
    if (!m_workspace.terminate(app)) {
        QPointer<AppMonitor> self(this);
        QTimer::singleShot(kForceCheckMs, this, [self, app] {
            if (!self) return;
            if (!self->m_workspace.isTerminated(app)) self->m_workspace.forceTerminate(app);
        });
    }
    if (onHold) onHold(name);
}
