// SPDX-License-Identifier: GPL-3.0-or-later
// Installing and removing the helper through the Blocker: staging, the worker thread, what the
// person sees afterwards, and pkexec's outcomes.
#include "blocking/blocker.h"
#include "blocking/rootside.h"
#include "engine/loc.h"
#include "fakes/fakes.h"
#include "mivractl/helpercmd.h"
#include "platform/linux/pkexecrunner.h"
#include "rootsandbox.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
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

std::string str(const QByteArray& b) {
    return b.toStdString();
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

    RootLayout layout() const { return rootLayout; }
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
    RootLayout rootLayout = RootLayout::under(dir.path() + u"/root"_s);
    PkexecRunner pkexec{dir.path() + u"/pkexec"_s};
    MemoryDefaults defaults;
    Loc loc{defaults, QStringList{u"en-US"_s}};
    FakeRunner fakeRunner;
    std::unique_ptr<Blocker> blocker;
    QStringList events;
    bool offThread = false;
};

TEST_F(InstallFlow, RunsTheScriptOffTheGuiThreadAndNeverCallsBackAGoneBlocker) {
    makeBlocker(fakeRunner);
    bool ranOnGuiThread = false;
    fakeRunner.handler = [&](const QString&) {
        ranOnGuiThread = onGuiThread();
        // What the root side would do: write the version.
        QDir().mkpath(layout().stateDirectory);
        RootSandbox::write(layout().versionFile(), "3\n");
        return PrivilegedResult{true, {}, 0, {}};
    };
    EXPECT_TRUE(run(true));
    EXPECT_FALSE(ranOnGuiThread);
    EXPECT_FALSE(offThread);
    EXPECT_EQ(fakeRunner.scripts, QStringList{staging() + u"/run.sh"_s});
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
    // pkexec runs bash on the script's text itself, with nothing of this environment but the PATH.
    const QList<QByteArray> args = RootSandbox::read(dir.path() + u"/args"_s).split('\n');
    EXPECT_EQ(args.mid(0, 3), (QList<QByteArray>{"--disable-internal-agent", "/bin/bash", "-c"}));
    EXPECT_EQ(args.mid(args.size() - 2), (QList<QByteArray>{staging().toUtf8() + "/run.sh", ""}));
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

// ---- Installing and removing for real, in the sandbox, through pkexec's stand-in -------------------

// Who holds the helper and whether it runs, read from the files alone: the settings panel and
// mivractl see the same, and a package's helper is never installed twice nor removed from here.
TEST_F(InstallFlow, TheHelperStateFollowsWhoInstalledItAndWhetherItsUnitsAreEnabled) {
    makeBlocker(fakeRunner);
    const RootLayout l = layout();
    const QStringList units = [] {
        QStringList names;
        for (const RootFile& f : RootSide(RootPlatform::Linux, RootLayout::linuxLayout()).jobFiles())
            names << f.name;
        return names;
    }();
    auto unitsIn = [&](const QString& folder) {
        for (const QString& u : units)
            RootSandbox::write(folder + u'/' + u, "[Unit]\n");
    };
    auto enableFrom = [&](const QString& folder) {
        for (const EnabledUnit& u : enabledHelperUnits()) {
            const QString wants = l.enableDirectory + u'/' + u.wantedBy + u".wants"_s;
            QDir().mkpath(wants);
            QFile::link(folder + u'/' + u.unit, wants + u'/' + u.unit);
        }
    };
    auto version = [&](const QByteArray& v) { RootSandbox::write(l.versionFile(), v); };
    const struct {
        const char* name;
        std::function<void()> layOut;
        bool installed, packaged;
        int ctlStatus;
        QString ctlLine;
    } cases[] = {
        {"no helper", [] {}, false, false, 3, u"helper: not installed"_s},
        {"an old helper",
         [&] {
             version("2\n");
             unitsIn(l.jobDirectory);
         },
         false, false, 3, u"helper: not installed"_s},
        {"installed by the application",
         [&] {
             version("3\n");
             unitsIn(l.jobDirectory);
             enableFrom(l.jobDirectory);
         },
         true, false, 0, u"helper: installed by Mivra, units enabled"_s},
        {"installed by the package",
         [&] {
             version("3\n");
             unitsIn(l.packageUnitDirectory);
             enableFrom(l.packageUnitDirectory);
         },
         true, true, 0, u"helper: installed by the mivra package, units enabled"_s},
        {"the package's units disabled by hand",
         [&] {
             version("3\n");
             unitsIn(l.packageUnitDirectory);
         },
         false, true, 1, u"helper: installed by the mivra package, units disabled"_s},
        {"the package's units, one left enabled",
         [&] {
             version("3\n");
             unitsIn(l.packageUnitDirectory);
             enableFrom(l.packageUnitDirectory);
             QFile::remove(l.enableDirectory + u"/timers.target.wants/app.oriflan.mivra.sweep.timer"_s);
         },
         false, true, 1, u"helper: installed by the mivra package, units disabled"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dir.path() + u"/root"_s).removeRecursively();
        c.layOut();
        blocker->refresh();
        EXPECT_EQ(blocker->installed(), c.installed);
        EXPECT_EQ(blocker->packaged(), c.packaged);
        QString line;
        EXPECT_EQ(Ctl::helperStatus(l, u"en"_s, line), c.ctlStatus);
        EXPECT_EQ(line, c.ctlLine);
        if (!c.packaged) continue;

        // Neither the panel nor mivractl runs anything to remove the package's helper.
        fakeRunner.scripts.clear();
        events.clear();
        EXPECT_FALSE(run(false));
        EXPECT_EQ(blocker->lastErrorText(), Blocker::packageOwnsHelperText());
        QString message;
        EXPECT_EQ(Ctl::helperRemove(l, staging(), fakeRunner, u"en"_s, message), 1);
        EXPECT_TRUE(message.contains(u"apt remove mivra"_s));
        // Install offers no second copy: with the units off it says how to turn them on; with them
        // on it only asks, under the package's own action, for the lockup file.
        const bool granted = run(true);
        if (c.installed) {
            EXPECT_TRUE(granted);
            EXPECT_EQ(fakeRunner.scripts, QStringList{l.claimProgram()});
        } else {
            EXPECT_FALSE(granted);
            EXPECT_TRUE(
                blocker->lastErrorText().contains(u"systemctl enable --now app.oriflan.mivra.lockup.path"_s));
            EXPECT_EQ(fakeRunner.scripts, QStringList());
        }
        EXPECT_FALSE(QFileInfo::exists(staging())) << "nothing is staged for a packaged helper";
    }
}

// `mivractl helper remove` runs the panel's removal and reports what it finds afterwards.
TEST_F(InstallFlow, MivractlRemovesTheApplicationsHelperAndSaysWhenItCouldNot) {
    const RootLayout l = layout();
    RootSandbox::write(l.versionFile(), "3\n");
    RootSandbox::write(staging() + u"/run.sh"_s, "staged earlier\n");
    QString message;
    // A run that leaves the helper where it was is no success.
    EXPECT_EQ(Ctl::helperRemove(l, staging(), fakeRunner, u"en"_s, message), 1);
    EXPECT_EQ(message, u"the helper could not be removed."_s);
    fakeRunner.handler = [&](const QString&) {
        QFile::remove(l.versionFile());
        return PrivilegedResult{true, {}, 0, {}};
    };
    EXPECT_EQ(Ctl::helperRemove(l, staging(), fakeRunner, u"en"_s, message), 0);
    EXPECT_EQ(message, u"helper removed."_s);
    EXPECT_FALSE(QFileInfo::exists(staging())) << "the staged scripts go with the helper";
    EXPECT_EQ(Ctl::helperRemove(l, staging(), fakeRunner, u"en"_s, message), 0);
    EXPECT_EQ(message, u"the helper is not installed."_s);
}

class InstallTest : public InstallFlow {
protected:
    void SetUp() override {
        if (const QString why = RootSandbox::unavailable(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
        sb = std::make_unique<RootSandbox>();
        real = std::make_unique<PkexecRunner>(sb->sandboxedPkexec());
        RootSandbox::write(dir.path() + u"/daemon"_s, "#!/bin/sh\nexit 0\n", 0755);
        rootLayout = lx;
        makeBlocker(*real);
    }
    QString out(const QString& inside) const { return sb->outside(inside); }
    // The Blocker reads the version file outside the sandbox: what the script did is looked up there.
    bool installs() {
        run(true);
        return QFileInfo::exists(out(lx.versionFile())) && blocker->lastErrorText().isEmpty();
    }
    // Index of the first recorded call starting with `call`; -1 when there is none.
    qsizetype at(const QString& call) const {
        const QStringList c = sb->calls();
        for (qsizetype i = 0; i < c.size(); ++i)
            if (c[i].startsWith(call)) return i;
        return -1;
    }
    struct stat info(const QString& inside) const {
        struct stat st {};
        ::lstat(QFile::encodeName(out(inside)).constData(), &st);
        return st;
    }
    mode_t mode(const QString& inside) const { return info(inside).st_mode & 07777; }
    uid_t owner(const QString& inside) const { return info(inside).st_uid; }

    const RootLayout lx = RootLayout::linuxLayout();
    std::unique_ptr<RootSandbox> sb;
    std::unique_ptr<PkexecRunner> real;
};

TEST_F(InstallTest, InstallTwiceThenRemoveWhileBlocking) {
    sb->setPkexecUid(4242);
    ASSERT_TRUE(installs()) << blocker->lastErrorText().toStdString();
    const RootSide side(RootPlatform::Linux, lx);
    for (const RootFile& unit : side.jobFiles())
        EXPECT_EQ(RootSandbox::read(out(lx.jobDirectory + u'/' + unit.name)), unit.text.toUtf8());
    EXPECT_EQ(RootSandbox::read(out(lx.applier())), side.applierScript().toUtf8());
    EXPECT_EQ(RootSandbox::read(out(lx.daemon())), "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(mode(lx.daemon()), 0755u);
    EXPECT_EQ(RootSandbox::read(out(lx.versionFile())), "3\n");
    EXPECT_EQ(QDir(out(lx.stateDirectory)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{u"apply.lock"_s, u"lockup.conf"_s, u"version"_s}))
        << "the private copies are gone";
    // Nothing restarts the applier while files are replaced: its triggers stop first, the units
    // start again last.
    EXPECT_LT(at(u"systemctl stop app.oriflan.mivra.lockup.path app.oriflan.mivra.sweep.timer"_s),
              at(u"systemctl daemon-reload"_s));
    EXPECT_EQ(at(u"systemctl enable --now"_s), sb->calls().size() - 1)
        << str(sb->calls().join(u"\n"_s).toUtf8());
    // The units pass systemd's own checks, and the daemon's sandbox keeps its exposure low.
    if (!QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty()) {
        QString units;
        for (const RootFile& unit : side.jobFiles())
            units += u' ' + lx.jobDirectory + u'/' + unit.name;
        const auto verify = sb->run(u"systemd-analyze verify"_s + units);
        EXPECT_EQ(verify.status, 0) << str(verify.err);
        EXPECT_FALSE(verify.err.contains("app.oriflan.mivra")) << str(verify.err);
        const auto security = sb->run(u"systemd-analyze security --offline=true --threshold=25 "_s +
                                      lx.jobDirectory + u"/app.oriflan.mivra.blockpage.service"_s);
        EXPECT_EQ(security.status, 0) << str(security.out);
    }

    // Again, with a lockup that another user made world-writable: content kept, owner and mode put right.
    RootSandbox::write(out(lx.lockupFile()), "#redirect 127.0.0.1\nx.com\n", 0666);
    sb->setPkexecUid(4343);
    ASSERT_TRUE(installs()) << blocker->lastErrorText().toStdString();
    EXPECT_EQ(RootSandbox::read(out(lx.lockupFile())), "#redirect 127.0.0.1\nx.com\n");
    EXPECT_EQ(mode(lx.lockupFile()), 0644u);
    EXPECT_EQ(owner(lx.lockupFile()), 4343u);
    EXPECT_EQ(mode(lx.lockFile()), 0600u);

    // Removal while blocking: the original bytes come back, lines the block held included, and
    // nothing of the helper is left. A last line without a line end is followed by a block that
    // ends without one; it comes back without one.
    const QByteArray mine = RootSandbox::read(out(lx.hostsFile));
    const struct {
        const char* name;
        QByteArray original, blocked;
    } removals[] = {
        {"every line ends with LF", mine + "10.0.0.1 x.com mine.lan\n",
         mine + "#mivra-held 10.0.0.1 x.com mine.lan\n10.0.0.1 mine.lan #mivra-part\n" +
             marked("@B\n127.0.0.1 x.com\n@E\n")},
        {"the last line has no LF", mine + "10.0.0.1 x.com mine.lan",
         mine + "#mivra-held 10.0.0.1 x.com mine.lan\n10.0.0.1 mine.lan #mivra-part\n" +
             marked("@B\n127.0.0.1 x.com\n@E")},
    };
    for (const auto& r : removals) {
        SCOPED_TRACE(r.name);
        if (!QFileInfo::exists(out(lx.versionFile()))) {
            ASSERT_TRUE(installs()) << blocker->lastErrorText().toStdString();
        }
        RootSandbox::write(out(lx.hostsFile), r.blocked);
        RootSandbox::write(out(lx.flagFile()), {});
        sb->clearCalls();
        ASSERT_TRUE(run(false));
        EXPECT_EQ(str(RootSandbox::read(out(lx.hostsFile))), str(r.original));
    }
    for (const QString& gone : {lx.libexecDirectory, lx.stateDirectory, lx.logDirectory})
        EXPECT_FALSE(QFileInfo::exists(out(gone))) << gone.toStdString();
    EXPECT_EQ(QDir(out(lx.jobDirectory)).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(out(u"/etc"_s)).entryList({u".mivra*"_s}, QDir::Files | QDir::Hidden), QStringList());
    // The path and timer units stop first: disabling reloads systemd, which would fire the timer
    // once more. Then nothing reloads or rewrites until they are gone; the caches are flushed after.
    EXPECT_EQ(at(u"systemctl stop app.oriflan.mivra.lockup.path app.oriflan.mivra.sweep.timer"_s), 1);
    EXPECT_EQ(at(u"systemctl disable --now"_s), 2);
    EXPECT_LT(at(u"systemctl disable --now"_s), at(u"resolvectl flush-caches"_s));
    EXPECT_LT(at(u"resolvectl flush-caches"_s), at(u"systemctl daemon-reload"_s));
}

// What another process of the user may do between the prompt and the copy: each is refused, and
// nothing is installed; or, where it cannot matter, the install goes ahead untouched.
TEST_F(InstallTest, RootInstallsOnlyWhatWasStagedWhenThePersonAuthorised) {
    RootSandbox::write(sb->outside(u"/var/lib/secret"_s), "root only\n", 0600);
    const QByteArray stage = staging().toUtf8();
    const struct {
        const char* name;
        QByteArray tamper;
        bool ok;
        const char* err;
    } cases[] = {
        {"the applier rewritten", "echo 'id > /var/lib/owned' >> '" + stage + "/lockup-apply.sh'", false,
         "is not the file Mivra staged"},
        {"the daemon a link to a root-only file", "ln -sf /var/lib/secret '" + stage + "/mivra-blockpage'",
         false, "is not a regular file"},
        {"a unit swapped for a pipe",
         "rm '" + stage + "/app.oriflan.mivra.sweep.timer'; mkfifo '" + stage +
             "/app.oriflan.mivra.sweep.timer'",
         false, "is not a regular file"},
        {"the daemon gone", "rm '" + stage + "/mivra-blockpage'", false, ""},
        {"the staged run.sh rewritten", "echo 'id > /var/lib/owned' > '" + stage + "/run.sh'", true, ""},
        {"the lockup a link to a root-only file",
         "mkdir -p /var/lib/mivra; ln -sf /var/lib/secret /var/lib/mivra/lockup.conf", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sb->run(u"rm -rf /var/lib/mivra /usr/local/libexec/mivra"_s);
        sb->setTamper(c.tamper);
        makeBlocker(*real);
        EXPECT_EQ(installs(), c.ok);
        EXPECT_TRUE(blocker->lastErrorText().contains(QString::fromUtf8(c.err)))
            << blocker->lastErrorText().toStdString();
        EXPECT_EQ(QFileInfo::exists(out(lx.applier())), c.ok);
        EXPECT_FALSE(QFileInfo::exists(out(u"/var/lib/owned"_s)));
        EXPECT_EQ(RootSandbox::read(out(u"/var/lib/secret"_s)), "root only\n");
        EXPECT_EQ(owner(u"/var/lib/secret"_s), 0u);
        if (c.ok) {
            EXPECT_TRUE(QFileInfo(out(lx.lockupFile())).isFile() &&
                        !QFileInfo(out(lx.lockupFile())).isSymLink());
        }
    }
}

// A helper from a distribution package: its lockup file is root's until the first authorisation.
TEST_F(InstallTest, AnInstalledHelperHandsItsLockupToTheFirstUserWhoAsks) {
    blocker = std::make_unique<Blocker>(RootLayout::under(dir.path() + u"/pkg"_s), staging(), fakeRunner);
    QDir().mkpath(dir.path() + u"/pkg/state"_s);
    RootSandbox::write(dir.path() + u"/pkg/state/version"_s, "3\n");
    blocker->refresh();
    ASSERT_TRUE(blocker->installed());
    ASSERT_FALSE(blocker->lockupWritable()); // missing here; root-owned 0644 for a real user
    QByteArray script;
    fakeRunner.handler = [&](const QString& path) {
        script = RootSandbox::read(path);
        return PrivilegedResult{true, {}, 0, {}};
    };
    run(true);
    EXPECT_EQ(script, RootSide(RootPlatform::Linux, lx)
                          .claimScript()
                          .replace(lx.stateDirectory, dir.path() + u"/pkg/state"_s)
                          .toUtf8());
    // Run for real: the file becomes the user's, and a link there is not followed.
    sb->run(u"mkdir -p /var/lib/mivra; ln -s /var/lib/secret /var/lib/mivra/lockup.conf"_s);
    RootSandbox::write(sb->outside(u"/var/lib/secret"_s), "root only\n", 0600);
    sb->setPkexecUid(4545);
    EXPECT_EQ(
        real->runScript(staging() + u"/run.sh"_s, RootSide(RootPlatform::Linux, lx).claimScript()).exitCode,
        0);
    EXPECT_EQ(owner(lx.lockupFile()), 4545u);
    EXPECT_EQ(mode(lx.lockupFile()), 0644u);
    EXPECT_EQ(owner(u"/var/lib/secret"_s), 0u);
}

TEST_F(InstallTest, AFailingInstallNeverEndsWith126Or127) {
    // A command ending with a status pkexec keeps for itself is reported as a plain failure.
    ASSERT_TRUE(installs()) << blocker->lastErrorText().toStdString();
    StagedDigests digests;
    for (const QString& name : QDir(staging()).entryList(QDir::Files))
        digests[name] =
            QCryptographicHash::hash(RootSandbox::read(staging() + u'/' + name), QCryptographicHash::Sha256);
    const QString script = RootSide(RootPlatform::Linux, lx).installScript(staging(), digests);
    for (int status : {126, 127, 3}) {
        SCOPED_TRACE(status);
        sb->setStubStatus(u"systemctl"_s, status);
        EXPECT_EQ(real->runScript(staging() + u"/run.sh"_s, script).exitCode, status == 3 ? 3 : 1);
    }
}

} // namespace
