// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/procworkspace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace AppIdentity;

namespace {

constexpr qsizetype kMaxSmallFile = 64 * 1024;
constexpr qsizetype kMaxEnviron = 1024 * 1024;
// How long a new unit's processes may take to become the application (a service forks, then execs).
constexpr int kLaunchRetries = 10;
constexpr int kLaunchRetryMs = 30;
// How long after a process was first seen it is learned once more (its start-up is over by then).
constexpr qint64 kSettleMs = 1000;

qint64 monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads at most `max` bytes of a file; /proc files report no size, so read until the end.
QByteArray readFile(const QString& path, qsizetype max) {
    QByteArray out;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[8192];
    while (out.size() < max) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, qMin<qsizetype>(n, max - out.size()));
    }
    ::close(fd);
    return out;
}

// Where a process's executable link points; empty for kernel threads and unreadable processes.
QByteArray exeLink(const QString& procDir) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(procDir + u"/exe"_s).constData(), buf, sizeof buf - 1);
    return n > 0 ? QByteArray(buf, n) : QByteArray();
}

// Whether a process's executable link (under the open /proc folder) still reads `link`; no text is
// made on the way, as this is asked of every process of the user's on every sweep.
bool exeLinkIs(int procFd, qint64 pid, const QByteArray& link) {
    char path[32];
    auto [end, ec] = std::to_chars(path, path + sizeof path - 5, pid);
    if (ec != std::errc()) return false;
    std::memcpy(end, "/exe", 5);
    char buf[PATH_MAX];
    const ssize_t n = ::readlinkat(procFd, path, buf, sizeof buf - 1);
    return QByteArrayView(buf, n > 0 ? n : 0) == QByteArrayView(link);
}

// The file name of an executable link's target.
QString exeName(const QByteArray& link) {
    if (link.isEmpty()) return {};
    QString path = QFile::decodeName(link);
    // A binary replaced on disk (an upgrade) is still the same program.
    if (path.endsWith(u" (deleted)"_s)) path.chop(10);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// The program a process runs: its executable's file name, else (the executable cannot be read) what
// its command line and command name say; empty for kernel threads and vanished processes.
QString programOf(const QString& procDir, const std::optional<ProcStat>& stat, const QByteArray& link) {
    QString name = exeName(link);
    if (name.isEmpty() && stat)
        name = programName(readFile(procDir + u"/cmdline"_s, kMaxSmallFile), stat->comm);
    return name;
}
QString programOf(const QString& procDir, const std::optional<ProcStat>& stat) {
    return programOf(procDir, stat, exeLink(procDir));
}

bool isSafeCgroupPath(const QString& path) {
    return path.startsWith(u'/') && !path.contains(u"/../"_s) && !path.endsWith(u"/.."_s);
}

} // namespace

ProcWorkspace::ProcWorkspace(QObject* parent)
    : Workspace(parent), m_procRoot(u"/proc"_s), m_cgroupRoot(u"/sys/fs/cgroup"_s),
      m_appDirs(defaultApplicationDirs()), m_ownPid(QCoreApplication::applicationPid()), m_uid(::getuid()) {}

ProcWorkspace::~ProcWorkspace() {
    stopWatching();
}

QStringList ProcWorkspace::exemptIdentifiers() const {
    QStringList ids = vitalIdentifiers().values();
    ids.sort();
    return ids;
}

std::optional<ProcStat> ProcWorkspace::statOf(qint64 pid) const {
    return parseStat(readFile(m_procRoot + u'/' + QString::number(pid) + u"/stat"_s, kMaxSmallFile));
}

std::optional<Process> ProcWorkspace::readProcess(qint64 pid) const {
    return learn(pid).process;
}

ProcWorkspace::Known ProcWorkspace::learn(qint64 pid) const {
    Known k;
    const QString dir = m_procRoot + u'/' + QString::number(pid);
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || st.st_uid != m_uid) return k;
    k.own = true;
    k.exeLink = exeLink(dir);
    const auto s = statOf(pid);
    // A kernel thread never runs a program: there is nothing to check on later sweeps.
    if (s && s->kernelThread) k.own = false;
    if (!s || isGone(*s) || s->kernelThread) return k;
    Process p;
    p.pid = pid;
    p.started = s->started;
    p.exe = programOf(dir, s, k.exeLink);
    if (p.exe.isEmpty()) return k;
    p.cgroup = cgroupPath(readFile(dir + u"/cgroup"_s, kMaxSmallFile));
    // What this application started shares its unit, and is not this application.
    if (!isOwnCgroup(p.cgroup)) p.unit = unitOf(p.cgroup);
    p.flatpakId = flatpakAppId(readFile(dir + u"/root/.flatpak-info"_s, kMaxSmallFile));
    p.launchedId = launchedDesktopId(readFile(dir + u"/environ"_s, kMaxEnviron), pid);
    k.process = p;
    return k;
}

qint64 ProcWorkspace::lastPid() const {
    bool ok = false;
    const qint64 pid = readFile(m_procRoot + u"/sys/kernel/ns_last_pid"_s, 64).trimmed().toLongLong(&ok);
    return ok && pid >= 0 ? pid : -1;
}

bool ProcWorkspace::refreshDesktop() {
    if (!m_desktop.refresh(m_appDirs)) return false;
    ++m_desktopGen;
    return true;
}

void ProcWorkspace::refreshOwnCgroup() {
    m_ownCgroup =
        cgroupPath(readFile(m_procRoot + u'/' + QString::number(m_ownPid) + u"/cgroup"_s, kMaxSmallFile));
}

bool ProcWorkspace::isOwnCgroup(const QString& cgroup) const {
    return !m_ownCgroup.isEmpty() && cgroup == m_ownCgroup;
}

QList<RunningApp> ProcWorkspace::runningApplications() {
    refreshOwnCgroup();
    ++m_sweeps;
    // Process ids are handed out in increasing order until they wrap around: as long as the last
    // one handed out has not gone back, no id seen before can belong to another process now. When
    // it has (or cannot be read), or this process moved to another control group, every process is
    // learned anew.
    const qint64 last = lastPid();
    bool changed = false;
    if (last < 0 || m_lastPid < 0 || last < m_lastPid || m_ownCgroup != m_knownOwnCgroup) {
        m_known.clear();
        changed = true;
    }
    // No id handed out since the last sweep: no process is new, so the known ones are all there is
    // to check, and /proc need not be listed. One that is gone shows in its executable link.
    const bool noneNew = !changed && last == m_lastPid;
    m_lastPid = last;
    m_knownOwnCgroup = m_ownCgroup;
    const qint64 now = monotonicMs();

    // Learned once more after its start-up (a service's fork has run its program by now, a
    // launched process has been moved into its unit, a login has changed its user), and whenever
    // it runs another program or has ended, leaving a zombie.
    const auto recheck = [&](qint64 pid, Known& k, int procFd) {
        const bool settle = !k.settled && now - k.learnedMs >= kSettleMs;
        if (settle || (k.own && !exeLinkIs(procFd, pid, k.exeLink))) {
            Known again = learn(pid);
            changed = changed || again.process || k.process;
            again.learnedMs = k.learnedMs;
            again.settled = k.settled || settle;
            k = again;
        }
        k.sweep = m_sweeps;
    };
    const int procFd =
        noneNew ? ::open(QFile::encodeName(m_procRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (procFd >= 0) {
        for (auto it = m_known.begin(); it != m_known.end(); ++it) {
            struct stat st {};
            // One whose link cannot be read is looked for itself; gone, it is forgotten below.
            if (it->own && it->exeLink.isEmpty() &&
                ::fstatat(procFd, QByteArray::number(it.key()).constData(), &st, 0) != 0)
                continue;
            recheck(it.key(), *it, procFd);
        }
        ::close(procFd);
    } else if (DIR* d = ::opendir(QFile::encodeName(m_procRoot).constData())) {
        while (const dirent* e = ::readdir(d)) {
            const QByteArrayView name(e->d_name);
            if (name.isEmpty() ||
                !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            bool ok = false;
            const qint64 pid = name.toLongLong(&ok);
            if (!ok || pid == m_ownPid) continue;
            auto it = m_known.find(pid);
            if (it == m_known.end()) {
                it = m_known.insert(pid, learn(pid));
                it->learnedMs = now;
                it->sweep = m_sweeps;
                changed = changed || it->process;
            } else {
                recheck(pid, *it, ::dirfd(d));
            }
        }
        ::closedir(d);
    }
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (it->sweep == m_sweeps) {
            ++it;
            continue;
        }
        changed = changed || it->process;
        it = m_known.erase(it);
    }
    refreshDesktop();
    if (changed || m_appsDesktopGen != m_desktopGen) {
        QList<Process> processes;
        for (const Known& k : std::as_const(m_known))
            if (k.process) processes.append(*k.process);
        m_apps = group(processes, m_desktop);
        m_appsDesktopGen = m_desktopGen;
    }
    QList<RunningApp> apps = m_apps;
    // Filtered after grouping, so that hidden processes still tell which is a unit's first one.
    if (m_filter)
        apps.removeIf([this](const RunningApp& a) {
            return std::none_of(a.processes.begin(), a.processes.end(),
                                [this](const AppProcess& p) { return m_filter(p.pid); });
        });
    return apps;
}

QList<qint64> ProcWorkspace::cgroupProcs(const QString& cgroup) const {
    if (!isSafeCgroupPath(cgroup)) return {};
    for (const QString& base :
         QStringList{m_cgroupRoot, m_cgroupRoot + u"/unified"_s, m_cgroupRoot + u"/systemd"_s}) {
        const QString file = base + cgroup + u"/cgroup.procs"_s;
        if (QFileInfo::exists(file)) return parsePidList(readFile(file, kMaxEnviron));
    }
    return {};
}

bool ProcWorkspace::maySignal(qint64 pid) const {
    if (pid <= 1 || pid > INT_MAX || pid == m_ownPid) return false;
    if (m_filter && !m_filter(pid)) return false;
    const QString dir = m_procRoot + u'/' + QString::number(pid);
    struct stat st {};
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || st.st_uid != m_uid) return false;
    return !vitalIdentifiers().contains(programOf(dir, statOf(pid)).toLower());
}

QList<qint64> ProcWorkspace::liveTargets(const RunningApp& app) const {
    QList<qint64> targets;
    QSet<qint64> seen;
    auto consider = [&](qint64 pid, quint64 started) {
        if (seen.contains(pid)) return;
        seen.insert(pid);
        if (!maySignal(pid)) return;
        const auto s = statOf(pid);
        if (!s || isGone(*s)) return;
        // The id now belongs to another process: the one we saw is gone.
        if (started != 0 && s->started != started) return;
        targets.append(pid);
    };
    for (const AppProcess& p : app.processes)
        consider(p.pid, p.started);
    if (app.processes.isEmpty() && app.pid > 0) consider(app.pid, 0);
    // The whole unit, including what it started since the list was taken; never this application's.
    if (!app.cgroup.isEmpty() && !isOwnCgroup(app.cgroup))
        for (qint64 pid : cgroupProcs(app.cgroup))
            consider(pid, 0);
    return targets;
}

bool ProcWorkspace::terminate(const RunningApp& app) {
    refreshOwnCgroup();
    const QList<qint64> targets = liveTargets(app);
    if (targets.isEmpty()) return true; // nothing left to ask
    int sent = 0;
    for (qint64 pid : targets)
        if (::kill(pid_t(pid), SIGTERM) == 0) ++sent;
    return sent > 0;
}

void ProcWorkspace::forceTerminate(const RunningApp& app) {
    refreshOwnCgroup();
    for (qint64 pid : liveTargets(app))
        ::kill(pid_t(pid), SIGKILL);
}

bool ProcWorkspace::isTerminated(const RunningApp& app) {
    refreshOwnCgroup();
    return liveTargets(app).isEmpty();
}

// Launches: the desktop starts each application in a new scope or service under the user's
// app.slice. A new folder there is watched until its cgroup.events says it holds a process.

void ProcWorkspace::setWatchingLaunches(bool on) {
    if (!on) {
        stopWatching();
        return;
    }
    if (m_notifier) return;
    const QString uid = QString::number(m_uid);
    const QString slice = u"/user.slice/user-"_s + uid + u".slice/user@"_s + uid + u".service/app.slice"_s;
    QString dir;
    for (const QString& base : QStringList{m_cgroupRoot, m_cgroupRoot + u"/unified"_s})
        if (QFileInfo(base + slice).isDir()) {
            dir = base + slice;
            break;
        }
    if (dir.isEmpty()) return; // no systemd user session: the sweep alone finds launched applications

    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return;
    const int wd = ::inotify_add_watch(fd, QFile::encodeName(dir).constData(), IN_CREATE | IN_ONLYDIR);
    if (wd < 0) {
        ::close(fd);
        return;
    }
    m_inotify = fd;
    m_sliceWd = wd;
    m_slicePath = slice;
    m_sliceDir = dir;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ProcWorkspace::readLaunchEvents);
}

void ProcWorkspace::stopWatching() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_inotify >= 0) ::close(m_inotify);
    m_inotify = -1;
    m_sliceWd = -1;
    m_pending.clear();
}

void ProcWorkspace::readLaunchEvents() {
    QList<int> toCheck;
    alignas(inotify_event) char buf[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += ssize_t(sizeof(inotify_event)) + ev->len;
            if (ev->wd == m_sliceWd) {
                if (!(ev->mask & IN_CREATE) || !(ev->mask & IN_ISDIR) || ev->len == 0) continue;
                const QString name = QFile::decodeName(ev->name);
                if (name.contains(u'/') || unitOf(name).kind == Unit::None) continue;
                const QString events = m_sliceDir + u'/' + name + u"/cgroup.events"_s;
                const int w =
                    ::inotify_add_watch(m_inotify, QFile::encodeName(events).constData(), IN_MODIFY);
                if (w < 0) continue; // gone already, or no cgroup.events: the sweep will see it
                m_pending.insert(w, m_slicePath + u'/' + name);
                toCheck.append(w); // it may hold its process already
            } else if (m_pending.contains(ev->wd)) {
                if (ev->mask & IN_IGNORED)
                    m_pending.remove(ev->wd);
                else
                    toCheck.append(ev->wd);
            }
        }
    }
    for (int wd : std::as_const(toCheck)) {
        if (!m_notifier) return; // a receiver stopped the watch
        checkLaunch(wd);
    }
}

void ProcWorkspace::checkLaunch(int wd) {
    const QString cgroup = m_pending.value(wd);
    if (cgroup.isEmpty()) return;
    const QString dir = m_sliceDir + cgroup.mid(m_slicePath.size());
    if (!isPopulated(readFile(dir + u"/cgroup.events"_s, kMaxSmallFile))) return; // not yet
    ::inotify_rm_watch(m_inotify, wd);
    m_pending.remove(wd);
    announceLaunch(cgroup, 0);
}

void ProcWorkspace::announceLaunch(const QString& cgroup, int attempt) {
    if (!m_notifier) return; // stopped watching meanwhile
    refreshOwnCgroup();
    if (isOwnCgroup(cgroup)) return; // this application's own unit: the sweep tells its processes apart
    QList<Process> processes;
    bool unsettled = false;
    for (qint64 pid : cgroupProcs(cgroup)) {
        if (pid == m_ownPid || (m_filter && !m_filter(pid))) continue;
        if (auto p = readProcess(pid)) {
            // A service's process is the service manager's fork until it runs the application.
            unsettled = unsettled || vitalIdentifiers().contains(p->exe.toLower());
            p->cgroup = cgroup;
            p->unit = unitOf(cgroup);
            processes.append(*p);
        }
    }
    if ((processes.isEmpty() || unsettled) && attempt < kLaunchRetries) {
        QTimer::singleShot(kLaunchRetryMs, this,
                           [this, cgroup, attempt] { announceLaunch(cgroup, attempt + 1); });
        return;
    }
    if (processes.isEmpty()) return;
    refreshDesktop();
    for (const RunningApp& app : group(processes, m_desktop))
        if (app.cgroup == cgroup) {
            emit launched(app);
            return;
        }
}
