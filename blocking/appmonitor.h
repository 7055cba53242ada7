// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>

class Workspace;
struct RunningApp;

// Terminates the lockup's applications while the set is closed: at once, when one is launched, and
// on a two-second sweep. Reports each application it holds through `onHold`.
class AppMonitor : public QObject {
    Q_OBJECT
public:
    explicit AppMonitor(Workspace& workspace, QObject* parent = nullptr);
    // Stops watching: the workspace outlives its monitors.
    ~AppMonitor() override;

    // Replaces the blocked set (identifiers compared without case) and watches; an empty set stops.
    void start(const QList<BlockedApp>& apps);
    // Clears the blocked set and stops watching.
    void stop();

    const QSet<QString>& blocked() const { return m_blocked; }
    bool isWatching() const { return m_timer.isActive(); }

    // Told the display name of each held application.
    std::function<void(const QString&)> onHold;

    // One pass over the running applications.
    void sweep();

    // Identifiers never held, whatever the blocked set says (lower case).
    const QSet<QString>& exempt() const { return m_exempt; }

private:
    void appLaunched(const RunningApp& app);
    void hold(const RunningApp& app);

    Workspace& m_workspace;
    QSet<QString> m_blocked;
    QSet<QString> m_exempt;
    QTimer m_timer;
    bool m_observing = false;
};
