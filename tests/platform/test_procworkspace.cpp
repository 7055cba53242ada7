// The Linux workspace: how processes are recognised as applications (from /proc-style fixture
// files), and terminating real child processes started under distinctive executable names.
#include "blocking/appmonitor.h"
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

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    f.write(bytes);
}

QByteArray envBlock(std::initializer_list<const char*> vars) {
    QByteArray out;
    for (const char* v : vars) out.append(v).append('\0');
    return out;
}

QByteArray statLine(qint64 pid, const char* comm, char state, quint64 started) {
    // pid (comm) state, then 18 fields up to starttime, then a few more.
    return QByteArray::number(pid) + " (" + comm + ") " + state + " 1 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 " +
           QByteArray::number(started) + " 1000 200 18446744073709551615 0 0\n";
}

QByteArray desktopFile(const char* name, const char* extra = "") {
    return QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=true\n" + extra;
}

Process proc(qint64 pid, const QString& exe, const QString& cgroup = u"/user.slice/session-2.scope"_s) {
    Process p;
    p.pid = pid;
    p.started = quint64(pid) * 10;
    p.exe = exe;
    p.cgroup = cgroup;
    p.unit = unitOf(cgroup);
    return p;
}

QList<qint64> pidsOf(const RunningApp& a) {
    QList<qint64> pids;
    for (const AppProcess& p : a.processes) pids.append(p.pid);
    return pids;
}

const RunningApp* findApp(const QList<RunningApp>& apps, const QString& bundleID) {
    for (const RunningApp& a : apps)
        if (a.bundleID == bundleID) return &a;
    return nullptr;
}

QList<BlockedApp> blocking(const QStringList& ids) {
    QList<BlockedApp> apps;
    for (const QString& id : ids) apps.append(BlockedApp{QUuid::createUuid(), id, id});
    return apps;
}

} // namespace

// ---- Identity rules, from file contents ----------------------------------------------------------

TEST(WorkspaceIdentity, TheControlGroupComesFromTheUnifiedHierarchyElseSystemdsOwn) {
    EXPECT_EQ(cgroupPath("0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-slack-9.scope\n"),
              u"/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-slack-9.scope"_s);
    // Hybrid: the unified line is bare, systemd's named hierarchy knows the unit.
    EXPECT_EQ(cgroupPath("12:pids:/user.slice\n1:name=systemd:/user.slice/x/app.slice/snap.slack.slack-1.scope\n0::/\n"),
              u"/user.slice/x/app.slice/snap.slack.slack-1.scope"_s);
    EXPECT_EQ(cgroupPath("4:memory:/a\n0::/\n"), u"/"_s);
    EXPECT_EQ(cgroupPath("garbage without colons\n"), QString());
    EXPECT_EQ(cgroupPath(""), QString());
}

TEST(WorkspaceIdentity, AppUnitNamesGiveTheApplicationId) {
    struct Case {
        const char16_t* leaf;
        Unit::Kind kind;
        const char16_t* id;
    };
    const Case cases[] = {
        {u"app-gnome-firefox\\x2desr-4567.scope", Unit::App, u"firefox-esr"},
        {u"app-slack-4567.scope", Unit::App, u"slack"}, // no launcher part
        {u"app-org.kde.dolphin-5b1a0f.scope", Unit::App, u"org.kde.dolphin"},
        {u"app-gnome-org.gnome.Nautilus@1234.service", Unit::App, u"org.gnome.Nautilus"},
        {u"app-org.kde.konsole@0a1b2c.service", Unit::App, u"org.kde.konsole"},
        {u"app-gnome-xdg\\x2duser\\x2ddirs.service", Unit::App, u"xdg-user-dirs"},
        {u"app-flatpak-com.slack.Slack-98765.scope", Unit::Flatpak, u"com.slack.Slack"},
        {u"snap.discord.discord-2e4f-11aa.scope", Unit::Snap, u"discord"},
        {u"dbus-:1.2-org.gnome.Calculator@0.service", Unit::App, u"org.gnome.Calculator"},
        // Not application units.
        {u"session-2.scope", Unit::None, u""},
        {u"vte-spawn-1f0e6c2a.scope", Unit::None, u""},
        {u"gnome-terminal-server.service", Unit::None, u""},
        {u"org.gnome.Shell@wayland.service", Unit::None, u""},
        {u"app-org.gnome.Terminal.slice", Unit::None, u""},
        {u"app.slice", Unit::None, u""},
        {u"init.scope", Unit::None, u""},
        {u"", Unit::None, u""},
        // An id that would be a path is no id.
        {u"app-gnome-a\\x2f..\\x2fb-1.scope", Unit::None, u""},
    };
    for (const Case& c : cases) {
        const QString leaf = QString::fromUtf16(c.leaf);
        const Unit u = unitOf(QString(u"/user.slice/user-1000.slice/user@1000.service/app.slice/"_s + leaf));
        EXPECT_EQ(u.kind, c.kind) << qPrintable(leaf);
        EXPECT_EQ(u.id, QString::fromUtf16(c.id)) << qPrintable(leaf);
    }
}

TEST(WorkspaceIdentity, TheLaunchedDesktopFileNamesOnlyTheProcessItWasLaunchedAs) {
    const QByteArray env = envBlock({"HOME=/home/ada", "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/slack.desktop",
                                    "GIO_LAUNCHED_DESKTOP_FILE_PID=4242", "LANG=fr_FR.UTF-8"});
    EXPECT_EQ(launchedDesktopId(env, 4242), u"slack"_s);
    EXPECT_EQ(launchedDesktopId(env, 4243), QString()); // a child that inherited the variables
    EXPECT_EQ(launchedDesktopId(envBlock({"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/slack.desktop"}), 4242),
              QString());
    EXPECT_EQ(launchedDesktopId(envBlock({"GIO_LAUNCHED_DESKTOP_FILE=/x/slack.desktop",
                                         "GIO_LAUNCHED_DESKTOP_FILE_PID=4242x"}),
                                4242),
              QString());
    EXPECT_EQ(launchedDesktopId(envBlock({"GIO_LAUNCHED_DESKTOP_FILE_PID=7",
                                         "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/kde4/okular.desktop"}),
                                7),
              u"kde4-okular"_s);
    EXPECT_EQ(launchedDesktopId(envBlock({"GIO_LAUNCHED_DESKTOP_FILE=/home/ada/.local/share/applications/"
                                         "org.example.Tool.desktop",
                                         "GIO_LAUNCHED_DESKTOP_FILE_PID=7"}),
                                7),
              u"org.example.Tool"_s);
    EXPECT_EQ(launchedDesktopId(envBlock({"GIO_LAUNCHED_DESKTOP_FILE=/tmp/notes.txt", "GIO_LAUNCHED_DESKTOP_FILE_PID=7"}), 7),
              QString());
    EXPECT_EQ(launchedDesktopId(QByteArray("\0\0=\0", 4), 7), QString());
}

TEST(WorkspaceIdentity, FlatpakInfoNamesTheApplicationOfItsApplicationGroupOnly) {
    EXPECT_EQ(flatpakAppId("[Application]\nname=com.slack.Slack\nruntime=runtime/org.freedesktop.Platform/x86_64/23.08\n"
                           "\n[Instance]\ninstance-id=123\n"),
              u"com.slack.Slack"_s);
    EXPECT_EQ(flatpakAppId("[Runtime]\nname=org.freedesktop.Platform\n"), QString());
    EXPECT_EQ(flatpakAppId("[Instance]\nname=evil\n[Application]\nruntime=x\n"), QString());
    EXPECT_EQ(flatpakAppId(""), QString());
}

TEST(WorkspaceIdentity, ProcessStatusSurvivesAwkwardCommandNamesAndTruncation) {
    const auto s = parseStat(statLine(321, "a) (b) S 9", 'S', 777777));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->state, 'S');
    EXPECT_EQ(s->started, 777777u);
    EXPECT_FALSE(isGone(*s));
    EXPECT_TRUE(isGone(*parseStat(statLine(321, "x", 'Z', 1))));
    EXPECT_FALSE(parseStat("321 (x) S 1 1 1"));
    EXPECT_FALSE(parseStat("no parenthesis at all"));

    QFile self(u"/proc/self/stat"_s);
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const auto mine = parseStat(self.readAll());
    ASSERT_TRUE(mine);
    EXPECT_GT(mine->started, 0u);
}

TEST(WorkspaceIdentity, ProcessListsKeepOnlyIdsThatAreSafeToSignal) {
    // 0, -1 and 1 would reach a process group, every process, init.
    EXPECT_EQ(parsePidList("12\n0\n-1\n1\nabc\n 34 \n99999999999\n+5\n4294967297\n\n56"), (QList<qint64>{12, 34, 56}));
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
    writeFile(system + u"/a-link.desktop"_s, "[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.org\n");
    writeFile(system + u"/nameless.desktop"_s, "[Desktop Entry]\nType=Application\nExec=x\n");
    writeFile(system + u"/sectioned.desktop"_s,
              "# comment\n[Desktop Action New]\nName=Wrong\n[Desktop Entry]\nName=Right\nName[fr]=Juste\nType=Application\n");

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

// ---- Processes grouped into applications ---------------------------------------------------------

TEST(WorkspaceGrouping, AnAppUnitIsOneApplicationReachingEveryProcessInIt) {
    const QString scope = u"/user.slice/u/app.slice/app-gnome-google\\x2dchrome-77.scope"_s;
    Process main = proc(100, u"chrome"_s, scope);
    main.launchedId = u"google-chrome"_s;
    const QList<RunningApp> apps = group({proc(102, u"chrome_crashpad_handler"_s, scope), proc(101, u"chrome"_s, scope), main},
                                         DesktopIndex{});
    ASSERT_EQ(apps.size(), 2);
    const RunningApp& chrome = apps[0];
    EXPECT_EQ(chrome.bundleID, u"google-chrome"_s);
    EXPECT_EQ(chrome.identifiers, (QStringList{u"google-chrome"_s, u"chrome"_s}));
    EXPECT_EQ(chrome.cgroup, scope);
    EXPECT_EQ(chrome.pid, 100);
    EXPECT_EQ(pidsOf(chrome), (QList<qint64>{100, 101, 102}));
    EXPECT_EQ(chrome.processes[0].started, 1000u);
    EXPECT_EQ(chrome.name, u"chrome"_s); // no desktop entry: the executable's name
    // The crash reporter goes by a name of its own; on its own it reaches only itself.
    EXPECT_EQ(apps[1].identifiers, (QStringList{u"chrome_crashpad_handler"_s}));
    EXPECT_TRUE(apps[1].cgroup.isEmpty());
    EXPECT_EQ(pidsOf(apps[1]), (QList<qint64>{102}));
}

TEST(WorkspaceGrouping, AProgramStartedFromATerminalIsNotTheTerminal) {
    // Older terminals keep their shells, and what the shells start, in their own app unit.
    const QString scope = u"/user.slice/u/app.slice/app-gnome-org.gnome.Terminal-3.scope"_s;
    Process terminal = proc(200, u"gnome-terminal-server"_s, scope);
    terminal.launchedId = u"org.gnome.Terminal"_s;
    const QList<RunningApp> apps = group({terminal, proc(201, u"bash"_s, scope), proc(202, u"slack"_s, scope),
                                          proc(203, u"slack"_s, scope), proc(204, u"slack"_s, u"/other.scope"_s)},
                                         DesktopIndex{});
    ASSERT_EQ(apps.size(), 4);
    EXPECT_EQ(apps[0].identifiers, (QStringList{u"org.gnome.Terminal"_s, u"gnome-terminal-server"_s}));
    EXPECT_EQ(apps[0].cgroup, scope);
    EXPECT_EQ(apps[1].identifiers, (QStringList{u"bash"_s}));
    // Slack's processes of one control group are one application that reaches only them.
    EXPECT_EQ(apps[2].identifiers, (QStringList{u"slack"_s, u"com.tinyspeck.slackmacgap"_s}));
    EXPECT_EQ(pidsOf(apps[2]), (QList<qint64>{202, 203}));
    EXPECT_TRUE(apps[2].cgroup.isEmpty());
    EXPECT_EQ(pidsOf(apps[3]), (QList<qint64>{204}));

    // The unit's first process is its application even when its executable has another name.
    const QString konsole = u"/user.slice/u/app.slice/app-org.kde.konsole-5f2e.scope"_s;
    const QList<RunningApp> kde =
        group({proc(251, u"bash"_s, konsole), proc(250, u"konsole"_s, konsole)}, DesktopIndex{});
    ASSERT_EQ(kde.size(), 2);
    EXPECT_EQ(kde[0].identifiers, (QStringList{u"org.kde.konsole"_s, u"konsole"_s}));
    EXPECT_EQ(pidsOf(kde[0]), (QList<qint64>{250, 251}));
    EXPECT_EQ(kde[1].identifiers, (QStringList{u"bash"_s}));
}

TEST(WorkspaceGrouping, MacIdentifiersOfSeedLockupsReachTheirLinuxApplications) {
    Process flatpak = proc(300, u"slack"_s, u"/a/app.slice/app-flatpak-com.slack.Slack-1.scope"_s);
    flatpak.flatpakId = u"com.slack.Slack"_s;
    Process snap = proc(310, u"Discord"_s, u"/a/app.slice/snap.discord.discord-ab12.scope"_s);
    Process deb = proc(320, u"Discord"_s);
    Process sms = proc(330, u"kdeconnect-sms"_s, u"/a/app.slice/app-org.kde.kdeconnect.sms@x.service"_s);
    Process lookalike = proc(340, u"slackware-setup"_s);
    const QList<RunningApp> apps = group({flatpak, snap, deb, sms, lookalike}, DesktopIndex{});
    ASSERT_EQ(apps.size(), 5);
    // The local identifier stays the main one; the foreign one is only another name.
    EXPECT_EQ(apps[0].bundleID, u"com.slack.Slack"_s);
    EXPECT_TRUE(apps[0].identifiers.contains(u"com.tinyspeck.slackmacgap"_s));
    EXPECT_TRUE(apps[1].identifiers.contains(u"com.hnc.discord"_s));
    EXPECT_TRUE(apps[2].identifiers.contains(u"com.hnc.discord"_s)); // "Discord" matches "discord"
    EXPECT_TRUE(apps[3].identifiers.contains(u"com.apple.mobilesms"_s));
    EXPECT_EQ(apps[4].identifiers, (QStringList{u"slackware-setup"_s}));
}

// ---- The workspace over a /proc-style folder -----------------------------------------------------

namespace {
// Process ids above the kernel's highest possible id: nothing real is ever reached through them.
constexpr qint64 kFake = 4300000;

struct WorkspaceProcFolder : ::testing::Test {
    QTemporaryDir tmp;
    QString root, apps;
    ProcWorkspace ws;

    void SetUp() override {
        root = tmp.path() + u"/proc"_s;
        apps = tmp.path() + u"/applications"_s;
        QDir().mkpath(root);
        ws.setProcRoot(root);
        ws.setCgroupRoot(tmp.path() + u"/cgroup"_s);
        ws.setApplicationDirs({apps});
        ws.setProcessFilter([](qint64 pid) { return pid > kFake; });
    }
    void addProcess(qint64 pid, const QString& exePath, const QByteArray& cgroup, const QByteArray& env = {},
                    char state = 'S', const QByteArray& flatpakInfo = {}) {
        const QString dir = root + u'/' + QString::number(pid);
        QDir().mkpath(dir);
        if (!exePath.isEmpty()) QFile::link(exePath, dir + u"/exe"_s);
        writeFile(dir + u"/stat"_s, statLine(pid, "x", state, quint64(pid)));
        writeFile(dir + u"/cgroup"_s, cgroup);
        writeFile(dir + u"/environ"_s, env);
        if (!flatpakInfo.isEmpty()) writeFile(dir + u"/root/.flatpak-info"_s, flatpakInfo);
    }
};
} // namespace

TEST_F(WorkspaceProcFolder, TheUsersProcessesBecomeApplicationsByTheIdentityRules) {
    const QByteArray slice = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    addProcess(kFake + 1, u"/app/extra/slack"_s, slice + "app-flatpak-com.slack.Slack-12.scope\n", {}, 'S',
               "[Application]\nname=com.slack.Slack\n");
    addProcess(kFake + 2, u"/app/extra/slack"_s, slice + "app-flatpak-com.slack.Slack-12.scope\n", {}, 'S',
               "[Application]\nname=com.slack.Slack\n");
    const QByteArray terminal = slice + "app-gnome-org.gnome.Terminal-3.scope\n";
    const QByteArray launched = envBlock({"GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/org.gnome.Terminal.desktop",
                                         "GIO_LAUNCHED_DESKTOP_FILE_PID=4300010"});
    addProcess(kFake + 10, u"/usr/libexec/gnome-terminal-server"_s, terminal, launched);
    addProcess(kFake + 11, u"/usr/bin/bash"_s, terminal, launched); // inherited, not launched
    addProcess(kFake + 12, u"/usr/share/discord/Discord (deleted)"_s, terminal, launched);
    addProcess(kFake + 20, u"/usr/bin/defunct"_s, "0::/x\n", {}, 'Z'); // a zombie is gone already
    addProcess(kFake + 21, QString(), "0::/\n");                       // a kernel thread has no executable
    addProcess(kFake + 30, u"/usr/bin/gnome-shell"_s, "0::/user.slice/user-1000.slice/session-2.scope\n");
    QDir().mkpath(root + u"/self"_s);
    QDir().mkpath(root + u"/4300abc"_s);
    writeFile(apps + u"/com.slack.Slack.desktop"_s, desktopFile("Slack"));
    writeFile(apps + u"/org.gnome.Terminal.desktop"_s, desktopFile("Terminal"));
    writeFile(apps + u"/discord.desktop"_s, desktopFile("Discord"));

    const QList<RunningApp> list = ws.runningApplications();
    QStringList ids;
    for (const RunningApp& a : list) ids.append(a.bundleID);
    EXPECT_EQ(ids, (QStringList{u"com.slack.Slack"_s, u"org.gnome.Terminal"_s, u"bash"_s, u"Discord"_s,
                                u"gnome-shell"_s}));

    const RunningApp* slack = findApp(list, u"com.slack.Slack"_s);
    ASSERT_TRUE(slack);
    EXPECT_EQ(slack->name, u"Slack"_s);
    EXPECT_TRUE(slack->regular);
    EXPECT_EQ(pidsOf(*slack), (QList<qint64>{kFake + 1, kFake + 2}));
    EXPECT_EQ(slack->processes[1].started, quint64(kFake + 2));
    EXPECT_EQ(slack->cgroup, QString::fromUtf8(slice.mid(3) + "app-flatpak-com.slack.Slack-12.scope"));
    EXPECT_EQ(findApp(list, u"org.gnome.Terminal"_s)->name, u"Terminal"_s);
    const RunningApp* bash = findApp(list, u"bash"_s);
    EXPECT_EQ(bash->name, u"bash"_s);
    EXPECT_FALSE(bash->regular);
    EXPECT_EQ(findApp(list, u"Discord"_s)->name, u"Discord"_s);

    // The monitor over it: seed identifiers reach the local applications, the shell is never held.
    QStringList held;
    AppMonitor monitor(ws);
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blocking({u"Com.Tinyspeck.SlackMacGap"_s, u"com.hnc.Discord"_s, u"gnome-shell"_s}));
    EXPECT_EQ(held, (QStringList{u"Slack"_s, u"Discord"_s}));
    EXPECT_TRUE(monitor.exempt().contains(u"gnome-shell"_s));
}

// ---- Real processes ------------------------------------------------------------------------------

namespace {
struct WorkspaceRealProcesses : ::testing::Test {
    QTemporaryDir tmp;
    ProcWorkspace ws;
    QSet<qint64> children;
    std::vector<std::unique_ptr<QProcess>> procs;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        ws.setApplicationDirs({tmp.path() + u"/applications"_s});
        ws.setCgroupRoot(tmp.path() + u"/cgroup"_s);
        // Only our own children are ever seen, so nothing else on the machine can be reached.
        ws.setProcessFilter([this](qint64 pid) { return children.contains(pid); });
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
    const RunningApp* appNamed(const QList<RunningApp>& apps, const QString& id) { return findApp(apps, id); }
    static bool killedBy(QProcess& p, int) { return p.waitForFinished(5000) && p.exitStatus() == QProcess::CrashExit; }
    static bool stillRunning(QProcess& p) { return !p.waitForFinished(100) && p.state() == QProcess::Running; }
};
} // namespace

TEST_F(WorkspaceRealProcesses, ABlockedProgramIsTerminatedByTheSweepAndReportedOnce) {
    writeFile(tmp.path() + u"/applications/mivra-test-focusthief.desktop"_s, desktopFile("Focus Thief"));
    QProcess& thief1 = sleeper(u"mivra-test-focusthief"_s);
    QProcess& thief2 = sleeper(u"mivra-test-focusthief"_s);
    QProcess& bystander = sleeper(u"mivra-test-bystander"_s);

    QStringList held;
    AppMonitor monitor(ws);
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blocking({u"MIVRA-TEST-FOCUSTHIEF"_s}));

    EXPECT_EQ(held, (QStringList{u"Focus Thief"_s})); // two processes, one application
    EXPECT_TRUE(killedBy(thief1, SIGTERM));
    EXPECT_TRUE(killedBy(thief2, SIGTERM));
    EXPECT_TRUE(stillRunning(bystander));

    monitor.sweep(); // nothing of it is left to hold
    EXPECT_EQ(held.size(), 1);
    for (const RunningApp& a : ws.runningApplications())
        EXPECT_FALSE(a.identifiers.contains(u"mivra-test-focusthief"_s));
}

TEST_F(WorkspaceRealProcesses, AProgramThatIgnoresSigtermIsKilledByForce) {
    QProcess& stubborn = sleeper(u"mivra-test-stubborn"_s, true);
    const QList<RunningApp> apps = ws.runningApplications();
    const RunningApp* app = appNamed(apps, u"mivra-test-stubborn"_s);
    ASSERT_TRUE(app);

    EXPECT_TRUE(ws.terminate(*app)); // delivered, and ignored
    EXPECT_TRUE(stillRunning(stubborn));
    EXPECT_FALSE(ws.isTerminated(*app));

    ws.forceTerminate(*app);
    EXPECT_TRUE(killedBy(stubborn, SIGKILL));
    EXPECT_TRUE(ws.isTerminated(*app));
    EXPECT_TRUE(ws.terminate(*app)); // nothing left to ask
}

TEST_F(WorkspaceRealProcesses, AProcessIdNowHeldByAnotherProcessIsNeverSignalled) {
    QProcess& other = sleeper(u"mivra-test-newcomer"_s);
    const QList<RunningApp> apps = ws.runningApplications();
    ASSERT_TRUE(findApp(apps, u"mivra-test-newcomer"_s));
    RunningApp seen = *findApp(apps, u"mivra-test-newcomer"_s);
    seen.processes.first().started += 1; // the process we saw started at another time: it is gone

    EXPECT_TRUE(ws.isTerminated(seen));
    ws.forceTerminate(seen);
    EXPECT_TRUE(stillRunning(other));
}

TEST_F(WorkspaceRealProcesses, VitalProgramsAndThisProcessAreNeverSignalled) {
    const QStringList vital{u"gnome-shell"_s, u"Xwayland"_s, u"dbus-daemon"_s, u"systemd"_s, u"plasmashell"_s};
    QList<QProcess*> spared;
    for (const QString& name : vital) spared.append(&sleeper(name));
    spared.append(&sleeper(u"mivra"_s));
    QProcess& sentinel = sleeper(u"mivra-test-sentinel"_s);
    const qint64 self = QCoreApplication::applicationPid();
    children.insert(self);
    const QString selfName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();

    const QList<RunningApp> apps = ws.runningApplications();
    for (const RunningApp& a : apps) EXPECT_NE(a.pid, self);

    // The workspace itself refuses, even when asked directly.
    for (const QString& name : vital) {
        const RunningApp* a = appNamed(apps, name);
        ASSERT_TRUE(a) << qPrintable(name);
        ws.terminate(*a);
        ws.forceTerminate(*a);
    }
    RunningApp me;
    me.pid = self;
    me.processes = {{self, 0}};
    ws.forceTerminate(me);

    AppMonitor monitor(ws);
    QStringList held;
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blocking(vital + QStringList{u"mivra"_s, u"mivra-test-sentinel"_s, selfName}));
    EXPECT_EQ(held, (QStringList{u"mivra-test-sentinel"_s}));
    EXPECT_TRUE(killedBy(sentinel, SIGTERM)); // signals sent in the same sweep have landed by now
    for (QProcess* p : spared) EXPECT_TRUE(stillRunning(*p)) << qPrintable(p->program());
}

TEST_F(WorkspaceRealProcesses, AnAppLaunchedFromTheDesktopIsHeldAtOnceWithItsWholeUnit) {
    const QString uid = QString::number(::getuid());
    const QString sliceRel = u"/user.slice/user-"_s + uid + u".slice/user@"_s + uid + u".service/app.slice"_s;
    const QString slice = tmp.path() + u"/cgroup"_s + sliceRel;

    // Without a systemd user session there is nothing to watch; the sweep alone does the work.
    AppMonitor monitor(ws);
    monitor.start(blocking({u"org.example.FocusThief"_s}));
    EXPECT_FALSE(ws.isWatchingLaunches());
    monitor.stop();

    QDir().mkpath(slice);
    writeFile(tmp.path() + u"/applications/org.example.FocusThief.desktop"_s, desktopFile("Focus Thief"));
    QStringList held;
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blocking({u"org.example.focusthief"_s}));
    ASSERT_TRUE(ws.isWatchingLaunches());

    // The application's processes go by other names; only its unit says what it is, and the real
    // control group of these children is not that unit, so only the launch can find them.
    QProcess& main = sleeper(u"mivra-test-main"_s);
    QProcess& helper = sleeper(u"mivra-test-helper"_s);
    QSignalSpy launches(&ws, &Workspace::launched);
    QList<RunningApp> launched;
    QObject::connect(&ws, &Workspace::launched, &ws, [&](const RunningApp& a) { launched.append(a); });
    const QString unitDir = slice + u"/app-gnome-org.example.FocusThief-4242.scope"_s;
    QDir().mkpath(unitDir);
    writeFile(unitDir + u"/cgroup.procs"_s, "0\n-1\n" + QByteArray::number(main.processId()) + '\n' +
                                                 QByteArray::number(helper.processId()) + '\n');
    writeFile(unitDir + u"/cgroup.events"_s, "populated 0\nfrozen 0\n");
    EXPECT_FALSE(launches.wait(300)); // created, but nothing runs in it yet
    EXPECT_TRUE(held.isEmpty());

    writeFile(unitDir + u"/cgroup.events"_s, "populated 1\nfrozen 0\n");
    ASSERT_TRUE(launches.wait(5000));
    ASSERT_EQ(launched.size(), 1);
    const RunningApp& app = launched.first();
    EXPECT_EQ(app.bundleID, u"org.example.FocusThief"_s);
    EXPECT_EQ(app.cgroup, sliceRel + u"/app-gnome-org.example.FocusThief-4242.scope"_s);
    EXPECT_EQ(held, (QStringList{u"Focus Thief"_s}));
    EXPECT_TRUE(killedBy(main, SIGTERM));
    EXPECT_TRUE(killedBy(helper, SIGTERM));

    monitor.stop();
    EXPECT_FALSE(ws.isWatchingLaunches());
}

TEST_F(WorkspaceRealProcesses, ALaunchedServiceIsLookedAtAgainUntilItRunsTheApplication) {
    const QString uid = QString::number(::getuid());
    const QString slice = tmp.path() + u"/cgroup/user.slice/user-"_s + uid + u".slice/user@"_s + uid +
                          u".service/app.slice"_s;
    QDir().mkpath(slice);
    AppMonitor monitor(ws);
    QStringList held;
    monitor.onHold = [&](const QString& name) { held.append(name); };
    monitor.start(blocking({u"org.example.Chat"_s}));
    ASSERT_TRUE(ws.isWatchingLaunches());

    // Right after the fork the service's process still runs the service manager's executable.
    QProcess& fork = sleeper(u"systemd"_s);
    QProcess& chat = sleeper(u"mivra-test-chat"_s);
    QSignalSpy launches(&ws, &Workspace::launched);
    const QString unitDir = slice + u"/app-org.example.Chat@0f3c.service"_s;
    QDir().mkpath(unitDir);
    writeFile(unitDir + u"/cgroup.procs"_s, QByteArray::number(fork.processId()) + '\n');
    writeFile(unitDir + u"/cgroup.events"_s, "populated 1\n");
    EXPECT_FALSE(launches.wait(100));
    // It has become the application.
    writeFile(unitDir + u"/cgroup.procs"_s, QByteArray::number(chat.processId()) + '\n');
    ASSERT_TRUE(launches.wait(5000));
    EXPECT_EQ(held, (QStringList{u"mivra-test-chat"_s})); // no desktop entry: its executable
    EXPECT_TRUE(killedBy(chat, SIGTERM));
    EXPECT_TRUE(stillRunning(fork));
}
