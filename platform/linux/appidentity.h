// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a Linux process is recognised as an application: its systemd app unit, its Flatpak or snap,
// the desktop file it was launched from, its executable. Everything here works on file contents
// (or on folders given to it), so it can be checked against fixtures.

#include "platform/workspace.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace AppIdentity {

// What the last step of a control-group path says about the application inside it.
struct Unit {
    enum Kind { None, App, Flatpak, Snap };
    Kind kind = None;
    QString id; // desktop-file id, Flatpak application id or snap name

    bool operator==(const Unit&) const = default;
};

// The process's control-group path from the text of /proc/PID/cgroup: the unified hierarchy's
// path, else the one of systemd's named hierarchy; empty when neither is there.
QString cgroupPath(QByteArrayView text);

// Undoes systemd's "\xNN" escapes in a unit name ("firefox\x2desr" is "firefox-esr").
QString unescapeUnitName(QStringView name);

// The application unit a control group is, from the last step of its path:
// app[-<launcher>]-<id>-<random>.scope, app[-<launcher>]-<id>[@<random>].service,
// app-flatpak-<id>-<random>.scope, snap.<name>.<app>-<random>.scope, and the units of
// D-Bus-activated applications, dbus-:<bus>-<id>@<n>.service. Anything else is Kind::None.
Unit unitOf(QStringView cgroupPath);

// The desktop-file id for the path of a .desktop file; a file in a subfolder of an applications
// folder has the subfolder in its id ("…/applications/kde4/foo.desktop" is "kde4-foo").
QString desktopIdFromPath(QStringView path);

// The desktop-file id named by GIO_LAUNCHED_DESKTOP_FILE in an environment block (NUL-separated
// VAR=value entries), only when GIO_LAUNCHED_DESKTOP_FILE_PID names `pid` itself: the variables are
// inherited by every child, and only the launched process is the application.
QString launchedDesktopId(QByteArrayView environ, qint64 pid);

// The application id of a Flatpak instance from its /.flatpak-info; empty when it names none.
QString flatpakAppId(QByteArrayView info);

// Command name, state letter and start time (clock ticks after boot) from the text of
// /proc/PID/stat.
struct ProcStat {
    QString comm; // the kernel's name for the process: its program's file name, cut at 15 bytes
    char state = 0;
    quint64 started = 0;
    bool kernelThread = false; // runs no program of its own, and never will
};
std::optional<ProcStat> parseStat(QByteArrayView text);
// A zombie or dead process: still listed, already gone.
inline bool isGone(const ProcStat& s) {
    return s.state == 'Z' || s.state == 'X' || s.state == 'x';
}

// The program's file name of a process whose executable cannot be read (a program that makes
// itself undumpable hides /proc/PID/exe and environ even from its own user), from the text of
// /proc/PID/cmdline and its command name: argv[0]'s file name, which is not cut short like the
// command name; when a program wrote a title over its arguments ("chrome --type=renderer"), the
// title's first word, if the command name agrees; else the command name. Empty when the command
// line is (a kernel thread, a process on its way out).
QString programName(QByteArrayView cmdline, const QString& comm);

// The process ids of a cgroup.procs listing. Only plain decimal ids above 1 are kept: 0, -1 and 1
// given to kill() would signal a whole process group, every process, or init.
QList<qint64> parsePidList(QByteArrayView text);

// Whether a cgroup.events text says the group holds processes.
bool isPopulated(QByteArrayView events);

// macOS bundle identifiers (lower case) that stand for an application known here by any of `ids`,
// so lockups made with those identifiers hold the same applications here.
QStringList foreignAliases(const QStringList& ids);

// Identifiers (lower case) of the session's vital processes: the desktop shell, the compositor or
// X server, the session manager, systemd, the message bus.
const QSet<QString>& vitalIdentifiers();

// One desktop entry: its display name, and whether it shows in the application menus.
struct DesktopEntry {
    QString name;
    bool visible = false;
};
// The [Desktop Entry] group of a .desktop file; nothing when it is not an application with a name.
std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView text);

// The applications folders of the XDG data folders, most important first ($XDG_DATA_HOME, then
// $XDG_DATA_DIRS, then the Flatpak and snap export folders when those are not already listed).
QStringList defaultApplicationDirs();

// The desktop entries of a list of applications folders; the first folder that has an id wins.
class DesktopIndex {
public:
    void load(const QStringList& dirs);
    // Reloads when a folder was changed since the last load (cheap when nothing changed); true when
    // it reloaded.
    bool refresh(const QStringList& dirs);
    // The entry with this id, compared without case; a snap's entries are "<name>_<app>".
    const DesktopEntry* find(const QString& id) const;

private:
    QHash<QString, DesktopEntry> m_entries; // by lower-cased id
    QStringList m_dirs;
    QList<qint64> m_stamps;
};

// What a scan learned about one process.
struct Process {
    qint64 pid = 0;
    quint64 started = 0;
    QString cgroup;
    Unit unit;
    QString flatpakId;  // from /.flatpak-info
    QString launchedId; // from GIO_LAUNCHED_DESKTOP_FILE, when it names this process
    QString exe;        // executable file name (see programName when it cannot be read)
};

// The applications the processes make up.
//  - Each app unit's control group is one application, identified by its unit id, then by the
//    names of the unit's first process and of the members that share a name with those. Terminating
//    it reaches the whole group.
//  - A control group that also holds this application is not taken for the application of its unit:
//    what this application starts (a browser opened from a link) lands in its own unit. The caller
//    gives such processes Unit::None.
//  - Every other process, and a process inside an app unit that goes by other names (a shell in a
//    terminal's unit), is grouped with the processes of the same control group that have the same
//    identifiers; terminating such an application reaches only them.
// A process's identifiers are, in order: unit id, Flatpak id, launched desktop-file id, executable
// name; an application's end with the foreign aliases. The display name comes from the first
// identifier with a desktop entry, else it is the executable's name. Applications come in the order
// of their first process id.
QList<RunningApp> group(QList<Process> processes, const DesktopIndex& desktop);

} // namespace AppIdentity
