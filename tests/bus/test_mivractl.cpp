// SPDX-License-Identifier: GPL-3.0-or-later
// mivractl against a stand-in Mivra (the real interface over a real engine on fakes) on a private bus.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {
struct CtlRun {
    int status = -1;
    QString out, err;
};

struct Mivractl : ::testing::Test {
    QTemporaryDir config;
    QProcess host;

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run through dbus-run-session)";
    }
    void TearDown() override {
        host.terminate();
        host.waitForFinished(5000);
        // The next test starts with no Mivra on the bus.
        for (int i = 0; i < 100 && up(); ++i)
            QTest::qWait(20);
    }
    static bool up() {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(u"app.oriflan.mivra"_s).value();
    }
    void startHost(const QStringList& args) {
        host.start(QStringLiteral(MIVRA_TESTHOST), args);
        ASSERT_TRUE(host.waitForReadyRead(10000));
        ASSERT_EQ(host.readLine().trimmed(), "ready");
    }
    // Every process's files go to the temporary folder.
    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(u"XDG_CONFIG_HOME"_s, config.path());
        for (const char* key : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const QString dir = config.path() + u'/' + QString::fromLatin1(key);
            QDir().mkpath(dir);
            QFile::setPermissions(dir,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            e.insert(QString::fromLatin1(key), dir);
        }
        e.insert(u"LANG"_s, u"en_US.UTF-8"_s);
        e.insert(u"LANGUAGE"_s, u"en_US"_s);
        return e;
    }
    CtlRun ctl(const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.setProcessEnvironment(env());
        p.start(QStringLiteral(MIVRACTL), args);
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(10000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
                QString::fromUtf8(p.readAllStandardError()).trimmed()};
    }
    static void callMivra(const QString& method, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(u"app.oriflan.mivra"_s, u"/app/oriflan/mivra"_s,
                                                        u"app.oriflan.Mivra1"_s, method);
        m.setArguments(args);
        QDBusConnection::sessionBus().call(m);
    }
};
} // namespace

TEST_F(Mivractl, UsageHelpAndEveryCommandWhenMivraIsNotRunning) {
    const CtlRun help = ctl({u"--help"_s});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(u"Usage: mivractl COMMAND"_s));
    for (const QStringList& wrong :
         QList<QStringList>{{}, {u"rol"_s}, {u"status"_s, u"--yaml"_s}, {u"roll"_s, u"now"_s}})
        EXPECT_EQ(ctl(wrong).status, 2) << wrong.join(u' ').toStdString();
    for (const char* command :
         {"status", "roll", "pause", "cut", "skip", "open-set", "close-set", "show", "quit"}) {
        const CtlRun r = ctl({QString::fromLatin1(command)});
        EXPECT_EQ(r.status, 3) << command;
        EXPECT_EQ(r.err, u"mivractl: Mivra isn't running."_s) << command;
        EXPECT_TRUE(r.out.isEmpty()) << command;
    }
    // The stored language is used while Mivra cannot be asked.
    QDir().mkpath(config.path() + u"/oriflan"_s);
    QFile conf(config.path() + u"/oriflan/mivra.conf"_s);
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) && conf.write("[General]\noriflan_lang=fr\n") > 0);
    conf.close();
    EXPECT_EQ(ctl({u"status"_s}).err, u"mivractl: Mivra n'est pas lancé."_s);
}

// One run in French: what mivractl prints follows the interface's language, not its own locale.
TEST_F(Mivractl, DrivesATakeAndReportsWhatTheGateRefuses) {
    startHost({u"--lang"_s, u"fr"_s, u"--password"_s, u"secret"_s});
    const struct {
        QString lock; // chosen on the bus first, when not empty
        QStringList args;
        QByteArray input; // the password, exactly as typed
        int status;
        QString out, err; // prefixes of standard output and standard error
    } steps[] = {
        {{}, {u"status"_s}, {}, 0, u"en attente 25:00 · "_s, {}},
        {{}, {u"cut"_s}, {}, 1, {}, u"mivractl: Rien à couper."_s},
        {{}, {u"roll"_s}, {}, 0, {}, {}},
        {{}, {u"status"_s}, {}, 0, u"ça tourne 25:00 · "_s, {}},
        {{}, {u"roll"_s}, {}, 1, {}, u"mivractl: Le chrono tourne déjà."_s},
        {{}, {u"open-set"_s}, {}, 1, {}, u"mivractl: Le mode quota est désactivé."_s},
        {{}, {u"pause"_s}, {}, 0, {}, {}},
        {{}, {u"status"_s}, {}, 0, u"ça tourne 25:00 · en pause · "_s, {}},
        {{}, {u"cut"_s}, {}, 0, {}, {}},
        {{}, {u"status"_s}, {}, 0, u"en attente 25:00"_s, {}},
        {{}, {u"show"_s}, {}, 0, {}, {}},
        {u"password"_s, {u"roll"_s}, {}, 0, {}, {}},
        {{}, {u"cut"_s}, "secret \n", 1, {}, u"mivractl: Mauvais mot de passe."_s},
        {{}, {u"quit"_s}, "", 1, {}, u"mivractl: "_s},
        {{}, {u"cut"_s}, "secret\n", 0, {}, {}},
        {u"timer"_s, {u"roll"_s}, {}, 0, {}, {}},
        {{}, {u"quit"_s}, {}, 1, {}, u"mivractl: La barrière est verrouillée au minuteur."_s},
        {{}, {u"status"_s}, {}, 0, u"ça tourne "_s, {}},
        {{}, {u"skip"_s}, {}, 1, {}, u"mivractl: Aucune pause à passer."_s},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(QString(s.lock + u' ' + s.args.join(u' ')).toStdString());
        if (!s.lock.isEmpty()) callMivra(u"SetPendingLock"_s, {s.lock});
        const CtlRun r = ctl(s.args, s.input);
        EXPECT_EQ(r.status, s.status);
        EXPECT_TRUE(r.out.startsWith(s.out)) << r.out.toStdString();
        EXPECT_TRUE(s.err.isEmpty() ? r.err.isEmpty() : r.err.startsWith(s.err)) << r.err.toStdString();
    }
    ASSERT_TRUE(host.waitForReadyRead(2000));
    EXPECT_EQ(host.readLine().trimmed(), "popover");
    EXPECT_EQ(host.state(), QProcess::Running);
}

TEST_F(Mivractl, AStoppedMivraIsToldApartFromAnAbsentOne) {
    startHost({u"--lang"_s, u"en"_s});
    ::kill(pid_t(host.processId()), SIGSTOP);
    for (const QStringList& args : QList<QStringList>{{u"status"_s}, {u"roll"_s}, {u"quit"_s}}) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        const CtlRun r = ctl(args);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err, u"mivractl: Mivra doesn't answer: it is hung or stopped."_s);
    }
    // A second start says so too, instead of leaving as if the first had shown itself.
    QProcess second;
    QProcessEnvironment e = env();
    e.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    second.setProcessEnvironment(e);
    second.start(QStringLiteral(MIVRA_APP), {});
    EXPECT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardError()).trimmed(),
              u"mivra: Mivra is already running but does not answer: it is hung or stopped."_s);
    ::kill(pid_t(host.processId()), SIGCONT);
    EXPECT_EQ(ctl({u"status"_s}).status, 0);
}

TEST_F(Mivractl, TheApplicationItselfAnswersAndLeavesWhenAsked) {
    // The application itself, offscreen.
    QProcessEnvironment e = env();
    e.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    e.insert(u"QT_QUICK_BACKEND"_s, u"software"_s);
    host.setProcessEnvironment(e);
    host.start(QStringLiteral(MIVRA_APP), {});
    for (int i = 0; i < 500 && !up(); ++i)
        QTest::qWait(20);
    ASSERT_TRUE(up());
    EXPECT_TRUE(ctl({u"status"_s}).out.startsWith(u"standby 25:00"_s));
    EXPECT_EQ(ctl({u"roll"_s}).status, 0);
    const QJsonObject json = QJsonDocument::fromJson(ctl({u"status"_s, u"--json"_s}).out.toUtf8()).object();
    EXPECT_EQ(json.value(u"Phase"_s).toString(), u"rolling"_s);
    EXPECT_GT(json.value(u"Remaining"_s).toInteger(), 1400);
    EXPECT_FALSE(json.value(u"ActiveLockup"_s).toObject().value(u"name"_s).toString().isEmpty());
    EXPECT_EQ(json.value(u"NextMeeting"_s).toObject().value(u"title"_s).toString(), QString());
    EXPECT_EQ(ctl({u"quit"_s}).status, 0);
    EXPECT_TRUE(host.waitForFinished(10000));
    EXPECT_EQ(ctl({u"status"_s}).status, 3);

    // The end of the session (SIGHUP) asks to quit as SIGTERM does: an open gate lets Mivra go, a
    // take locked to the timer keeps it.
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "open");
        host.start(QStringLiteral(MIVRA_APP), {});
        for (int i = 0; i < 500 && !up(); ++i)
            QTest::qWait(20);
        ASSERT_TRUE(up());
        if (locked) {
            callMivra(u"SetPendingLock"_s, {u"timer"_s});
            EXPECT_EQ(ctl({u"roll"_s}).status, 0);
        }
        ::kill(pid_t(host.processId()), SIGHUP);
        if (!locked) {
            EXPECT_TRUE(host.waitForFinished(10000));
            EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(host.exitCode(), 0);
            for (int i = 0; i < 100 && up(); ++i)
                QTest::qWait(20);
            continue;
        }
        EXPECT_EQ(ctl({u"quit"_s}).status, 1);
        EXPECT_EQ(host.state(), QProcess::Running);
        host.kill();
        host.waitForFinished(10000);
    }
}

TEST_F(Mivractl, WatchPrintsALinePerChangeAndNoneBetween) {
    startHost({u"--tick-ms"_s, u"100"_s});
    QProcess watch;
    watch.setProcessEnvironment(env());
    watch.start(QStringLiteral(MIVRACTL), {u"watch"_s});
    auto nextLine = [&watch]() -> QJsonObject {
        if (!watch.canReadLine() && !watch.waitForReadyRead(3000)) return {};
        return QJsonDocument::fromJson(watch.readLine()).object();
    };
    // The plain form, for bars that show each line they read: the text alone, printed when it changes.
    QProcess plain;
    plain.setProcessEnvironment(env());
    plain.start(QStringLiteral(MIVRACTL), {u"watch"_s, u"--plain"_s});
    auto nextPlain = [&plain]() -> std::optional<QString> {
        if (!plain.canReadLine() && !plain.waitForReadyRead(3000)) return std::nullopt;
        return QString::fromUtf8(plain.readLine()).chopped(1);
    };
    EXPECT_EQ(nextPlain(), u"25:00"_s);
    const QJsonObject first = nextLine();
    EXPECT_EQ(first.value(u"class"_s).toString(), u"standby"_s);
    EXPECT_EQ(first.value(u"text"_s).toString(), u"25:00"_s);
    EXPECT_EQ(first.value(u"percentage"_s).toInteger(), 0);
    EXPECT_TRUE(first.value(u"tooltip"_s).toString().contains(u"takes printed"_s));
    // Idle: the engine ticks, nothing changes, nothing is printed.
    QTest::qWait(400);
    EXPECT_FALSE(watch.canReadLine());

    callMivra(u"RollOrResume"_s);
    QStringList clocks;
    for (int i = 0; i < 4; ++i) {
        const QJsonObject line = nextLine();
        EXPECT_EQ(line.value(u"class"_s).toString(), u"rolling"_s);
        clocks << line.value(u"text"_s).toString();
    }
    EXPECT_EQ(clocks, (QStringList{u"25:00"_s, u"24:59"_s, u"24:58"_s, u"24:57"_s}));
    // The same text in another phase is no new line for the plain form.
    for (const QString& clock : {u"24:59"_s, u"24:58"_s, u"24:57"_s})
        EXPECT_EQ(nextPlain(), clock);

    callMivra(u"Pause"_s);
    QTest::qWait(150);
    watch.readAll();
    QTest::qWait(400);
    EXPECT_FALSE(watch.canReadLine()) << "a paused clock prints nothing";

    host.terminate();
    host.waitForFinished(5000);
    EXPECT_EQ(nextLine().value(u"class"_s).toString(), u"stopped"_s);
    bool emptied = false;
    while (const std::optional<QString> line = nextPlain())
        if ((emptied = line->isEmpty())) break;
    EXPECT_TRUE(emptied) << "stopped: the bar is emptied";
    watch.terminate();
    watch.waitForFinished(5000);
    plain.terminate();
    plain.waitForFinished(5000);
}

// Help, version and wrong usage are answered at once, with no display and no Mivra running.
TEST_F(Mivractl, HelpVersionAndWrongUsageNeedNoDisplay) {
    QProcessEnvironment e = env();
    for (const char* key : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        e.remove(QString::fromLatin1(key));
    const struct {
        const char* program;
        QStringList args;
        int status;
        QString out, err; // each a start the output must have
    } cases[] = {
        {MIVRA_APP, {u"--help"_s}, 0, u"Usage: mivra [--help] [--version]"_s, {}},
        {MIVRA_APP, {u"-h"_s}, 0, u"Usage: mivra"_s, {}},
        {MIVRA_APP, {u"--version"_s}, 0, u"mivra "_s, {}},
        {MIVRA_APP, {u"--frobnicate"_s}, 2, {}, u"mivra: unknown option: --frobnicate\nUsage: mivra"_s},
        {MIVRA_APP, {u"-platform"_s, u"offscreen"_s, u"--nope"_s}, 2, {}, u"mivra: unknown option: --nope"_s},
        {MIVRACTL, {u"--version"_s}, 0, u"mivractl "_s, {}},
        {MIVRACTL, {u"--version"_s, u"x"_s}, 2, {}, u"mivractl: unknown command"_s},
        {MIVRACTL, {u"helper"_s}, 2, {}, u"mivractl: unknown command"_s},
        {MIVRACTL, {u"helper"_s, u"install"_s}, 2, {}, u"mivractl: unknown command"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString(QString::fromLatin1(c.program).section(u'/', -1) + u' ' + c.args.join(u' '))
                         .toStdString());
        QProcess p;
        p.setProcessEnvironment(e);
        p.start(QString::fromLatin1(c.program), c.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), c.status);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(out.startsWith(c.out)) << out.toStdString();
        EXPECT_TRUE(err.startsWith(c.err)) << err.toStdString();
        if (c.out.isEmpty()) {
            EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        }
        if (c.status == 0) {
            EXPECT_GT(out.trimmed().size(), c.out.trimmed().size()) << "something follows";
        }
    }
}

// With the session service file in place, only `show` starts Mivra.
using MivractlActivation = Mivractl;
TEST_F(MivractlActivation, OnlyShowStartsMivra) {
    if (qEnvironmentVariableIsEmpty("MIVRA_BUS_ACTIVATES"))
        GTEST_SKIP() << "needs the bus with Mivra's service file";
    for (const char* command : {"status", "roll", "quit"}) {
        EXPECT_EQ(ctl({QString::fromLatin1(command)}).status, 3) << command;
        EXPECT_FALSE(up()) << command;
    }
    const CtlRun show = ctl({u"show"_s});
    EXPECT_EQ(show.status, 0) << show.err.toStdString();
    EXPECT_TRUE(up());
    EXPECT_TRUE(ctl({u"status"_s}).out.startsWith(u"standby"_s));
    EXPECT_EQ(ctl({u"quit"_s}).status, 0);
}
