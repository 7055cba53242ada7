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

bool onGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

QString yesNo(bool on) {
    return on ? u"yes"_s : u"no"_s;
}

class InstallFlow : public ::testing::Test {
protected:
    void SetUp() override {
        RootSandbox::write(dir.path() + u"/daemon"_s, "#!/bin/sh\nexit 0\n", 0755);
        pkexecGives(0);
        makeBlocker(pkexec);
    }

    void makeBlocker(PrivilegedRunner& runner) {
        blocker = std::make_unique<Blocker>(layout(), staging(), runner);
        blocker->setDaemonCandidates({dir.path() + u"/daemon"_s});
        events.clear();
        // Every change the interface could see, in order, and whether it came on the GUI thread.
        QObject::connect(blocker.get(), &Blocker::installedChanged,
                         [this] { record(u"installed:"_s + yesNo(blocker->installed())); });
        QObject::connect(blocker.get(), &Blocker::lastErrorChanged,
                         [this] { record(u"error:"_s + blocker->lastErrorText()); });
    }

    RootLayout layout() const { return RootLayout::under(dir.path() + u"/root"_s); }
    QString staging() const { return dir.path() + u"/data/install"_s; }

    void record(const QString& event) {
        offThread = offThread || !onGuiThread();
        events << event;
    }

    // Installs or removes and waits for the completion; returns what it was given.
    bool run(bool installing) {
        std::optional<bool> result;
        auto done = [this, &result](bool ok) {
            record(u"done:"_s + yesNo(ok));
            result = ok;
        };
        installing ? blocker->install(done) : blocker->uninstall(done);
        EXPECT_FALSE(result.has_value()) << "the completion comes later, on the event loop";
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(false);
    }

    // The pkexec stand-in records its arguments and environment, writes `err` to its standard
    // error and exits with `status`; with a negative status it is missing.
    void pkexecGives(int status, const QByteArray& err = {}) {
        const QString d = dir.path();
        QFile::remove(d + u"/pkexec"_s);
        RootSandbox::write(d + u"/err"_s, err);
        if (status >= 0)
            RootSandbox::write(d + u"/pkexec"_s,
                               "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + d.toUtf8() + "/args'\nenv > '" +
                                   d.toUtf8() + "/env'\ncat '" + d.toUtf8() + "/err' >&2\nexit " +
                                   QByteArray::number(status) + "\n",
                               0755);
    }

    QTemporaryDir dir;
    PkexecRunner pkexec{dir.path() + u"/pkexec"_s};
    MemoryDefaults defaults;
    Loc loc{defaults, QStringList{u"en-US"_s}};
    FakeRunner fakeRunner;
    std::unique_ptr<Blocker> blocker;
    QStringList events;
    bool offThread = false;
};

TEST_F(InstallFlow, StagesEveryFileThenRunsTheScriptOffTheGuiThreadAndNeverCallsBackAGoneBlocker) {
    makeBlocker(fakeRunner);
    QDir().mkpath(staging());
    RootSandbox::write(staging() + u"/mivra-blockpage"_s, "stale daemon");
    QStringList staged;
    QByteArray runScript;
    bool ranOnGuiThread = false;
    fakeRunner.handler = [&](const QString& script) {
        ranOnGuiThread = onGuiThread();
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
    QStringList want = {u"lockup-apply.sh"_s, u"mivra-blockpage"_s, u"run.sh"_s};
    for (const RootFile& job : RootSide(hostRootPlatform(), layout()).jobFiles())
        want << job.name;
    want.sort();
    EXPECT_EQ(staged, want);
    EXPECT_EQ(runScript, RootSide(hostRootPlatform(), layout()).installScript(staging()).toUtf8());
    // The daemon is a fresh copy of the shipped one, still executable.
    EXPECT_EQ(RootSandbox::read(staging() + u"/mivra-blockpage"_s), "#!/bin/sh\nexit 0\n");
    EXPECT_TRUE(QFileInfo(staging() + u"/mivra-blockpage"_s).isExecutable());
    EXPECT_TRUE(blocker->installed());
    EXPECT_EQ(events, (QStringList{u"installed:yes"_s, u"done:yes"_s}));

    // A Blocker gone before its run ends is left alone.
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

TEST_F(InstallFlow, TheDaemonComesFromTheFirstPlaceThatHasIt) {
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

TEST_F(InstallFlow, WhatThePersonSeesAfterEachPkexecOutcomeInBothLanguages) {
    qputenv("MIVRA_SHOULD_NOT_LEAK", "1");
    pkexecGives(-1);
    const QString startError = pkexec.run(staging() + u"/run.sh"_s).startError;
    ASSERT_FALSE(startError.isEmpty());
    const QString refusal = u"Error executing command as another user: Not authorized"_s;
    const QString installDefault[] = {u"Install was cancelled or failed."_s,
                                      u"Installation annulée ou échouée."_s};
    const struct {
        const char* name;
        bool installing;
        int status; // negative: pkexec cannot be started
        QByteArray err;
        QString shown;     // the message afterwards; "default" stands for the install's own message
        bool keepsEarlier; // a message standing from an earlier run stays
    } outcomes[] = {
        {"install dismissed", true, 126, "Request dismissed\n", u"default"_s, false},
        {"removal dismissed", false, 126, {}, {}, false},
        {"install refused", true, 127, refusal.toUtf8() + "\n\n", refusal, false},
        {"install failing silently", true, 1, "  \n", u"default"_s, true},
        {"removal failing silently", false, 1, {}, {}, true},
        {"output that is not UTF-8 counts as none", true, 1, "\xff\xfe bad", u"default"_s, true},
        {"pkexec cannot be started", true, -1, {}, startError, false},
        {"removal succeeding", false, 0, {}, {}, false},
    };
    for (Lang lang : {Lang::en, Lang::fr}) {
        loc.setLang(lang);
        for (const auto& o : outcomes) {
            SCOPED_TRACE(std::string(o.name) + (lang == Lang::en ? " (en)" : " (fr)"));
            const QString shown = o.shown == u"default"_s ? installDefault[lang == Lang::fr] : o.shown;
            const bool ok = o.status == 0;

            // From a clean state.
            makeBlocker(pkexec);
            pkexecGives(o.status, o.err);
            EXPECT_EQ(run(o.installing), ok);
            EXPECT_EQ(blocker->lastErrorText(), shown);
            EXPECT_EQ(events, (shown.isEmpty() ? QStringList() : QStringList{u"error:"_s + shown})
                                  << u"done:"_s + yesNo(ok));

            // With a message standing from an earlier run: a dismissal clears it (an install then
            // says it did not happen), a silent failure leaves it, anything else replaces it.
            makeBlocker(pkexec);
            pkexecGives(1, "earlier failure");
            run(true);
            pkexecGives(o.status, o.err);
            events.clear();
            run(o.installing);
            QStringList want;
            if (o.status == 126) want << u"error:"_s;
            if (o.status == 126 ? o.installing : !o.keepsEarlier) want << u"error:"_s + shown;
            EXPECT_EQ(blocker->lastErrorText(), o.keepsEarlier ? u"earlier failure"_s : shown);
            EXPECT_EQ(events, want << u"done:"_s + yesNo(ok));
            EXPECT_FALSE(offThread);
        }
    }
    qunsetenv("MIVRA_SHOULD_NOT_LEAK");
    // pkexec runs bash on the staged script, with nothing of this environment but the PATH.
    EXPECT_EQ(RootSandbox::read(dir.path() + u"/args"_s),
              "--disable-internal-agent\n/bin/bash\n" + staging().toUtf8() + "/run.sh\n");
    QStringList names;
    for (const QByteArray& line : RootSandbox::read(dir.path() + u"/env"_s).split('\n'))
        if (!line.isEmpty()) names << QString::fromUtf8(line.left(line.indexOf('=')));
    names.removeAll(u"PWD"_s); // the shell's own
    EXPECT_EQ(names, QStringList{u"PATH"_s});
}

TEST_F(InstallFlow, RunPrivilegedFromAWorkerPublishesOnTheGuiThread) {
    pkexecGives(2, "  install: cannot stat 'x': No such file or directory\n");
    std::promise<bool> result;
    std::thread worker([&] { result.set_value(blocker->runPrivileged(u"exit 2\n"_s)); });
    worker.join();
    EXPECT_FALSE(result.get_future().get());
    EXPECT_TRUE(waitUntil([&] { return !blocker->lastErrorText().isEmpty(); }));
    EXPECT_EQ(blocker->lastErrorText(), u"install: cannot stat 'x': No such file or directory"_s);
    EXPECT_FALSE(offThread);
}

TEST_F(InstallFlow, InstallAndRemoveForRealThroughAPkexecStub) {
    if (::geteuid() != 0) GTEST_SKIP() << "the install script runs for real only as root";
    // Every path lies in the test's folder; pkexec, systemctl and the cache flushes are stubs.
    RootSandbox stubs;
    PkexecRunner runner(stubs.pkexecStub());
    makeBlocker(runner);
    const RootLayout root = layout();
    QDir().mkpath(dir.path() + u"/root"_s);
    RootSandbox::write(root.hostsFile, "a\n");

    EXPECT_TRUE(run(true));
    EXPECT_TRUE(blocker->installed());
    EXPECT_EQ(events, (QStringList{u"installed:yes"_s, u"done:yes"_s}));

    // The application can now write the lockup, and removal takes its block away.
    RootSandbox::write(root.hostsFile, marked("a\n@B\n127.0.0.1 x.com\n@E\n"));
    events.clear();
    EXPECT_TRUE(run(false));
    EXPECT_FALSE(blocker->installed());
    EXPECT_EQ(events, (QStringList{u"installed:no"_s, u"done:yes"_s}));
    EXPECT_EQ(RootSandbox::read(root.hostsFile), "a\n");
    EXPECT_FALSE(QFileInfo::exists(root.stateDirectory));
    EXPECT_EQ(QDir(root.jobDirectory).entryList(QDir::Files), QStringList());
}

} // namespace
