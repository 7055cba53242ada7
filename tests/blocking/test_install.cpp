// Installing and removing the helper through the Blocker: staging, the worker thread, what the
// person sees afterwards, and pkexec's outcomes.
#include "blocking/blocker.h"
#include "blocking/rootside.h"
#include "engine/loc.h"
#include "fakes/fakes.h"
#include "platform/linux/pkexecrunner.h"
#include "rootsandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs the event loop until `done` holds, for at most `ms` milliseconds.
bool waitUntil(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

const QString defaultEn = u"Install was cancelled or failed."_s;
const QString defaultFr = u"Installation annulée ou échouée."_s;

class InstallFlow : public ::testing::Test {
protected:
    void SetUp() override {
        loc = std::make_unique<Loc>(defaults, QStringList{u"en-US"_s});
        makeBlocker(fakeRunner);
    }

    void makeBlocker(PrivilegedRunner& runner) {
        blocker = std::make_unique<Blocker>(layout(), staging(), runner);
        blocker->setDaemonCandidates({dir.path() + u"/daemon"_s});
        RootSandbox::write(dir.path() + u"/daemon"_s, "#!/bin/sh\nexit 0\n", 0755);
        events.clear();
        // Every change the interface could see, in order, and whether it came on the GUI thread.
        QObject::connect(blocker.get(), &Blocker::installedChanged,
                         [this] { record(u"installed:"_s + (blocker->installed() ? u"yes"_s : u"no"_s)); });
        QObject::connect(blocker.get(), &Blocker::lastErrorChanged,
                         [this] { record(u"error:"_s + blocker->lastErrorText()); });
    }

    RootLayout layout() const { return RootLayout::under(dir.path() + u"/root"_s); }
    QString staging() const { return dir.path() + u"/data/install"_s; }

    void record(const QString& event) {
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) offThread = true;
        events << event;
    }

    // Installs or removes and waits for the completion; returns what it was given.
    bool run(bool installing) {
        std::optional<bool> result;
        auto done = [this, &result](bool ok) {
            record(u"done:"_s + (ok ? u"yes"_s : u"no"_s));
            result = ok;
        };
        if (installing)
            blocker->install(done);
        else
            blocker->uninstall(done);
        EXPECT_FALSE(result.has_value()) << "the completion comes later, on the event loop";
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(false);
    }

    // A runner outcome for the fake runner.
    void runnerGives(PrivilegedResult result) {
        fakeRunner.handler = [this, result](const QString&) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) ranOnGuiThread = true;
            return result;
        };
    }

    QTemporaryDir dir;
    MemoryDefaults defaults;
    std::unique_ptr<Loc> loc;
    FakeRunner fakeRunner;
    std::unique_ptr<Blocker> blocker;
    QStringList events;
    bool offThread = false;
    bool ranOnGuiThread = false;
};

TEST_F(InstallFlow, StagesEveryFileThenRunsTheScriptOffTheGuiThread) {
    QDir().mkpath(staging());
    RootSandbox::write(staging() + u"/mivra-blockpage"_s, "stale daemon");
    QStringList staged;
    QByteArray runScript;
    fakeRunner.handler = [&](const QString& script) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) ranOnGuiThread = true;
        staged = QDir(staging()).entryList(QDir::Files, QDir::Name);
        runScript = RootSandbox::read(script);
        // What the root side would do: write the version.
        QDir().mkpath(layout().stateDirectory);
        RootSandbox::write(layout().versionFile(), "3\n");
        return PrivilegedResult{true, {}, 0, {}};
    };
    EXPECT_TRUE(run(true));
    EXPECT_FALSE(ranOnGuiThread);
    EXPECT_FALSE(offThread);
    EXPECT_EQ(fakeRunner.scripts, QStringList{staging() + u"/run.sh"_s});
    EXPECT_EQ(staged,
              (QStringList{u"app.oriflan.mivra.blockpage.path"_s, u"app.oriflan.mivra.blockpage.service"_s,
                           u"app.oriflan.mivra.lockup.path"_s, u"app.oriflan.mivra.lockup.service"_s,
                           u"app.oriflan.mivra.sweep.service"_s, u"app.oriflan.mivra.sweep.timer"_s,
                           u"lockup-apply.sh"_s, u"mivra-blockpage"_s, u"run.sh"_s}));
    EXPECT_EQ(runScript, RootSide(hostRootPlatform(), layout()).installScript(staging()).toUtf8());
    // The daemon is a fresh copy of the shipped one, still executable.
    EXPECT_EQ(RootSandbox::read(staging() + u"/mivra-blockpage"_s), "#!/bin/sh\nexit 0\n");
    EXPECT_TRUE(QFileInfo(staging() + u"/mivra-blockpage"_s).isExecutable());
    EXPECT_TRUE(blocker->installed());
    EXPECT_EQ(events, (QStringList{u"installed:yes"_s, u"done:yes"_s}));
}

TEST_F(InstallFlow, TheDaemonComesFromTheFirstPlaceThatHasIt) {
    runnerGives({true, {}, 0, {}});
    RootSandbox::write(dir.path() + u"/second"_s, "second", 0755);
    RootSandbox::write(dir.path() + u"/third"_s, "third", 0755);
    blocker->setDaemonCandidates(
        {dir.path() + u"/missing"_s, dir.path() + u"/second"_s, dir.path() + u"/third"_s});
    run(true);
    EXPECT_EQ(RootSandbox::read(staging() + u"/mivra-blockpage"_s), "second");

    // Found nowhere: an earlier copy is not installed in its place.
    blocker->setDaemonCandidates({dir.path() + u"/missing"_s});
    run(true);
    EXPECT_FALSE(QFileInfo::exists(staging() + u"/mivra-blockpage"_s));

    // By default: beside the running executable, then the install prefix.
    blocker->setDaemonCandidates({});
    EXPECT_EQ(blocker->daemonCandidates().value(0),
              QCoreApplication::applicationDirPath() + u"/mivra-blockpage"_s);
    EXPECT_TRUE(blocker->daemonCandidates().value(1).endsWith(u"/libexec/mivra/mivra-blockpage"_s));
}

struct Outcome {
    const char* name;
    bool installing;
    PrivilegedResult result;
    QString shown;     // the message afterwards; "default" stands for the install's own message
    bool keepsEarlier; // a message standing from an earlier run stays
};

TEST_F(InstallFlow, WhatThePersonSeesAfterEachOutcomeInBothLanguages) {
    const QString refusal = u"Error executing command as another user: Not authorized"_s;
    const QString startError = u"execve: No such file or directory"_s;
    const Outcome outcomes[] = {
        {"install dismissed", true, {true, {}, 126, "Request dismissed\n"}, u"default"_s, false},
        {"removal dismissed", false, {true, {}, 126, {}}, {}, false},
        {"install refused", true, {true, {}, 127, refusal.toUtf8() + "\n\n"}, refusal, false},
        {"install failing silently", true, {true, {}, 1, "  \n"}, u"default"_s, true},
        {"removal failing silently", false, {true, {}, 1, {}}, {}, true},
        {"output that is not UTF-8 counts as none", true, {true, {}, 1, "\xff\xfe bad"}, u"default"_s, true},
        {"pkexec cannot be started", true, {false, startError, -1, {}}, startError, false},
        {"removal succeeding", false, {true, {}, 0, {}}, {}, false},
    };
    for (Lang lang : {Lang::en, Lang::fr}) {
        loc->setLang(lang);
        for (const Outcome& o : outcomes) {
            SCOPED_TRACE(std::string(o.name) + (lang == Lang::en ? " (en)" : " (fr)"));
            const QString shown =
                o.shown == u"default"_s ? (lang == Lang::en ? defaultEn : defaultFr) : o.shown;
            const bool ok = o.result.started && o.result.exitCode == 0;
            const QString done = ok ? u"done:yes"_s : u"done:no"_s;

            // From a clean state.
            makeBlocker(fakeRunner);
            runnerGives(o.result);
            EXPECT_EQ(run(o.installing), ok);
            EXPECT_EQ(blocker->lastErrorText(), shown);
            const QStringList want =
                shown.isEmpty() ? QStringList{done} : QStringList{u"error:"_s + shown, done};
            EXPECT_EQ(events, want);

            // With a message standing from an earlier run: a dismissal clears it (an install then
            // says it did not happen), a silent failure leaves it, anything else replaces it.
            makeBlocker(fakeRunner);
            runnerGives({true, {}, 1, "earlier failure"});
            run(true);
            runnerGives(o.result);
            events.clear();
            run(o.installing);
            QStringList wantAfter;
            if (o.result.exitCode == 126) {
                wantAfter << u"error:"_s;
                if (o.installing) wantAfter << u"error:"_s + shown;
            } else if (!o.keepsEarlier) {
                wantAfter << u"error:"_s + shown;
            }
            EXPECT_EQ(blocker->lastErrorText(), o.keepsEarlier ? u"earlier failure"_s : shown);
            EXPECT_EQ(events, wantAfter << done);
            EXPECT_FALSE(offThread);
        }
    }
}

TEST_F(InstallFlow, ABlockerGoneBeforeTheRunEndsIsLeftAlone) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> started = false;
    fakeRunner.handler = [&](const QString&) {
        started = true;
        released.wait();
        return PrivilegedResult{true, {}, 0, {}};
    };
    bool called = false;
    blocker->install([&](bool) { called = true; });
    ASSERT_TRUE(waitUntil([&] { return started.load(); }));
    blocker.reset();
    release.set_value();
    QThread::msleep(100);
    waitUntil([] { return false; }, 300);
    EXPECT_FALSE(called);
}

TEST_F(InstallFlow, RunPrivilegedFromAWorkerPublishesOnTheGuiThread) {
    runnerGives({true, {}, 2, "  install: cannot stat 'x': No such file or directory\n"});
    std::promise<bool> result;
    std::thread worker([&] { result.set_value(blocker->runPrivileged(u"exit 2\n"_s)); });
    worker.join();
    EXPECT_FALSE(result.get_future().get());
    EXPECT_TRUE(waitUntil([&] { return !blocker->lastErrorText().isEmpty(); }));
    EXPECT_EQ(blocker->lastErrorText(), u"install: cannot stat 'x': No such file or directory"_s);
    EXPECT_FALSE(offThread);
}

// ---- Through pkexec --------------------------------------------------------------------------------

class PkexecFlow : public InstallFlow {
protected:
    // A pkexec stand-in with the given body; it records its arguments and environment first.
    QString fakePkexec(const QString& body) {
        const QString path = dir.path() + u"/pkexec"_s;
        RootSandbox::write(path,
                           (u"#!/bin/sh\nprintf '%s\\n' \"$@\" > '"_s + dir.path() + u"/args'\nenv > '"_s +
                            dir.path() + u"/env'\n"_s + body)
                               .toUtf8(),
                           0755);
        return path;
    }
    std::unique_ptr<PkexecRunner> pkexec;
};

TEST_F(PkexecFlow, RunsBashOnTheScriptWithACleanEnvironment) {
    qputenv("MIVRA_SHOULD_NOT_LEAK", "1");
    PkexecRunner runner(fakePkexec(u"echo 'from the script' >&2\nexit 5\n"_s));
    const PrivilegedResult r = runner.run(u"/some where/run.sh"_s);
    qunsetenv("MIVRA_SHOULD_NOT_LEAK");
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.standardError, "from the script\n");
    EXPECT_EQ(RootSandbox::read(dir.path() + u"/args"_s),
              "--disable-internal-agent\n/bin/bash\n/some where/run.sh\n");
    QStringList names;
    for (const QByteArray& line : RootSandbox::read(dir.path() + u"/env"_s).split('\n'))
        if (!line.isEmpty()) names << QString::fromUtf8(line.left(line.indexOf('=')));
    names.sort();
    names.removeAll(u"PWD"_s); // the shell's own
    EXPECT_EQ(names, QStringList{u"PATH"_s});
}

TEST_F(PkexecFlow, DismissedRefusedAndMissingInBothLanguages) {
    struct Case {
        const char* name;
        QString body; // empty: pkexec cannot be started
        QString en, fr;
    } cases[] = {
        {"dismissed", u"exit 126\n"_s, defaultEn, defaultFr},
        {"refused", u"echo 'Error executing command as another user: Not authorized' >&2\nexit 127\n"_s,
         u"Error executing command as another user: Not authorized"_s,
         u"Error executing command as another user: Not authorized"_s},
        {"cannot start", {}, {}, {}},
    };
    for (Lang lang : {Lang::en, Lang::fr}) {
        loc->setLang(lang);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (lang == Lang::en ? " (en)" : " (fr)"));
            pkexec = std::make_unique<PkexecRunner>(c.body.isEmpty() ? dir.path() + u"/no/pkexec"_s
                                                                     : fakePkexec(c.body));
            makeBlocker(*pkexec);
            EXPECT_FALSE(run(true));
            EXPECT_FALSE(blocker->installed());
            if (c.body.isEmpty()) {
                EXPECT_FALSE(blocker->lastErrorText().isEmpty()) << "the start error is shown";
                EXPECT_NE(blocker->lastErrorText(), defaultEn);
            } else {
                EXPECT_EQ(blocker->lastErrorText(), lang == Lang::en ? c.en : c.fr);
            }
            EXPECT_EQ(events.size(), 2);
            EXPECT_EQ(events.value(1), u"done:no"_s);
        }
    }
}

TEST_F(PkexecFlow, InstallAndRemoveForReal) {
    if (::geteuid() != 0) GTEST_SKIP() << "the install script runs for real only as root";
    // Every path lies in the test's folder; pkexec, systemctl and the cache flushes are stubs.
    RootSandbox stubs;
    stubs.setPkexecUid(4242);
    pkexec = std::make_unique<PkexecRunner>(
        fakePkexec(u"PATH='"_s + stubs.path() + u"/stubs':\"$PATH\"\nexport PATH\nexec pkexec \"$@\"\n"_s));
    makeBlocker(*pkexec);
    const RootLayout root = layout();
    QDir().mkpath(dir.path() + u"/root"_s);
    RootSandbox::write(root.hostsFile, marked("a\n"));

    EXPECT_TRUE(run(true));
    EXPECT_TRUE(blocker->installed());
    EXPECT_EQ(blocker->lastErrorText(), QString());
    EXPECT_EQ(events, (QStringList{u"installed:yes"_s, u"done:yes"_s}));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(root.lockupFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 4242u);
    EXPECT_TRUE(QFileInfo::exists(root.jobDirectory + u"/app.oriflan.mivra.sweep.timer"_s));

    // The application can now write the lockup, and removal takes its block away.
    RootSandbox::write(root.hostsFile, marked("a\n@B\n127.0.0.1 x.com\n@E\n"));
    events.clear();
    EXPECT_TRUE(run(false));
    EXPECT_FALSE(blocker->installed());
    EXPECT_EQ(events, (QStringList{u"installed:no"_s, u"done:yes"_s}));
    EXPECT_EQ(RootSandbox::read(root.hostsFile), "a\n");
    EXPECT_FALSE(QFileInfo::exists(root.stateDirectory));
    EXPECT_FALSE(QFileInfo::exists(root.jobDirectory + u"/app.oriflan.mivra.sweep.timer"_s));
}

} // namespace
