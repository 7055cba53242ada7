// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/linux/appidentity.h"
#include "platform/workspace.h"

#include <QHash>

#include <functional>

class QSocketNotifier;

// The user's running applications, read from /proc. Each process is learned when first seen, and
// once more at the first sweep a second or more later (after its start-up); afterwards a sweep lists
// /proc (only when an id was handed out since the last one) and reads only each known process's
// executable link, so it costs little however many processes run. Terminating one sends SIGTERM to each of
// its processes (to its whole app unit when it has one), forcing sends SIGKILL. Launches are seen as new
// units in the user's app.slice control group.
//
// Never signalled, whatever is asked: this process, init, ids that are not plain process ids,
// processes whose program is one of the session's vital ones, and this process's control group as
// a whole. What this process starts shares its app unit; it is told apart by its own identifiers
// and held on its own.
class ProcWorkspace final : public Workspace {
    Q_OBJECT
public:
    explicit ProcWorkspace(QObject* parent = nullptr);
    ~ProcWorkspace() override;

    QList<RunningApp> runningApplications() override;
    bool terminate(const RunningApp& app) override;
    void forceTerminate(const RunningApp& app) override;
    bool isTerminated(const RunningApp& app) override;
    void setWatchingLaunches(bool on) override;
    QStringList exemptIdentifiers() const override;

    // Where the system is read from ("/proc", "/sys/fs/cgroup", the XDG applications folders).
    void setProcRoot(const QString& root) { m_procRoot = root; }
    void setCgroupRoot(const QString& root) { m_cgroupRoot = root; }
    void setApplicationDirs(const QStringList& dirs) { m_appDirs = dirs; }
    // Only processes for which `filter` holds are signalled, and only applications with such a
    // process are listed (none set: all of the user's).
    void setProcessFilter(std::function<bool(qint64)> filter) { m_filter = std::move(filter); }

    // True while an inotify watch on the user's app.slice is in place.
    bool isWatchingLaunches() const { return m_notifier != nullptr; }

private:
    // What a sweep knows about one process id.
    struct Known {
        bool own = false;     // the user's program: its executable link is checked each sweep
        bool settled = false; // learned again after its start-up was over
        qint64 learnedMs = 0; // when it was first learned (monotonic clock)
        QByteArray exeLink;   // the executable link as last read (empty: unreadable)
        std::optional<AppIdentity::Process> process; // none: not an application (gone, a kernel thread)
        quint64 sweep = 0;                           // the last sweep that saw it
    };
    Known learn(qint64 pid) const;
    qint64 lastPid() const;
    bool refreshDesktop();

    std::optional<AppIdentity::Process> readProcess(qint64 pid) const;
    std::optional<AppIdentity::ProcStat> statOf(qint64 pid) const;
    QList<qint64> cgroupProcs(const QString& cgroup) const;
    bool maySignal(qint64 pid) const;
    void refreshOwnCgroup();
    bool isOwnCgroup(const QString& cgroup) const;
    QList<qint64> liveTargets(const RunningApp& app) const;
    int signalAll(const RunningApp& app, int sig, bool* anyLeft);

    void readLaunchEvents();
    void checkLaunch(int wd);
    void announceLaunch(const QString& cgroup, int attempt);
    void stopWatching();

    QString m_procRoot;
    QString m_cgroupRoot;
    QStringList m_appDirs;
    std::function<bool(qint64)> m_filter;
    AppIdentity::DesktopIndex m_desktop;
    qint64 m_ownPid = 0;
    QString m_ownCgroup; // as last read
    uint m_uid = 0;

    QHash<qint64, Known> m_known;
    quint64 m_sweeps = 0;
    qint64 m_lastPid = -1;    // the last process id the system handed out, at the last sweep
    QString m_knownOwnCgroup; // this process's control group when the known processes were learned
    QList<RunningApp> m_apps; // what the known processes make up
    quint64 m_desktopGen = 0; // counts reloads of the desktop entries
    quint64 m_appsDesktopGen = 0;

    int m_inotify = -1;
    int m_sliceWd = -1;
    QString m_slicePath; // the app.slice control group, as /proc/PID/cgroup writes it
    QString m_sliceDir;  // its folder
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, QString> m_pending; // watch on a new unit's cgroup.events → the unit's control group
};
