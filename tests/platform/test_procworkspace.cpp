// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux workspace: how processes are recognised as applications (from /proc-style fixture
// files), and terminating real child processes started under distinctive executable names.
#include "blocking/appmonitor.h"
#include "fakes/fakes.h"
#include "platform/linux/appidentity.h"
#include "platform/linux/procworkspace.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace AppIdentity;

namespace {

// Entries each ended by a NUL, as in /proc/PID/environ and cmdline.
QByteArray nulSeparated(std::initializer_list<QByteArray> vars) {
    QByteArray out;
    for (const QByteArray& v : vars)
        out.append(v).append('\0');
    return out;
}

// pid (comm) state, then 18 fields up to the start time, then a few more.
QByteArray statLine(qint64 pid, const char* comm, char state, quint64 started) {
    return QByteArray::number(pid) + " (" + comm + ") " + state +
           " 1 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 " + QByteArray::number(started) +
           " 1000 200 18446744073709551615 0 0\n";
}

QByteArray desktopFile(const char* name, const char* extra = "") {
    return QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=true\n" + extra;
}

// One line per application: "identifiers: name [menu] #pid <- processes", and "(unit)" when it
// reaches its whole control group.
std::string describe(const QList<RunningApp>& apps) {
    QString out;
    for (const RunningApp& a : apps) {
        QStringList pids;
        for (const AppProcess& p : a.processes)
            pids << QString::number(p.pid);
        out += a.identifiers.join(u',') + u": "_s + a.name + (a.regular ? u" [menu]"_s : u""_s) + u" #"_s +
               QString::number(a.pid) + u" <- "_s + pids.join(u',') +
               (a.cgroup.isEmpty() ? u""_s : u" (unit)"_s) + u'\n';
    }
    return out.toStdString();
}

const RunningApp* findApp(const QList<RunningApp>& apps, const QString& bundleID) {
    for (const RunningApp& a : apps)
        if (a.bundleID == bundleID) return &a;
    return nullptr;
}

} // namespace

// ---- Identity rules, from file contents ----------------------------------------------------------

TEST(WorkspaceIdentity, ProcFilesNameTheApplicationOnlyAsTheRulesSay) {
    // The control group: the unified hierarchy's, else (hybrid) the one systemd's own hierarchy knows.
    EXPECT_EQ(cgroupPath("0::/u/app.slice/app-gnome-slack-9.scope\n"),
              u"/u/app.slice/app-gnome-slack-9.scope"_s);
    EXPECT_EQ(cgroupPath("12:pids:/u\n1:name=systemd:/u/snap.slack.slack-1.scope\n0::/\n"),
              u"/u/snap.slack.slack-1.scope"_s);
    EXPECT_EQ(cgroupPath("4:memory:/a\n0::/\n"), u"/"_s);
    EXPECT_EQ(cgroupPath("garbage without colons\n"), QString());
    EXPECT_EQ(cgroupPath(""), QString());

    // The launched desktop file names only the process it was launched as, not the children that
    // inherit the variables.
    const QByteArray slack = "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/slack.desktop";
    const QByteArray env =
        nulSeparated({"HOME=/home/ada", slack, "GIO_LAUNCHED_DESKTOP_FILE_PID=4242", "LANG=fr"});
    EXPECT_EQ(launchedDesktopId(env, 4242), u"slack"_s);
    EXPECT_EQ(launchedDesktopId(env, 4243), QString());
    EXPECT_EQ(launchedDesktopId(nulSeparated({slack}), 4242), QString());
    EXPECT_EQ(launchedDesktopId(nulSeparated({slack, "GIO_LAUNCHED_DESKTOP_FILE_PID=4242x"}), 4242),
              QString());
    const QByteArray pid7 = "GIO_LAUNCHED_DESKTOP_FILE_PID=7";
    EXPECT_EQ(launchedDesktopId(
                  nulSeparated({pid7, "GIO_LAUNCHED_DESKTOP_FILE=/a/applications/kde4/okular.desktop"}), 7),
              u"kde4-okular"_s);
    EXPECT_EQ(
        launchedDesktopId(
            nulSeparated({"GIO_LAUNCHED_DESKTOP_FILE=/h/applications/org.example.Tool.desktop", pid7}), 7),
        u"org.example.Tool"_s);
    EXPECT_EQ(launchedDesktopId(nulSeparated({"GIO_LAUNCHED_DESKTOP_FILE=/tmp/notes.txt", pid7}), 7),
              QString());
    EXPECT_EQ(launchedDesktopId(QByteArray("\0\0=\0", 4), 7), QString());

    // Flatpak: the name of the [Application] group only.
    EXPECT_EQ(flatpakAppId("[Application]\nname=com.slack.Slack\nruntime=x\n\n[Instance]\ninstance-id=1\n"),
              u"com.slack.Slack"_s);
    EXPECT_EQ(flatpakAppId("[Runtime]\nname=org.freedesktop.Platform\n"), QString());
    EXPECT_EQ(flatpakAppId("[Instance]\nname=evil\n[Application]\nruntime=x\n"), QString());
    EXPECT_EQ(flatpakAppId(""), QString());
}

TEST(WorkspaceIdentity, AppUnitNamesGiveTheApplicationId) {
    const std::pair<QString, Unit> cases[] = {
        {u"app-gnome-firefox\\x2desr-4567.scope"_s, {Unit::App, u"firefox-esr"_s}},
        {u"app-slack-4567.scope"_s, {Unit::App, u"slack"_s}}, // no launcher part
        {u"app-org.kde.dolphin-5b1a0f.scope"_s, {Unit::App, u"org.kde.dolphin"_s}},
        {u"app-gnome-org.gnome.Nautilus@1234.service"_s, {Unit::App, u"org.gnome.Nautilus"_s}},
        {u"app-org.kde.konsole@0a1b2c.service"_s, {Unit::App, u"org.kde.konsole"_s}},
        {u"app-gnome-xdg\\x2duser\\x2ddirs.service"_s, {Unit::App, u"xdg-user-dirs"_s}},
        {u"app-flatpak-com.slack.Slack-98765.scope"_s, {Unit::Flatpak, u"com.slack.Slack"_s}},
        {u"snap.discord.discord-2e4f-11aa.scope"_s, {Unit::Snap, u"discord"_s}},
        {u"dbus-:1.2-org.gnome.Calculator@0.service"_s, {Unit::App, u"org.gnome.Calculator"_s}},
    };
    for (const auto& [leaf, unit] : cases)
        EXPECT_EQ(unitOf(QString(u"/u/app.slice/"_s + leaf)), unit) << qPrintable(leaf);
    // Not application units; and an id that would be a path is no id.
    for (const QString& leaf :
         {u"session-2.scope"_s, u"vte-spawn-1f0e6c2a.scope"_s, u"gnome-terminal-server.service"_s,
          u"org.gnome.Shell@wayland.service"_s, u"app-org.gnome.Terminal.slice"_s, u"app.slice"_s,
          u"init.scope"_s, u""_s, u"app-gnome-a\\x2f..\\x2fb-1.scope"_s})
        EXPECT_EQ(unitOf(QString(u"/u/app.slice/"_s + leaf)), Unit{}) << qPrintable(leaf);
}

TEST(WorkspaceIdentity, ProcessFilesSurviveAwkwardNamesTruncationAndUnsafeIds) {
    const auto s = parseStat(statLine(321, "a) (b) S 9", 'S', 777777));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->comm, u"a) (b) S 9"_s);
    EXPECT_EQ(s->state, 'S');
    EXPECT_EQ(s->started, 777777u);
    EXPECT_FALSE(isGone(*s));
    EXPECT_FALSE(s->kernelThread);
    EXPECT_TRUE(isGone(*parseStat(statLine(321, "x", 'Z', 1))));
    EXPECT_TRUE(
        parseStat(statLine(321, "kworker/0:1", 'I', 5).replace(" 4194560 ", " 69238880 "))->kernelThread);
    EXPECT_FALSE(parseStat("321 (x) S 1 1 1"));
    EXPECT_FALSE(parseStat("no parenthesis at all"));
    QFile self(u"/proc/self/stat"_s);
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const auto mine = parseStat(self.readAll());
    ASSERT_TRUE(mine);
    EXPECT_GT(mine->started, 0u);

    // An executable that cannot be read: the command line and the command name tell the program.
    const struct {
        QByteArray cmdline;
        QString comm, program;
    } programs[] = {
        {nulSeparated({"/usr/bin/keepassxc", "--minimized"}), u"keepassxc"_s, u"keepassxc"_s},
        {nulSeparated({"/opt/x/org.example.LongName"}), u"org.example.Lon"_s, u"org.example.LongName"_s},
        // A thread name set over the command name; the title written over the arguments.
        {nulSeparated({"/usr/lib/firefox/firefox", "-contentproc"}), u"Isolated Web Co"_s, u"firefox"_s},
        {"/opt/google/chrome/chrome --type=renderer --lang=fr", u"chrome"_s, u"chrome"_s},
        {"sshd: ada [priv]", u"sshd"_s, u"sshd"_s},
        {nulSeparated({"/opt/My App/app", "-x"}), u"app"_s, u"app"_s},
        {"", u"kworker/0:1"_s, QString()},
    };
    for (const auto& p : programs)
        EXPECT_EQ(programName(p.cmdline, p.comm), p.program) << p.cmdline.constData();

    // 0, -1 and 1 would reach a process group, every process, init.
    EXPECT_EQ(parsePidList("12\n0\n-1\n1\nabc\n 34 \n99999999999\n+5\n4294967297\n\n56"),
              (QList<qint64>{12, 34, 56}));
    EXPECT_TRUE(parsePidList("").isEmpty());
    EXPECT_TRUE(isPopulated("populated 1\nfrozen 0\n"));
    EXPECT_FALSE(isPopulated("populated 0\nfrozen 0\n"));
    EXPECT_FALSE(isPopulated(""));
}

TEST(WorkspaceIdentity, DesktopEntriesNameApplicationsAndSayWhichAreInTheMenus) {
    QTemporaryDir tmp;
    const QString user = tmp.path() + u"/home/applications"_s, system = tmp.path() + u"/usr/applications"_s;
    writeFile(user + u"/slack.desktop"_s, desktopFile("Slack (mine)"));
    writeFile(system + u"/slack.desktop"_s, desktopFile("Slack"));
    writeFile(system + u"/org.example.Helper.desktop"_s, desktopFile("Helper", "NoDisplay=true\n"));
    writeFile(system + u"/kde4/okular.desktop"_s, desktopFile("Okular"));
    writeFile(system + u"/discord_discord.desktop"_s, desktopFile("Discord"));
    writeFile(system + u"/a-link.desktop"_s,
              "[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.org\n");
    writeFile(system + u"/nameless.desktop"_s, "[Desktop Entry]\nType=Application\nExec=x\n");
    writeFile(system + u"/sectioned.desktop"_s, "# comment\n[Desktop Action New]\nName=Wrong\n[Desktop "
                                                "Entry]\nName=Right\nName[fr]=Juste\nType=Application\n");

    DesktopIndex index;
    index.load({user, system, tmp.path() + u"/missing"_s});
    ASSERT_TRUE(index.find(u"SLACK"_s));
    EXPECT_EQ(index.find(u"slack"_s)->name, u"Slack (mine)"_s); // the first folder wins
    EXPECT_TRUE(index.find(u"slack"_s)->visible);
    EXPECT_FALSE(index.find(u"org.example.helper"_s)->visible);
    EXPECT_EQ(index.find(u"kde4-okular"_s)->name, u"Okular"_s);
    EXPECT_EQ(index.find(u"discord"_s)->name, u"Discord"_s); // a snap's "<name>_<app>" entry
    EXPECT_FALSE(index.find(u"a-link"_s));
    EXPECT_FALSE(index.find(u"nameless"_s));
    EXPECT_EQ(index.find(u"sectioned"_s)->name, u"Right"_s);
    EXPECT_FALSE(index.find(QString()));

    // A folder changed since the last look is read again.
    const timeval past[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(system).constData(), past), 0);
    index.load({user, system});
    writeFile(system + u"/org.example.New.desktop"_s, desktopFile("Newcomer"));
    EXPECT_FALSE(index.find(u"org.example.New"_s));
    index.refresh({user, system});
    ASSERT_TRUE(index.find(u"org.example.New"_s));
    EXPECT_EQ(index.find(u"org.example.New"_s)->name, u"Newcomer"_s);
}

// ---- The workspace over a /proc-style folder -----------------------------------------------------

TEST(WorkspaceProcFolder, TheUsersProcessesBecomeApplicationsByTheIdentityRules) {
    // Process ids above the kernel's highest possible id: nothing real is ever reached through them.
    constexpr qint64 kFake = 4300000;
    QTemporaryDir tmp;
    const QString root = tmp.path() + u"/proc/"_s, apps = tmp.path() + u"/applications/"_s;
    ProcWorkspace ws;
    ws.setProcRoot(root);
    ws.setCgroupRoot(tmp.path() + u"/cgroup"_s);
    ws.setApplicationDirs({apps});
    ws.setProcessFilter([](qint64 pid) { return pid > kFake; });
    const QByteArray slice = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const QByteArray session = "0::/user.slice/user-1000.slice/session-2.scope\n";
    // Process kFake + n, started at tick n.
    auto add = [&](int n, const QString& exe, const QByteArray& cgroup, const QByteArray& env = {},
                   char state = 'S', const QByteArray& flatpakInfo = {}) {
        const QString dir = root + QString::number(kFake + n);
        writeFile(dir + u"/stat"_s, statLine(kFake + n, "x", state, quint64(n)));
        writeFile(dir + u"/cmdline"_s, QFile::encodeName(exe) + '\0');
        writeFile(dir + u"/cgroup"_s, cgroup);
        writeFile(dir + u"/environ"_s, env);
        if (!exe.isEmpty()) QFile::link(exe, dir + u"/exe"_s);
        if (!flatpakInfo.isEmpty()) writeFile(dir + u"/root/.flatpak-info"_s, flatpakInfo);
    };
    const QByteArray flatpak = "[Application]\nname=com.slack.Slack\n";
    add(1, u"/app/extra/slack"_s, slice + "app-flatpak-com.slack.Slack-12.scope\n", {}, 'S', flatpak);
    add(2, u"/app/extra/slack"_s, slice + "app-flatpak-com.slack.Slack-12.scope\n", {}, 'S', flatpak);
    // Older terminals keep their shells, and what the shells start, in their own unit.
    const QByteArray terminal = slice + "app-gnome-org.gnome.Terminal-3.scope\n";
    const QByteArray launched =
        nulSeparated({"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/org.gnome.Terminal.desktop",
                      "GIO_LAUNCHED_DESKTOP_FILE_PID=4300010"});
    add(10, u"/usr/libexec/gnome-terminal-server"_s, terminal, launched);
    add(11, u"/usr/bin/bash"_s, terminal, launched); // inherited, not launched
    add(12, u"/usr/share/discord/Discord (deleted)"_s, terminal, launched);
    add(13, u"/usr/bin/vim"_s, terminal);
    add(14, u"/usr/bin/vim"_s, terminal);
    add(15, u"/usr/bin/vim"_s, session);
    add(20, u"/usr/bin/defunct"_s, "0::/x\n", {}, 'Z'); // a zombie is gone already
    add(21, QString(), "0::/\n");                       // a kernel thread has no executable
    add(30, u"/usr/bin/gnome-shell"_s, session);
    // A unit's first process is its application, even when another of its processes has a lower id.
    add(41, u"/usr/bin/bash"_s, slice + "app-org.kde.konsole-5f2e.scope\n");
    add(42, u"/usr/bin/konsole"_s, slice + "app-org.kde.konsole-5f2e.scope\n");
    writeFile(root + u"4300041/stat"_s, statLine(kFake + 41, "x", 'S', 43)); // started after konsole
    add(50, u"/usr/bin/slackware-setup"_s, session); // merely begins like an aliased name
    add(60, u"/opt/google/chrome/chrome"_s, slice + "app-gnome-google\\x2dchrome-77.scope\n");
    add(61, u"/opt/google/chrome/chrome"_s, slice + "app-gnome-google\\x2dchrome-77.scope\n");
    add(62, u"/opt/google/chrome/chrome_crashpad_handler"_s,
        slice + "app-gnome-google\\x2dchrome-77.scope\n");
    // This application's own unit, and a browser it opened from a link: the browser is not this
    // application, and its unit is not the browser's.
    const QByteArray own = slice + "app-gnome-app.oriflan.mivra-5.scope\n";
    writeFile(root + QString::number(QCoreApplication::applicationPid()) + u"/cgroup"_s, own);
    add(70, u"/usr/lib/firefox-esr/firefox-esr"_s, own);
    add(71, u"/usr/lib/firefox-esr/firefox-esr"_s, own);
    // An undumpable program: no executable link to read, nor environment.
    add(80, QString(), session);
    writeFile(root + u"4300080/cmdline"_s, nulSeparated({"/usr/bin/keepassxc", "--minimized"}));
    writeFile(root + u"4300080/stat"_s, statLine(kFake + 80, "keepassxc", 'S', 80));
    QDir().mkpath(root + u"self"_s);
    QDir().mkpath(root + u"4300abc"_s);
    writeFile(apps + u"com.slack.Slack.desktop"_s, desktopFile("Slack"));
    writeFile(apps + u"org.gnome.Terminal.desktop"_s, desktopFile("Terminal"));
    writeFile(apps + u"discord.desktop"_s, desktopFile("Discord"));

    // A unit is one application reaching every process in it; any other process, and a process in a
    // unit that goes by other names, is grouped with those of its control group that share its
    // identifiers and reaches only them. No desktop entry: the executable's name.
    EXPECT_EQ(
        describe(ws.runningApplications()),
        R"(com.slack.Slack,slack,com.tinyspeck.slackmacgap: Slack [menu] #4300001 <- 4300001,4300002 (unit)
org.gnome.Terminal,gnome-terminal-server: Terminal [menu] #4300010 <- 4300010,4300011,4300012,4300013,4300014 (unit)
bash: bash #4300011 <- 4300011
Discord,com.hnc.discord: Discord [menu] #4300012 <- 4300012
vim: vim #4300013 <- 4300013,4300014
vim: vim #4300015 <- 4300015
gnome-shell: gnome-shell #4300030 <- 4300030
org.kde.konsole,konsole: konsole #4300042 <- 4300041,4300042 (unit)
bash: bash #4300041 <- 4300041
slackware-setup: slackware-setup #4300050 <- 4300050
google-chrome,chrome: chrome #4300060 <- 4300060,4300061,4300062 (unit)
chrome_crashpad_handler: chrome_crashpad_handler #4300062 <- 4300062
firefox-esr: firefox-esr #4300070 <- 4300070,4300071
keepassxc: keepassxc #4300080 <- 4300080
)");

    // The monitor over it: seed identifiers reach the local applications, the shell is never held.
    QStringList held;
    AppMonitor monitor(ws);
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blockedApps({u"Com.Tinyspeck.SlackMacGap"_s, u"com.hnc.Discord"_s, u"gnome-shell"_s,
                               u"firefox-esr"_s, u"KeePassXC"_s}));
    EXPECT_EQ(held, (QStringList{u"Slack"_s, u"Discord"_s, u"firefox-esr"_s, u"keepassxc"_s}));
}

TEST(WorkspaceProcFolder, LaterSweepsSeeWhatIsNewGoneOrRunsAnotherProgramAndAReusedId) {
    constexpr qint64 kFake = 4300000;
    QTemporaryDir tmp;
    const QString root = tmp.path() + u"/proc/"_s;
    ProcWorkspace ws;
    ws.setProcRoot(root);
    ws.setCgroupRoot(tmp.path() + u"/cgroup"_s);
    ws.setApplicationDirs({tmp.path() + u"/applications/"_s});
    ws.setProcessFilter([](qint64 pid) { return pid > kFake; });
    const QByteArray session = "0::/user.slice/user-1000.slice/session-2.scope\n";
    auto lastPid = [&](qint64 n) {
        writeFile(root + u"sys/kernel/ns_last_pid"_s, QByteArray::number(kFake + n) + '\n');
    };
    auto add = [&](int n, const QString& exe, const QByteArray& cgroup = {}) {
        const QString dir = root + QString::number(kFake + n);
        QDir(dir).removeRecursively();
        writeFile(dir + u"/stat"_s, statLine(kFake + n, "x", 'S', quint64(n)));
        writeFile(dir + u"/cmdline"_s, QFile::encodeName(exe) + '\0');
        writeFile(dir + u"/cgroup"_s, cgroup.isEmpty() ? session : cgroup);
        writeFile(dir + u"/environ"_s, {});
        QFile::link(exe, dir + u"/exe"_s);
    };
    auto ids = [&] {
        QStringList out;
        for (const RunningApp& a : ws.runningApplications())
            out << a.bundleID + u'#' + QString::number(a.pid - kFake);
        return out;
    };
    lastPid(3);
    add(1, u"/usr/bin/vim"_s);
    add(2, u"/bin/sh"_s);
    add(3, u"/usr/bin/htop"_s);
    EXPECT_EQ(ids(), (QStringList{u"vim#1"_s, u"sh#2"_s, u"htop#3"_s}));

    // A new process, one gone, and a wrapper script that ran its program in the same process.
    add(4, u"/usr/bin/discord"_s);
    QDir(root + u"4300003"_s).removeRecursively();
    QFile::remove(root + u"4300002/exe"_s);
    QFile::link(u"/usr/bin/slack"_s, root + u"4300002/exe"_s);
    lastPid(4);
    EXPECT_EQ(ids(), (QStringList{u"vim#1"_s, u"slack#2"_s, u"discord#4"_s}));

    // No id handed out since: a process that runs another program, and one gone, are still seen.
    QFile::remove(root + u"4300004/exe"_s);
    QFile::link(u"/usr/bin/firefox"_s, root + u"4300004/exe"_s);
    QDir(root + u"4300001"_s).removeRecursively();
    EXPECT_EQ(ids(), (QStringList{u"slack#2"_s, u"firefox#4"_s}));

    // Ids wrapped around: one seen before now belongs to another process of the same program, in an
    // application's unit.
    add(1, u"/usr/bin/vim"_s,
        "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gvim-7.scope\n");
    lastPid(1);
    EXPECT_EQ(ids(), (QStringList{u"gvim#1"_s, u"slack#2"_s, u"firefox#4"_s}));
}

// ---- Real processes ------------------------------------------------------------------------------

namespace {
struct WorkspaceRealProcesses : ::testing::Test {
    QTemporaryDir tmp;
    ProcWorkspace ws;
    AppMonitor monitor{ws};
    QStringList held;
    QSet<qint64> children;
    std::vector<std::unique_ptr<QProcess>> procs;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        ws.setApplicationDirs({tmp.path() + u"/applications"_s});
        ws.setCgroupRoot(tmp.path() + u"/cgroup"_s);
        // Only our own children are ever seen, so nothing else on the machine can be reached.
        ws.setProcessFilter([this](qint64 pid) { return children.contains(pid); });
        monitor.onHold = [this](const QString& name) { held.append(name); };
    }
    void TearDown() override {
        for (auto& p : procs) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    // Starts a copy of sleep under the given executable name.
    QProcess& sleeper(const QString& name, bool ignoreTerm = false) {
        const QString exe = tmp.path() + u"/bin/"_s + name;
        if (!QFile::exists(exe)) {
            QDir().mkpath(tmp.path() + u"/bin"_s);
            EXPECT_TRUE(QFile::copy(u"/bin/sleep"_s, exe));
            QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        auto p = std::make_unique<QProcess>();
        if (ignoreTerm) p->setChildProcessModifier([] { ::signal(SIGTERM, SIG_IGN); });
        p->start(exe, {u"60"_s});
        EXPECT_TRUE(p->waitForStarted(5000)) << qPrintable(name);
        children.insert(p->processId());
        procs.push_back(std::move(p));
        return *procs.back();
    }
    // The user's app.slice control group, as /proc/PID/cgroup names it.
    static QString appSlice() {
        const QString uid = QString::number(::getuid());
        return u"/user.slice/user-"_s + uid + u".slice/user@"_s + uid + u".service/app.slice"_s;
    }
    // A new unit in the app.slice, holding the given processes.
    QString addUnit(const QString& name, const QByteArray& procsText, const QByteArray& events) {
        const QString dir = tmp.path() + u"/cgroup"_s + appSlice() + u'/' + name;
        QDir().mkpath(dir);
        writeFile(dir + u"/cgroup.procs"_s, procsText);
        writeFile(dir + u"/cgroup.events"_s, events);
        return dir;
    }
    static bool killedBy(QProcess& p, int sig) {
        return p.waitForFinished(5000) && p.exitStatus() == QProcess::CrashExit && p.exitCode() == sig;
    }
    static bool stillRunning(QProcess& p) {
        return !p.waitForFinished(100) && p.state() == QProcess::Running;
    }
};
} // namespace

TEST_F(WorkspaceRealProcesses, TheSweepTerminatesABlockedProgramButNeverVitalOnesNorThisProcess) {
    writeFile(tmp.path() + u"/applications/mivra-test-focusthief.desktop"_s, desktopFile("Focus Thief"));
    QProcess& thief1 = sleeper(u"mivra-test-focusthief"_s);
    QProcess& thief2 = sleeper(u"mivra-test-focusthief"_s);
    const QStringList vital{u"gnome-shell"_s, u"Xwayland"_s, u"dbus-daemon"_s, u"systemd"_s,
                            u"plasmashell"_s};
    QList<QProcess*> spared;
    for (const QString& name : vital + QStringList{u"mivra"_s, u"mivra-test-bystander"_s})
        spared.append(&sleeper(name));
    const qint64 self = QCoreApplication::applicationPid();
    children.insert(self);

    // The workspace itself refuses, even when asked directly.
    QStringList asked;
    for (const RunningApp& a : ws.runningApplications()) {
        EXPECT_NE(a.pid, self);
        if (!vital.contains(a.bundleID)) continue;
        asked << a.bundleID;
        ws.terminate(a);
        ws.forceTerminate(a);
    }
    EXPECT_EQ(asked.size(), vital.size());
    RunningApp me;
    me.pid = self;
    me.processes = {{self, 0}};
    ws.forceTerminate(me);

    const QString selfName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    monitor.start(blockedApps(vital + QStringList{u"mivra"_s, u"MIVRA-TEST-FOCUSTHIEF"_s, selfName}));
    EXPECT_EQ(held, (QStringList{u"Focus Thief"_s})); // two processes, one application
    EXPECT_TRUE(killedBy(thief1, SIGTERM));
    EXPECT_TRUE(killedBy(thief2, SIGTERM));
    for (QProcess* p : spared)
        EXPECT_TRUE(stillRunning(*p)) << qPrintable(p->program());
    monitor.sweep(); // nothing of it is left to hold
    EXPECT_EQ(held.size(), 1);
}

TEST_F(WorkspaceRealProcesses, AProgramThatIgnoresSigtermIsKilledByForceButNeverThroughAReusedId) {
    QProcess& stubborn = sleeper(u"mivra-test-stubborn"_s, true);
    const QList<RunningApp> apps = ws.runningApplications();
    ASSERT_TRUE(findApp(apps, u"mivra-test-stubborn"_s));
    const RunningApp app = *findApp(apps, u"mivra-test-stubborn"_s);
    EXPECT_TRUE(ws.terminate(app)); // delivered, and ignored
    EXPECT_TRUE(stillRunning(stubborn));
    EXPECT_FALSE(ws.isTerminated(app));

    // Seen with another start time, the id now belongs to another process: that one is left alone.
    RunningApp earlier = app;
    earlier.processes.first().started += 1;
    EXPECT_TRUE(ws.isTerminated(earlier));
    ws.forceTerminate(earlier);
    EXPECT_TRUE(stillRunning(stubborn));

    ws.forceTerminate(app);
    EXPECT_TRUE(killedBy(stubborn, SIGKILL));
    EXPECT_TRUE(ws.isTerminated(app));
    EXPECT_TRUE(ws.terminate(app)); // nothing left to ask
}

TEST_F(WorkspaceRealProcesses, AnAppLaunchedFromTheDesktopIsHeldAtOnceWithItsWholeUnit) {
    // Without a systemd user session there is nothing to watch; the sweep alone does the work.
    monitor.start(blockedApps({u"org.example.FocusThief"_s}));
    EXPECT_FALSE(ws.isWatchingLaunches());
    monitor.stop();

    QDir().mkpath(tmp.path() + u"/cgroup"_s + appSlice());
    writeFile(tmp.path() + u"/applications/org.example.FocusThief.desktop"_s, desktopFile("Focus Thief"));
    monitor.start(blockedApps({u"org.example.focusthief"_s, u"org.example.Chat"_s}));
    ASSERT_TRUE(ws.isWatchingLaunches());
    QSignalSpy launches(&ws, &Workspace::launched);
    QList<RunningApp> launched;
    QObject::connect(&ws, &Workspace::launched, &ws, [&](const RunningApp& a) { launched.append(a); });
    auto pid = [](QProcess& p) -> QByteArray { return QByteArray::number(p.processId()) + '\n'; };

    // A scope whose processes go by other names: only its unit says what it is, and the real control
    // group of these children is not that unit, so only the launch can find them.
    QProcess& main = sleeper(u"mivra-test-main"_s);
    QProcess& helper = sleeper(u"mivra-test-helper"_s);
    const QString scope = addUnit(u"app-gnome-org.example.FocusThief-4242.scope"_s,
                                  "0\n-1\n" + pid(main) + pid(helper), "populated 0\nfrozen 0\n");
    EXPECT_FALSE(launches.wait(300)); // created, but nothing runs in it yet
    writeFile(scope + u"/cgroup.events"_s, "populated 1\nfrozen 0\n");
    ASSERT_TRUE(launches.wait(5000));
    ASSERT_EQ(launched.size(), 1);
    EXPECT_EQ(launched[0].bundleID, u"org.example.FocusThief"_s);
    EXPECT_EQ(launched[0].cgroup, appSlice() + u"/app-gnome-org.example.FocusThief-4242.scope"_s);
    EXPECT_EQ(held, (QStringList{u"Focus Thief"_s}));
    EXPECT_TRUE(killedBy(main, SIGTERM));
    EXPECT_TRUE(killedBy(helper, SIGTERM));

    // Right after the fork a service's process still runs the service manager's executable: the unit
    // is looked at again until it runs the application.
    QProcess& fork = sleeper(u"systemd"_s);
    QProcess& chat = sleeper(u"mivra-test-chat"_s);
    const QString service = addUnit(u"app-org.example.Chat@0f3c.service"_s, pid(fork), "populated 1\n");
    EXPECT_FALSE(launches.wait(100));
    writeFile(service + u"/cgroup.procs"_s, pid(chat));
    ASSERT_TRUE(launches.wait(5000));
    EXPECT_EQ(held,
              (QStringList{u"Focus Thief"_s, u"mivra-test-chat"_s})); // no desktop entry: its executable
    EXPECT_TRUE(killedBy(chat, SIGTERM));
    EXPECT_TRUE(stillRunning(fork));

    monitor.stop();
    EXPECT_FALSE(ws.isWatchingLaunches());
}

TEST_F(WorkspaceRealProcesses, ThisProcesssOwnControlGroupIsNeverReachedAsAWhole) {
    // What this process starts lands in its control group; terminating a unit must not reach it.
    QProcess& opened = sleeper(u"mivra-test-browser"_s);
    QProcess& elsewhere = sleeper(u"mivra-test-other"_s);
    const QString own = cgroupPath(readFile(u"/proc/self/cgroup"_s));
    ASSERT_FALSE(own.isEmpty());
    const QString other = u"/user.slice/app-gnome-org.example.Other-1.scope"_s;
    for (const auto& [cgroup, proc] : {std::pair{own, &opened}, std::pair{other, &elsewhere}})
        writeFile(tmp.path() + u"/cgroup"_s + cgroup + u"/cgroup.procs"_s,
                  QByteArray::number(proc->processId()) + '\n');
    for (const QString& cgroup : {own, other}) {
        RunningApp unit;
        unit.cgroup = cgroup;
        ws.forceTerminate(unit);
    }
    EXPECT_TRUE(stillRunning(opened));
    EXPECT_TRUE(killedBy(elsewhere, SIGKILL));
}
