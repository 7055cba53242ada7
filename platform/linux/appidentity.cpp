// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/appidentity.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

using namespace Qt::StringLiterals;

namespace AppIdentity {

namespace {

constexpr qint64 kMaxDesktopFile = 256 * 1024;

QList<QByteArrayView> splitView(QByteArrayView text, char sep) {
    QList<QByteArrayView> parts;
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype at = text.indexOf(sep, from);
        if (at < 0) at = text.size();
        parts.append(text.sliced(from, at - from));
        from = at + 1;
    }
    return parts;
}

bool containsNoCase(const QStringList& list, const QString& s) {
    return list.contains(s, Qt::CaseInsensitive);
}

void appendNew(QStringList& list, const QString& s) {
    if (!s.isEmpty() && !containsNoCase(list, s)) list.append(s);
}

// The unit name's fields between '-' separators, each unescaped.
QStringList unitFields(QStringView body) {
    QStringList fields;
    for (QStringView f : body.split(u'-'))
        fields.append(unescapeUnitName(f));
    return fields;
}

} // namespace

QString cgroupPath(QByteArrayView text) {
    QString unified, named;
    for (QByteArrayView line : splitView(text, '\n')) {
        // hierarchy-ID:controller-list:path
        const qsizetype a = line.indexOf(':');
        if (a < 0) continue;
        const qsizetype b = line.indexOf(':', a + 1);
        if (b < 0) continue;
        const QByteArrayView hier = line.first(a);
        const QByteArrayView controllers = line.sliced(a + 1, b - a - 1);
        const QString path = QString::fromUtf8(line.sliced(b + 1)).trimmed();
        if (hier == "0" && controllers.isEmpty())
            unified = path;
        else if (controllers == "name=systemd")
            named = path;
    }
    // On a hybrid system the unified path can be the bare root while systemd's hierarchy knows more.
    if (!unified.isEmpty() && unified != u"/"_s) return unified;
    if (!named.isEmpty()) return named;
    return unified;
}

QString unescapeUnitName(QStringView name) {
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == u'\\' && i + 3 < name.size() && name[i + 1] == u'x') {
            bool ok = false;
            const uint code = name.sliced(i + 2, 2).toUInt(&ok, 16);
            if (ok) {
                out.append(QChar(char16_t(code)));
                i += 3;
                continue;
            }
        }
        out.append(name[i]);
    }
    return out;
}

Unit unitOf(QStringView cgroupPath) {
    const qsizetype slash = cgroupPath.lastIndexOf(u'/');
    const QStringView leaf = slash < 0 ? cgroupPath : cgroupPath.sliced(slash + 1);
    Unit unit;
    const bool scope = leaf.endsWith(u".scope"_s);
    const bool service = leaf.endsWith(u".service"_s);
    if (!scope && !service) return unit;
    const QStringView stem = leaf.first(leaf.size() - (scope ? 6 : 8));

    if (stem.startsWith(u"snap."_s)) {
        const QStringView rest = stem.sliced(5);
        const qsizetype dot = rest.indexOf(u'.');
        if (dot > 0) unit = {Unit::Snap, unescapeUnitName(rest.first(dot))};
    } else if (stem.startsWith(u"app-"_s)) {
        QStringView body = stem.sliced(4);
        if (service) {
            const qsizetype at = body.indexOf(u'@');
            if (at >= 0) body = body.first(at);
        }
        const QStringList f = unitFields(body);
        // A scope always ends in a random part; a service's random part follows '@'.
        QString id;
        if (service || f.size() == 1)
            id = f.last();
        else
            id = f.at(f.size() - 2);
        const bool flatpak = f.first() == u"flatpak"_s && f.size() >= (service ? 2 : 3);
        unit = {flatpak ? Unit::Flatpak : Unit::App, id};
    } else if (service && stem.startsWith(u"dbus-:"_s)) {
        QStringView body = stem;
        const qsizetype at = body.indexOf(u'@');
        if (at >= 0) body = body.first(at);
        const QStringList f = unitFields(body);
        if (f.size() >= 3) unit = {Unit::App, f.last()};
    }
    if (unit.id.isEmpty() || unit.id.contains(u'/')) return {};
    return unit;
}

QString desktopIdFromPath(QStringView path) {
    static const QString marker = u"/applications/"_s;
    QStringView rel = path;
    const qsizetype at = path.lastIndexOf(marker);
    if (at >= 0)
        rel = path.sliced(at + marker.size());
    else if (const qsizetype slash = path.lastIndexOf(u'/'); slash >= 0)
        rel = path.sliced(slash + 1);
    if (!rel.endsWith(u".desktop"_s) || rel.size() <= 8) return {};
    QString id = rel.first(rel.size() - 8).toString();
    id.replace(u'/', u'-');
    return id;
}

QString launchedDesktopId(QByteArrayView environ, qint64 pid) {
    static constexpr QByteArrayView fileKey = "GIO_LAUNCHED_DESKTOP_FILE=";
    static constexpr QByteArrayView pidKey = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
    QByteArrayView file, pidText;
    bool havePid = false;
    for (QByteArrayView entry : splitView(environ, '\0')) {
        if (entry.startsWith(fileKey)) file = entry.sliced(fileKey.size());
        if (entry.startsWith(pidKey)) {
            pidText = entry.sliced(pidKey.size());
            havePid = true;
        }
    }
    if (file.isEmpty() || !havePid) return {};
    bool ok = false;
    const qint64 named = pidText.toLongLong(&ok);
    if (!ok || named != pid) return {};
    return desktopIdFromPath(QString::fromUtf8(file));
}

QString flatpakAppId(QByteArrayView info) {
    bool inApplication = false;
    for (QByteArrayView raw : splitView(info, '\n')) {
        const QByteArrayView line = raw.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (!inApplication) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0 || line.first(eq).trimmed() != "name") continue;
        QString id = QString::fromUtf8(line.sliced(eq + 1)).trimmed();
        if (!id.contains(u'/')) return id;
    }
    return {};
}

std::optional<ProcStat> parseStat(QByteArrayView text) {
    // "pid (comm) state ppid …": the command name may hold spaces and parentheses, so the fields
    // are counted from the last ')'.
    const qsizetype close = text.lastIndexOf(')');
    const qsizetype open = text.indexOf('(');
    if (close < 0 || open < 0 || open > close) return std::nullopt;
    QList<QByteArrayView> fields;
    for (QByteArrayView f : splitView(text.sliced(close + 1).trimmed(), ' '))
        if (!f.isEmpty()) fields.append(f);
    // Field 3 of the file (state) is the first after the name, field 22 (starttime) the 20th.
    if (fields.size() < 20 || fields[0].size() != 1) return std::nullopt;
    bool ok = false;
    const quint64 started = fields[19].toULongLong(&ok);
    if (!ok) return std::nullopt;
    constexpr quint64 kKernelThreadFlag = 0x00200000; // field 9, the kernel's flags
    const bool kernel = fields[6].toULongLong() & kKernelThreadFlag;
    return ProcStat{QString::fromUtf8(text.sliced(open + 1, close - open - 1)), fields[0][0], started,
                    kernel};
}

QString programName(QByteArrayView cmdline, const QString& comm) {
    const qsizetype nul = cmdline.indexOf('\0');
    const QString argv0 = QString::fromUtf8(nul < 0 ? cmdline : cmdline.first(nul));
    auto fileName = [](const QString& path) { return path.mid(path.lastIndexOf(u'/') + 1); };
    if (argv0.isEmpty()) return {}; // a kernel thread, or a process on its way out
    if (!argv0.contains(u' ')) {
        const QString name = fileName(argv0);
        return name.isEmpty() ? comm : name;
    }
    // The kernel cuts the command name at 15 bytes.
    const QString first = fileName(argv0.first(argv0.indexOf(u' ')));
    const QByteArray a = first.toUtf8().left(15), b = comm.toUtf8().left(15);
    return !first.isEmpty() && a == b ? first : comm;
}

QList<qint64> parsePidList(QByteArrayView text) {
    QList<qint64> pids;
    for (QByteArrayView raw : splitView(text, '\n')) {
        const QByteArrayView line = raw.trimmed();
        if (line.isEmpty() || line.size() > 10) continue;
        if (!std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        const qint64 pid = line.toLongLong();
        if (pid > 1 && pid <= INT_MAX) pids.append(pid);
    }
    return pids;
}

bool isPopulated(QByteArrayView events) {
    for (QByteArrayView line : splitView(events, '\n'))
        if (line.trimmed() == "populated 1") return true;
    return false;
}

QStringList foreignAliases(const QStringList& ids) {
    struct Alias {
        QString foreign;
        QStringList local;
    };
    // Seed lockups were made on macOS; these are the same applications as packaged here
    // (Flatpak id, then desktop-file id, snap name or executable).
    static const QList<Alias> table{
        {u"com.tinyspeck.slackmacgap"_s, {u"com.slack.slack"_s, u"slack"_s}},
        {u"com.hnc.discord"_s, {u"com.discordapp.discord"_s, u"discord"_s}},
        // Text messages: the desktops' own SMS and chat clients.
        {u"com.apple.mobilesms"_s,
         {u"sm.puri.chatty"_s, u"chatty"_s, u"org.kde.spacebar"_s, u"spacebar"_s, u"org.kde.kdeconnect.sms"_s,
          u"kdeconnect-sms"_s}},
    };
    QStringList out;
    for (const Alias& a : table) {
        const bool hit = std::any_of(ids.begin(), ids.end(),
                                     [&](const QString& id) { return a.local.contains(id.toLower()); });
        if (hit) out.append(a.foreign);
    }
    return out;
}

const QSet<QString>& vitalIdentifiers() {
    static const QSet<QString> ids{
        // init, the user manager, the message bus, the login machinery
        u"systemd"_s,
        u"init"_s,
        u"dbus-daemon"_s,
        u"dbus-broker"_s,
        u"dbus-broker-launch"_s,
        u"login"_s,
        u"sshd"_s,
        u"gdm"_s,
        u"gdm-session-worker"_s,
        u"gdm-x-session"_s,
        u"gdm-wayland-session"_s,
        u"sddm"_s,
        u"sddm-helper"_s,
        u"lightdm"_s,
        // X servers
        u"x"_s,
        u"xorg"_s,
        u"xwayland"_s,
        u"xvfb"_s,
        u"xephyr"_s,
        // GNOME
        u"gnome-shell"_s,
        u"gnome-session"_s,
        u"gnome-session-binary"_s,
        u"gnome-session-ctl"_s,
        u"mutter"_s,
        // KDE Plasma
        u"plasmashell"_s,
        u"kwin_wayland"_s,
        u"kwin_wayland_wrapper"_s,
        u"kwin_x11"_s,
        u"ksmserver"_s,
        u"startplasma-wayland"_s,
        u"startplasma-x11"_s,
        u"plasma_session"_s,
        // Xfce, Cinnamon, MATE, LXQt/LXDE, Budgie, Pantheon
        u"xfce4-session"_s,
        u"xfwm4"_s,
        u"xfce4-panel"_s,
        u"xfdesktop"_s,
        u"cinnamon"_s,
        u"cinnamon-session"_s,
        u"cinnamon-session-binary"_s,
        u"muffin"_s,
        u"mate-session"_s,
        u"marco"_s,
        u"mate-panel"_s,
        u"lxqt-session"_s,
        u"lxqt-panel"_s,
        u"lxsession"_s,
        u"openbox"_s,
        u"budgie-wm"_s,
        u"budgie-panel"_s,
        u"budgie-daemon"_s,
        u"gala"_s,
        // stand-alone Wayland compositors
        u"sway"_s,
        u"hyprland"_s,
        u"wayfire"_s,
        u"weston"_s,
        u"labwc"_s,
        u"river"_s,
        u"niri"_s,
    };
    return ids;
}

std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView text) {
    bool inEntry = false, application = false, noDisplay = false, hidden = false;
    QString name;
    for (QByteArrayView raw : splitView(text, '\n')) {
        const QByteArrayView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) continue;
        const QByteArrayView key = line.first(eq).trimmed();
        const QByteArrayView value = line.sliced(eq + 1).trimmed();
        if (key == "Type")
            application = value == "Application";
        else if (key == "Name")
            name = QString::fromUtf8(value);
        else if (key == "NoDisplay")
            noDisplay = value == "true";
        else if (key == "Hidden")
            hidden = value == "true";
    }
    if (!application || name.isEmpty()) return std::nullopt;
    return DesktopEntry{name, !noDisplay && !hidden};
}

QStringList defaultApplicationDirs() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) home = QDir::homePath() + u"/.local/share"_s;
    QStringList data{home};
    const QStringList system = qEnvironmentVariable("XDG_DATA_DIRS").split(u':', Qt::SkipEmptyParts);
    data += system.isEmpty() ? QStringList{u"/usr/local/share"_s, u"/usr/share"_s} : system;
    data += {home + u"/flatpak/exports/share"_s, u"/var/lib/flatpak/exports/share"_s,
             u"/var/lib/snapd/desktop"_s};
    QStringList dirs;
    for (QString d : std::as_const(data)) {
        while (d.size() > 1 && d.endsWith(u'/'))
            d.chop(1);
        appendNew(dirs, d + u"/applications"_s);
    }
    return dirs;
}

namespace {
QList<qint64> folderStamps(const QStringList& dirs) {
    QList<qint64> stamps;
    for (const QString& d : dirs) {
        const QFileInfo fi(d);
        stamps.append(fi.isDir() ? fi.lastModified().toMSecsSinceEpoch() : -1);
    }
    return stamps;
}
} // namespace

void DesktopIndex::load(const QStringList& dirs) {
    m_entries.clear();
    m_dirs = dirs;
    m_stamps = folderStamps(dirs);
    for (const QString& dir : dirs) {
        const QDir base(dir);
        QDirIterator it(dir, {u"*.desktop"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = base.relativeFilePath(path);
            id.chop(8);
            id.replace(u'/', u'-');
            const QString key = id.toLower();
            if (id.isEmpty() || m_entries.contains(key)) continue;
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) continue;
            if (auto entry = parseDesktopEntry(f.read(kMaxDesktopFile))) m_entries.insert(key, *entry);
        }
    }
}

bool DesktopIndex::refresh(const QStringList& dirs) {
    if (dirs == m_dirs && folderStamps(dirs) == m_stamps) return false;
    load(dirs);
    return true;
}

const DesktopEntry* DesktopIndex::find(const QString& id) const {
    if (id.isEmpty()) return nullptr;
    const QString key = id.toLower();
    auto it = m_entries.constFind(key);
    if (it == m_entries.cend()) it = m_entries.constFind(key + u'_' + key);
    return it == m_entries.cend() ? nullptr : &*it;
}

QList<RunningApp> group(QList<Process> processes, const DesktopIndex& desktop) {
    std::sort(processes.begin(), processes.end(),
              [](const Process& a, const Process& b) { return a.pid < b.pid; });

    struct Group {
        RunningApp app;
        QString exe; // of the process that stands for the application
    };
    QList<Group> groups;
    QHash<QString, qsizetype> byKey;
    QList<bool> placed(processes.size(), false);

    auto ownIds = [](const Process& p) {
        QStringList ids;
        appendNew(ids, p.flatpakId);
        appendNew(ids, p.launchedId);
        appendNew(ids, p.exe);
        return ids;
    };
    auto groupFor = [&](const QString& key, const QStringList& ids) -> Group& {
        auto it = byKey.constFind(key);
        if (it != byKey.cend()) return groups[*it];
        byKey.insert(key, groups.size());
        Group g;
        g.app.identifiers = ids;
        groups.append(g);
        return groups.last();
    };

    // App units: one application per control group, holding every process in it.
    QHash<QString, QList<qsizetype>> unitMembers;
    for (qsizetype i = 0; i < processes.size(); ++i) {
        const Process& p = processes[i];
        if (p.unit.kind == Unit::None) continue;
        Group& g = groupFor(u"unit\n"_s + p.cgroup, {p.unit.id});
        g.app.cgroup = p.cgroup;
        g.app.processes.append({p.pid, p.started});
        unitMembers[p.cgroup].append(i);
    }
    // The unit's first process is the application the unit was made for, and so is every member
    // that goes by one of the application's names, directly or through the alias table (a helper
    // with the executable name of the main process). Members with other names (a shell in a
    // terminal's unit, a crash reporter) are applications of their own as well.
    auto withAliases = [](const QStringList& ids) { return ids + foreignAliases(ids); };
    for (auto it = unitMembers.cbegin(); it != unitMembers.cend(); ++it) {
        Group& g = groups[byKey.value(u"unit\n"_s + it.key())];
        auto take = [&](qsizetype i) {
            placed[i] = true;
            for (const QString& id : ownIds(processes[i]))
                appendNew(g.app.identifiers, id);
            if (g.app.pid == 0) {
                g.app.pid = processes[i].pid;
                g.exe = processes[i].exe;
            }
        };
        const QList<qsizetype>& members = it.value();
        take(*std::min_element(members.begin(), members.end(), [&](qsizetype a, qsizetype b) {
            return processes[a].started < processes[b].started;
        }));
        for (bool changed = true; changed;) {
            changed = false;
            const QStringList names = withAliases(g.app.identifiers);
            for (qsizetype i : members) {
                if (placed[i]) continue;
                const QStringList own = withAliases(ownIds(processes[i]));
                if (std::none_of(own.begin(), own.end(),
                                 [&](const QString& id) { return containsNoCase(names, id); }))
                    continue;
                take(i);
                changed = true;
            }
        }
    }
    // Everything else, by control group and identifiers.
    for (qsizetype i = 0; i < processes.size(); ++i) {
        if (placed[i]) continue;
        const Process& p = processes[i];
        const QStringList own = ownIds(p);
        if (own.isEmpty()) continue;
        Group& g = groupFor(u"proc\n"_s + p.cgroup + u'\n' + own.join(u'\n').toLower(), own);
        g.app.processes.append({p.pid, p.started});
        if (g.app.pid == 0) {
            g.app.pid = p.pid;
            g.exe = p.exe;
        }
    }

    for (Group& g : groups) {
        RunningApp& app = g.app;
        if (app.pid == 0 && !app.processes.isEmpty()) {
            app.pid = app.processes.first().pid;
            for (const Process& p : std::as_const(processes))
                if (p.pid == app.pid) g.exe = p.exe;
        }
        app.bundleID = app.identifiers.value(0);
        for (const QString& id : std::as_const(app.identifiers)) {
            if (const DesktopEntry* e = desktop.find(id)) {
                app.name = e->name;
                app.regular = e->visible;
                break;
            }
        }
        if (app.name.isEmpty()) app.name = g.exe.isEmpty() ? app.bundleID : g.exe;
        for (const QString& alias : foreignAliases(app.identifiers))
            appendNew(app.identifiers, alias);
    }
    std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
        return a.app.processes.value(0).pid < b.app.processes.value(0).pid;
    });
    QList<RunningApp> apps;
    apps.reserve(groups.size());
    for (const Group& g : std::as_const(groups))
        apps.append(g.app);
    return apps;
}

} // namespace AppIdentity
