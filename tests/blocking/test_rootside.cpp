// The root side's generated texts, and the Linux scripts run for real as root in a sandbox.
#include "blocking/blocker.h"
#include "blocking/rootside.h"
#include "platform/linux/pkexecrunner.h"
#include "rootsandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const RootLayout lx = RootLayout::linuxLayout();
const QStringList flushCalls = {u"resolvectl flush-caches"_s, u"nscd -i hosts"_s};
const QString stopDaemon = u"systemctl --no-block stop app.oriflan.mivra.blockpage.service"_s;

std::string str(const QByteArray& b) {
    return b.toStdString();
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

#define SKIP_WITHOUT_SANDBOX()                                                                               \
    if (const QString why = RootSandbox::unavailable(); !why.isEmpty()) GTEST_SKIP() << why.toStdString()

// ---- The applier, run for real ------------------------------------------------------------------

class ApplierTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SANDBOX();
        sb = std::make_unique<RootSandbox>();
        installApplier(lx);
        QDir().mkpath(sb->outside(lx.stateDirectory));
        QDir().mkpath(sb->outside(lx.logDirectory));
    }
    void installApplier(const RootLayout& layout) {
        QDir().mkpath(sb->outside(lx.libexecDirectory));
        RootSandbox::write(sb->outside(lx.applier()),
                           RootSide(RootPlatform::Linux, layout).applierScript().toUtf8(), 0755);
    }
    // Sets the inputs; a missing lockup file is nullopt.
    void given(const QByteArray& hosts, const std::optional<QByteArray>& conf, bool flag = false) {
        RootSandbox::write(sb->outside(lx.hostsFile), hosts);
        QFile::remove(sb->outside(lx.lockupFile()));
        QFile::remove(sb->outside(lx.flagFile()));
        if (conf) RootSandbox::write(sb->outside(lx.lockupFile()), *conf);
        if (flag) RootSandbox::write(sb->outside(lx.flagFile()), {});
        sb->clearCalls();
    }
    RootSandbox::Result apply(const QString& before = {}) const {
        return sb->run(before + u"\n/bin/bash "_s + lx.applier());
    }
    QByteArray hosts() const { return RootSandbox::read(sb->outside(lx.hostsFile)); }
    bool flag() const { return QFileInfo::exists(sb->outside(lx.flagFile())); }

    std::unique_ptr<RootSandbox> sb;
};

TEST_F(ApplierTest, FollowsTheLockupFileInEveryCaseHostileOnesIncluded) {
    const QStringList flush = flushCalls, flushStop = flushCalls + QStringList{stopDaemon}, none;
    const QByteArray name255(255, 'a'), name256(256, 'b'), huge(1 << 20, 'c');
    const struct {
        const char* name;
        QByteArray hosts;
        std::optional<QByteArray> conf;
        bool flagBefore;
        QByteArray hostsAfter;
        bool flagAfter;
        QStringList calls;
    } cases[] = {
        {"an old block in the middle moves to the end", "a\n@B\n0.0.0.0 old.com\n@E\nb\n",
         "#redirect 127.0.0.1\nx.com\ny.com\n", false, "a\nb\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n",
         true, flush},
        {"two blocks both go when the lockup is empty", "a\n@B\n1\n@E\nb\n@B\n2\n@E\nc\n", "", true,
         "a\nb\nc\n", false, flushStop},
        {"an expiry in the past ends the block", "a\n@B\n127.0.0.1 x.com\n@E\n",
         "#redirect 127.0.0.1\n#expires 1000000000\nx.com\n", true, "a\n", false, flushStop},
        {"no expiry keeps the block", "a\n", "#redirect 127.0.0.1\nx.com\n", false,
         "a\n@B\n127.0.0.1 x.com\n@E\n", true, flush},
        {"an expiry in the future keeps the block", "a\n",
         "#redirect 127.0.0.1\n#expires 99999999999\nx.com\n", false, "a\n@B\n127.0.0.1 x.com\n@E\n", true,
         flush},
        {"a garbled expiry counts as none", "a\n", "#expires 12x\nx.com\n#expires \n", false,
         "a\n@B\n0.0.0.0 x.com\n@E\n", false, flush},
        {"a huge expiry is simply far away", "a\n", "#expires 99999999999999999999999999\nx.com", false,
         "a\n@B\n0.0.0.0 x.com\n@E\n", false, flush},
        {"redirect 0.0.0.0 writes the block and lowers the flag", "a\n", "#redirect 0.0.0.0\nx.com\n", true,
         "a\n@B\n0.0.0.0 x.com\n@E\n", false, flushStop},
        {"comments and blank lines are skipped, trailing spaces kept", "a\n",
         "#redirect 127.0.0.1\n# a note\n\nx.com  \n#other\n", false, "a\n@B\n127.0.0.1 x.com  \n@E\n", true,
         flush},
        {"a later directive overrides an earlier one, last line without LF", "a\n",
         "#redirect 0.0.0.0\n#expires 1000000000\nx.com\n#redirect 127.0.0.1\n#expires 0\ny.com", false,
         "a\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n", true, flush},
        {"a begin marker without an end drops the rest", "a\n@B\nb\nc\n", "", false, "a\n", false, flush},
        {"a stray end marker is dropped", "a\n@E\nb\n", "", false, "a\nb\n", false, flush},
        {"a missing lockup file removes the block and the flag", "a\n@B\n127.0.0.1 x.com\n@E\n", std::nullopt,
         true, "a\n", false, flushStop},
        {"nothing to change touches nothing", "a\n", "", false, "a\n", false, none},
        {"a steady block is not rewritten", "a\n@B\n127.0.0.1 x.com\n@E\n", "#redirect 127.0.0.1\nx.com\n",
         true, "a\n@B\n127.0.0.1 x.com\n@E\n", true, none},
        // Hostile lockup files: the user writes them, root follows them.
        {"another redirect address counts as 0.0.0.0", "a\n", "#redirect 6.6.6.6\nbank.com\n", false,
         "a\n@B\n0.0.0.0 bank.com\n@E\n", false, flush},
        {"a redirect with more after it counts as 0.0.0.0", "a\n", "#redirect 127.0.0.1 6.6.6.6\nbank.com\n",
         false, "a\n@B\n0.0.0.0 bank.com\n@E\n", false, flush},
        {"host lines with control characters are dropped", "a\n",
         QByteArray("#redirect 127.0.0.1\nok.com\ntab\t6.6.6.6\nesc\x1b[0m.com\ndel\x7f.com\nnul") + '\0' +
             ".com\ncr.com\r\nbell\a.com\n",
         false, "a\n@B\n127.0.0.1 ok.com\n@E\n", true, flush},
        {"lines ended by CR LF hold a control character: nothing is taken", "a\n",
         "#redirect 127.0.0.1\r\nx.com\r\n", false, "a\n", false, none},
        {"lines longer than a host name are dropped", "a\n",
         "#redirect 127.0.0.1\n" + name255 + "\n" + name256 + "\n" + huge, false,
         "a\n@B\n127.0.0.1 " + name255 + "\n@E\n", true, flush},
        {"non-ASCII host names pass as they are", "a\n", "#redirect 127.0.0.1\nbücher.example\n", false,
         "a\n@B\n127.0.0.1 bücher.example\n@E\n", true, flush},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        given(marked(c.hosts), c.conf, c.flagBefore);
        const auto r = apply();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(str(hosts()), str(marked(c.hostsAfter)));
        EXPECT_EQ(flag(), c.flagAfter);
        EXPECT_EQ(sb->calls(), c.calls);
    }
}

TEST_F(ApplierTest, NoHostsFileMeansNothingHappens) {
    RootLayout layout = lx;
    layout.hostsFile = u"/var/lib/mivra/no-such-hosts"_s;
    installApplier(layout);
    given("a\n", "#redirect 0.0.0.0\nx.com\n", true);
    EXPECT_EQ(apply().status, 0);
    EXPECT_TRUE(flag()) << "the flag is left as it was";
    EXPECT_FALSE(QFileInfo::exists(sb->outside(layout.hostsFile)));
    EXPECT_EQ(sb->calls(), QStringList());
}

// Random hosts and lockup files, built so that the applier's result is known by construction.
struct GeneratedCase {
    QByteArray hosts, conf, expected;
    bool flag = false;
};

GeneratedCase generate(std::mt19937& rng) {
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const QByteArray b = RootSide::beginMarker.toUtf8(), e = RootSide::endMarker.toUtf8();
    const QByteArray pool[] = {"127.0.0.1 localhost",
                               "::1 ip6-localhost",
                               "# a comment",
                               "",
                               "   ",
                               "192.168.0.1\trouter",
                               "0.0.0.0 old.example",
                               "line with cr\r",
                               "ünïcode.local",
                               "#>>> not a marker",
                               b + " ",
                               " " + e};
    GeneratedCase c;
    QByteArray last; // the file's last line, when it is one of the kept lines
    for (int i = pick(12); i > 0; --i) {
        if (pick(10) == 0) { // a marked block, sometimes left open: the rest of the file goes with it
            c.hosts += b + '\n';
            for (int k = pick(3); k > 0; --k)
                c.hosts += "0.0.0.0 blocked" + QByteArray::number(k) + ".com\n";
            last.clear();
            if (pick(4) == 0) break;
            c.hosts += e + '\n';
        } else {
            last = pool[pick(int(std::size(pool)))];
            c.hosts += last + '\n';
            c.expected += last + '\n';
        }
    }
    if (!last.isEmpty() && pick(5) == 0) c.hosts.chop(1); // no final line end: the copy ends the line

    const QByteArray redirects[] = {"127.0.0.1", "0.0.0.0", "6.6.6.6", "", "127.0.0.1 "};
    const QByteArray expiries[] = {"", "1000000000", "99999999999", "12x", "0"};
    const QByteArray goodHosts[] = {"a.com", "b.example.org", "x.com  ", "ünïcode.example", "c-d.net"};
    const QByteArray dropped[] = {"# comment", "", "bad\thost", QByteArray(300, 'z'), "esc\x1b.com"};
    QList<QByteArray> lines, blocked;
    QByteArray redirect = "0.0.0.0", expiry;
    for (int i = pick(9); i > 0; --i) {
        const int kind = pick(4);
        if (kind == 0) {
            const QByteArray r = redirects[pick(5)];
            lines << "#redirect " + r;
            redirect = r == "127.0.0.1" ? r : QByteArray("0.0.0.0");
        } else if (kind == 1) {
            expiry = expiries[pick(5)];
            lines << "#expires " + expiry;
        } else {
            lines << (kind == 2 ? dropped[pick(5)] : blocked.emplaceBack(goodHosts[pick(5)]));
        }
    }
    c.conf = lines.join('\n') + (!lines.isEmpty() && pick(4) != 0 ? "\n" : "");
    if (!blocked.isEmpty() && expiry != "1000000000") {
        c.expected += b + '\n';
        for (const QByteArray& h : blocked)
            c.expected += redirect + ' ' + h + '\n';
        c.expected += e + '\n';
        c.flag = redirect == "127.0.0.1";
    }
    return c;
}

// Three shards of sixty cases, so that a parallel test run spreads them.
class ApplierProperty : public ApplierTest, public ::testing::WithParamInterface<int> {};

TEST_P(ApplierProperty, KeepsEveryOtherLineAndSettlesAtOnce) {
    std::mt19937 rng(20260302 + GetParam());
    QList<GeneratedCase> cases;
    const QString dir = sb->path() + u"/cases/"_s;
    for (int i = 0; i < 60; ++i) {
        cases << generate(rng);
        QDir().mkpath(dir + QString::number(100 + i));
        RootSandbox::write(dir + QString::number(100 + i) + u"/hosts"_s, cases.last().hosts);
        RootSandbox::write(dir + QString::number(100 + i) + u"/conf"_s, cases.last().conf);
    }
    // One namespace for all cases; each case runs the applier twice, the second time with the
    // call log emptied first.
    const QString vars = u"A="_s + lx.applier() + u" C="_s + lx.lockupFile() + u" F="_s + lx.flagFile() +
                         u" L="_s + sb->path() + u"/calls.log\n"_s;
    ASSERT_EQ(sb->run(vars + uR"(for d in @DIR@*; do
    cat "$d/hosts" > /etc/hosts; cat "$d/conf" > $C; rm -f $F
    /bin/bash $A; echo $? > "$d/status"
    cat /etc/hosts > "$d/after1"; stat -c '%i %y %z' /etc/hosts > "$d/stat1"
    [ -e $F ] && : > "$d/flag"
    : > $L; /bin/bash $A; cp $L "$d/calls2"
    cat /etc/hosts > "$d/after2"; stat -c '%i %y %z' /etc/hosts > "$d/stat2"
done)"_s.replace(u"@DIR@"_s, dir))
                  .status,
              0);

    const QByteArray inode = QByteArray::number(qulonglong(statOf(sb->outside(lx.hostsFile)).st_ino)) + ' ';
    for (int i = 0; i < cases.size(); ++i) {
        const GeneratedCase& c = cases[i];
        auto result = [&](const QString& file) {
            return RootSandbox::read(dir + QString::number(100 + i) + file);
        };
        SCOPED_TRACE("case " + std::to_string(i) + ": hosts [" + c.hosts.toPercentEncoding().toStdString() +
                     "] lockup [" + c.conf.toPercentEncoding().toStdString() + "]");
        EXPECT_EQ(result(u"/status"_s), "0\n");
        if (result(u"/after1"_s) != c.expected) {
            EXPECT_EQ(str(result(u"/after1"_s)), str(c.expected));
            continue;
        }
        EXPECT_EQ(QFileInfo::exists(dir + QString::number(100 + i) + u"/flag"_s), c.flag);
        // The second run changes nothing: same bytes, same file, same times, no cache flush.
        EXPECT_EQ(result(u"/after2"_s), c.expected);
        EXPECT_EQ(result(u"/stat2"_s), result(u"/stat1"_s));
        EXPECT_TRUE(result(u"/stat1"_s).startsWith(inode)) << "the hosts file keeps its identity";
        EXPECT_EQ(str(result(u"/calls2"_s)), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, ApplierProperty, ::testing::Range(0, 3));

// Whatever stops the rewrite half-way, the hosts file is never left cut short, nor flushed.
TEST_F(ApplierTest, AFailedRewriteLeavesTheHostsFileAsItWas) {
    QByteArray original, conf = "#redirect 127.0.0.1\n";
    for (int i = 0; i < 400; ++i)
        original += "10.0.0." + QByteArray::number(i % 250) + " host" + QByteArray::number(i) + ".lan\n";
    for (int i = 0; i < 3000; ++i) // the new content is much larger than the old
        conf += "blocked-site-number-" + QByteArray::number(i) + ".example.com\n";
    const QString s = sb->path();
    QDir().mkpath(s + u"/dying"_s);
    RootSandbox::write(s + u"/dying/awk"_s, "#!/bin/sh\nhead -c 100 /etc/hosts\nkill -KILL $$\n", 0755);
    const struct {
        const char* name;
        QString setup;
        const char* err;
    } cases[] = {
        {"a read-only hosts file", u"mount -o remount,bind,ro /etc/hosts"_s, "could not rewrite"},
        {"a full disk under the hosts file",
         u"mkdir -p @F@; mount -t tmpfs -o size=64k tmpfs @F@; cat /etc/hosts > @F@/hosts\n"
         u"dd if=/dev/zero of=@F@/filler bs=4096 2>/dev/null; mount --bind @F@/hosts /etc/hosts"_s.replace(
             u"@F@"_s, s + u"/full"_s),
         "previous content is back"},
        // These hide the sandbox's own folder under /tmp as well.
        {"a full /tmp", u"mount -t tmpfs -o size=16k tmpfs /tmp"_s, ""},
        {"a read-only /tmp", u"mount -t tmpfs -o ro tmpfs /tmp"_s, ""},
        {"an awk that dies half-way", u"PATH="_s + s + u"/dying:$PATH"_s, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        given(original, conf);
        const auto r =
            sb->run(c.setup + u"\n/bin/bash "_s + lx.applier() + u"; s=$?; cat /etc/hosts; exit $s"_s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(str(r.out), str(original));
        EXPECT_EQ(sb->calls(), QStringList());
        EXPECT_TRUE(r.err.contains(c.err)) << str(r.err);
    }
}

// ---- Installing and removing, run for real --------------------------------------------------------

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SANDBOX();
        sb = std::make_unique<RootSandbox>();
        runner = std::make_unique<PkexecRunner>(sb->sandboxedPkexec());
        blocker = std::make_unique<Blocker>(lx, stage(), *runner);
        RootSandbox::write(sb->path() + u"/daemon"_s, "#!/bin/sh\nexit 0\n", 0755);
        blocker->setDaemonCandidates({sb->path() + u"/daemon"_s});
        for (const RootFile& unit : side.jobFiles()) {
            all << unit.name;
            (unit.name.endsWith(u".service"_s) ? services : started) << unit.name;
        }
    }

    QString stage() const { return sb->path() + u"/stage"_s; }
    bool install() { return blocker->runPrivileged(side.installScript(stage())); }
    bool remove() { return blocker->runPrivileged(side.removalScript()); }
    QString out(const QString& inside) const { return sb->outside(inside); }

    QStringList installCalls() const {
        return {u"pkexec --disable-internal-agent /bin/bash "_s + stage() + u"/run.sh"_s,
                u"systemctl daemon-reload"_s, u"systemctl stop "_s + all.join(u' '),
                u"systemctl reset-failed "_s + all.join(u' '),
                u"systemctl enable --now "_s + started.join(u' ')};
    }
    QStringList removalCalls() const {
        return QStringList{u"pkexec --disable-internal-agent /bin/bash "_s + stage() + u"/run.sh"_s,
                           u"systemctl disable --now "_s + started.join(u' '),
                           u"systemctl stop "_s + services.join(u' '), u"systemctl daemon-reload"_s,
                           u"systemctl reset-failed "_s + all.join(u' ')} +
               flushCalls;
    }

    // Every installed file and folder: mode, owner, and the bytes it was installed from.
    void expectInstalledFor(uint owner) {
        struct Installed {
            QString path;
            int mode;
            uint uid;
            QString from; // nothing for folders and the files the script writes itself
        };
        QList<Installed> files = {
            {lx.applier(), 0755, 0, stage() + u"/lockup-apply.sh"_s},
            {lx.daemon(), 0755, 0, sb->path() + u"/daemon"_s},
            {lx.libexecDirectory, 0755, 0, {}},
            {lx.stateDirectory, 0755, 0, {}},
            {lx.logDirectory, 0755, 0, {}},
            {lx.versionFile(), 0644, 0, {}},
            {lx.lockupFile(), 0644, owner, {}},
        };
        for (const QString& unit : all)
            files.append({lx.jobDirectory + u'/' + unit, 0644, 0, stage() + u'/' + unit});
        for (const Installed& f : files) {
            SCOPED_TRACE(f.path.toStdString());
            const struct stat st = statOf(out(f.path));
            EXPECT_EQ(st.st_mode & 07777, f.mode);
            EXPECT_EQ(st.st_uid, f.uid);
            EXPECT_EQ(st.st_gid, 0u);
            if (!f.from.isEmpty()) {
                EXPECT_EQ(RootSandbox::read(out(f.path)), RootSandbox::read(f.from));
            }
        }
        EXPECT_EQ(QDir(out(lx.jobDirectory)).entryList(QDir::Files).size(), all.size());
        EXPECT_EQ(RootSandbox::read(out(lx.versionFile())), "3\n");
    }

    const RootSide side{RootPlatform::Linux, lx};
    QStringList all, started, services; // the units in load order; the path and timer units; the rest
    std::unique_ptr<RootSandbox> sb;
    std::unique_ptr<PkexecRunner> runner;
    std::unique_ptr<Blocker> blocker;
};

TEST_F(InstallTest, InstallTwiceThenRemoveThrice) {
    sb->setPkexecUid(4242);
    ASSERT_TRUE(install());
    EXPECT_EQ(sb->calls(), installCalls());
    expectInstalledFor(4242);
    EXPECT_EQ(RootSandbox::read(out(lx.lockupFile())), "");

    // The second install keeps the lockup's content and puts its owner and mode right again.
    RootSandbox::write(out(lx.lockupFile()), "#redirect 127.0.0.1\nx.com\n", 0666);
    sb->setPkexecUid(4343);
    sb->clearCalls();
    ASSERT_TRUE(install());
    EXPECT_EQ(sb->calls(), installCalls());
    expectInstalledFor(4343);
    EXPECT_EQ(RootSandbox::read(out(lx.lockupFile())), "#redirect 127.0.0.1\nx.com\n");

    // A removal that cannot write the hosts file leaves it whole and removes everything else.
    const QByteArray blocked = marked("a\n@B\n127.0.0.1 x.com\n@E\nb\n");
    RootSandbox::write(out(lx.hostsFile), blocked);
    RootSandbox::write(out(lx.flagFile()), {});
    sb->clearCalls();
    EXPECT_EQ(sb->run(u"mount -o remount,bind,ro /etc/hosts\n"_s + side.removalScript()).status, 0);
    EXPECT_EQ(str(RootSandbox::read(out(lx.hostsFile))), str(blocked));
    EXPECT_FALSE(sb->calls().contains(flushCalls.first()));
    for (const QString& gone : {lx.libexecDirectory, lx.stateDirectory, lx.logDirectory})
        EXPECT_FALSE(QFileInfo::exists(out(gone))) << gone.toStdString();
    EXPECT_EQ(QDir(out(lx.jobDirectory)).entryList(QDir::Files), QStringList());

    // Removing again takes the block out; once more, with no block, rewrites in place and flushes.
    sb->clearCalls();
    ASSERT_TRUE(remove());
    EXPECT_EQ(sb->calls(), removalCalls());
    EXPECT_EQ(str(RootSandbox::read(out(lx.hostsFile))), "a\nb\n");
    const ino_t inode = statOf(out(lx.hostsFile)).st_ino;
    sb->clearCalls();
    ASSERT_TRUE(remove());
    EXPECT_EQ(sb->calls(), removalCalls());
    EXPECT_EQ(str(RootSandbox::read(out(lx.hostsFile))), "a\nb\n");
    EXPECT_EQ(statOf(out(lx.hostsFile)).st_ino, inode);
}

TEST_F(InstallTest, TheInstalledUnitsPassSystemdsOwnCheck) {
    if (QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    ASSERT_TRUE(install());
    QString command = u"systemd-analyze verify"_s;
    for (const QString& unit : all)
        command += u' ' + lx.jobDirectory + u'/' + unit;
    const auto r = sb->run(command);
    EXPECT_EQ(r.status, 0) << str(r.err);
    EXPECT_FALSE(r.err.contains("app.oriflan.mivra")) << str(r.err);
}

TEST_F(InstallTest, AFailingInstallStopsThereAndNeverEndsWith126Or127) {
    // Without the daemon the install stops at its install step, before the version is written.
    blocker->setDaemonCandidates({sb->path() + u"/no-daemon-here"_s});
    EXPECT_FALSE(install());
    EXPECT_FALSE(QFileInfo::exists(out(lx.versionFile())));

    // A command ending with a status pkexec keeps for itself is reported as a plain failure.
    blocker->setDaemonCandidates({sb->path() + u"/daemon"_s});
    ASSERT_TRUE(install());
    for (int status : {126, 127, 3}) {
        SCOPED_TRACE(status);
        sb->setStubStatus(u"systemctl"_s, status);
        EXPECT_EQ(sb->run(u"/bin/bash "_s + stage() + u"/run.sh"_s).status, status == 3 ? 3 : 1);
    }
}

// ---- Texts ---------------------------------------------------------------------------------------

TEST(RootSideText, EveryScriptIsValidBashAndEveryPlaceholderFilled) {
    for (RootPlatform platform : {RootPlatform::Linux, RootPlatform::MacOS}) {
        const RootSide side(platform, platform == RootPlatform::Linux ? lx : RootLayout::macLayout());
        QStringList texts = {side.applierScript(), side.installScript(u"/home/a b/Mivra/install"_s),
                             side.removalScript()};
        for (const QString& script : texts) {
            QProcess bash;
            bash.start(u"/bin/bash"_s, {u"-n"_s, u"-c"_s, script});
            bash.waitForFinished();
            EXPECT_EQ(bash.exitCode(), 0)
                << bash.readAllStandardError().toStdString() << script.toStdString();
        }
        for (const RootFile& job : side.jobFiles())
            texts << job.text;
        for (const QString& text : texts)
            EXPECT_FALSE(text.contains(QRegularExpression(u"@[A-Z]+@"_s))) << text.toStdString();
    }
}

TEST(RootSideText, ShellQuotingSurvivesAnyPath) {
    QStringList words = {u"/$(touch /tmp/x)"_s};
    std::mt19937 rng(7);
    const QString alphabet = u"ab /'\"$`\\!*?[]{}();&|<>~#%\t\nü"_s;
    for (int i = 0; i < 300; ++i) {
        QString w;
        for (int k = int(rng() % 12); k > 0; --k)
            w += alphabet[int(rng() % unsigned(alphabet.size()))];
        words << w;
    }
    QString script;
    for (const QString& w : words)
        script += u"printf '%s\\0' "_s + shellQuote(w) + u'\n';
    QProcess bash;
    bash.start(u"/bin/bash"_s, {u"-c"_s, script});
    ASSERT_TRUE(bash.waitForFinished());
    const QList<QByteArray> got = bash.readAllStandardOutput().split('\0');
    ASSERT_EQ(got.size(), words.size() + 1);
    for (int i = 0; i < words.size(); ++i)
        EXPECT_EQ(QString::fromUtf8(got[i]), words[i]);
}

TEST(RootSideText, AppleScriptCommandQuotesThePath) {
    // A quote or a backslash in the path cannot end the AppleScript string early.
    EXPECT_EQ(appleScriptCommand(u"/Users/a b\"c\\d/run.sh"_s),
              u"do shell script \"/bin/bash \" & quoted form of \"/Users/a b\\\"c\\\\d/run.sh\" with "
              u"administrator privileges"_s);
}

TEST(RootSideText, UnitsEscapeUnusualPaths) {
    RootLayout layout = lx;
    layout.libexecDirectory = u"/opt/my tools/100%"_s;
    const QList<RootFile> units = RootSide(RootPlatform::Linux, layout).jobFiles();
    ASSERT_EQ(units.size(), 6);
    EXPECT_TRUE(units[1].text.contains(u"\nExecStart=/bin/bash \"/opt/my tools/100%%/lockup-apply.sh\"\n"_s))
        << units[1].text.toStdString();
    EXPECT_TRUE(units[5].text.contains(u"\nExecStart=\"/opt/my tools/100%%/mivra-blockpage\"\n"_s))
        << units[5].text.toStdString();
}

// The macOS texts, in a folder with stubs for launchctl, chown and the cache flushes: the property
// lists are sound XML naming the layout's files, and the scripts install and remove.
TEST(RootSideText, MacOsTextsInstallAndRemove) {
    RootSandbox sb; // its stubs and call log only: nothing is mounted
    for (const QString& tool : {u"launchctl"_s, u"chown"_s, u"dscacheutil"_s, u"killall"_s})
        sb.addStub(tool);
    const QString sys = sb.path() + u"/Application Support/Mivra & <co>"_s;
    const RootLayout l{sys, sys, sys, sb.path() + u"/hosts"_s, sb.path() + u"/LaunchDaemons"_s};
    const RootSide side(RootPlatform::MacOS, l);
    const QList<RootFile> jobs = side.jobFiles();
    const QStringList namedPaths[] = {{l.applier(), l.lockupFile(), l.helperLog()},
                                      {l.applier(), l.helperLog()},
                                      {l.daemon(), l.flagFile(), l.blockpageLog()}};
    ASSERT_EQ(jobs.size(), 3);
    QStringList plists, bootouts, bootstraps;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(jobs[i].name.toStdString());
        QXmlStreamReader xml(jobs[i].text);
        QStringList paths;
        bool labelled = false;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement &&
                (xml.name() == u"key" || xml.name() == u"string")) {
                const QString text = xml.readElementText();
                labelled = labelled || text + u".plist"_s == jobs[i].name;
                if (text.startsWith(sb.path())) paths << text;
            }
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_TRUE(labelled);
        EXPECT_EQ(paths, namedPaths[i]);
        plists << l.jobDirectory + u'/' + jobs[i].name;
        bootouts << u"launchctl bootout system "_s + plists.last();
        bootstraps << u"launchctl bootstrap system "_s + plists.last();
    }

    // Staged as the Blocker stages them, then installed.
    const QString stage = sb.path() + u"/stage"_s;
    QDir().mkpath(stage);
    QDir().mkpath(l.jobDirectory);
    RootSandbox::write(stage + u"/lockup-apply.sh"_s, side.applierScript().toUtf8());
    RootSandbox::write(stage + u"/mivra-blockpage"_s, "daemon");
    for (const RootFile& job : jobs)
        RootSandbox::write(stage + u'/' + job.name, job.text.toUtf8());
    ASSERT_EQ(sb.run(side.installScript(stage), false).status, 0);
    EXPECT_EQ(sb.calls(), QStringList{u"chown root:wheel "_s + plists.join(u' ')} + bootouts + bootstraps);
    for (const QString& file : plists + QStringList{l.applier(), l.daemon()})
        EXPECT_EQ(RootSandbox::read(file), RootSandbox::read(stage + file.mid(file.lastIndexOf(u'/'))));
    EXPECT_EQ(statOf(l.lockupFile()).st_mode & 07777, 0666); // here every user may write the lockup
    EXPECT_EQ(RootSandbox::read(l.versionFile()), "3\n");

    // Removal unloads every job, takes the block out, flushes the caches and leaves nothing behind.
    RootSandbox::write(l.hostsFile, marked("a\n@B\n127.0.0.1 x.com\n@E\n"));
    sb.clearCalls();
    EXPECT_EQ(sb.run(side.removalScript(), false).status, 0);
    EXPECT_EQ(sb.calls(), bootouts << u"dscacheutil -flushcache"_s << u"killall -HUP mDNSResponder"_s);
    EXPECT_EQ(RootSandbox::read(l.hostsFile), "a\n");
    EXPECT_FALSE(QFileInfo::exists(sys));
    EXPECT_EQ(QDir(l.jobDirectory).entryList(QDir::Files), QStringList());
}

// ---- Packaging -----------------------------------------------------------------------------------

// Installs one component of this build into `dest`.
void installComponent(const QString& component, const QTemporaryDir& dest) {
    QProcess cmake;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DESTDIR"_s, dest.path());
    cmake.setProcessEnvironment(env);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(MIVRA_CMAKE_COMMAND),
                {u"--install"_s, QStringLiteral(MIVRA_BUILD_DIR), u"--component"_s, component});
    ASSERT_TRUE(cmake.waitForFinished(120000) && cmake.exitStatus() == QProcess::NormalExit &&
                cmake.exitCode() == 0)
        << cmake.readAll().toStdString();
}

TEST(Packaging, TheHelperComponentLaysOutTheRootSide) {
    if (!QFileInfo::exists(QStringLiteral(MIVRA_BUILD_DIR "/mivra-blockpage")))
        GTEST_SKIP() << "the daemon is not built in " MIVRA_BUILD_DIR;
    QTemporaryDir dest;
    ASSERT_NO_FATAL_FAILURE(installComponent(u"helper"_s, dest));
    RootLayout layout = lx;
    layout.libexecDirectory = QStringLiteral(MIVRA_INSTALL_LIBEXECDIR) + u"/mivra"_s;
    const RootSide side(RootPlatform::Linux, layout);
    const QString applier = dest.path() + layout.applier();
    EXPECT_EQ(RootSandbox::read(applier), side.applierScript().toUtf8());
    EXPECT_EQ(statOf(applier).st_mode & 07777, 0755);
    EXPECT_TRUE(QFileInfo(dest.path() + layout.daemon()).isExecutable());
    for (const RootFile& unit : side.jobFiles()) {
        SCOPED_TRACE(unit.name.toStdString());
        const QString path = dest.path() + QStringLiteral(MIVRA_SYSTEMD_UNITDIR) + u'/' + unit.name;
        EXPECT_EQ(RootSandbox::read(path), unit.text.toUtf8());
        EXPECT_EQ(statOf(path).st_mode & 07777, 0644);
    }
    EXPECT_EQ(RootSandbox::read(dest.path() + layout.versionFile()), "3\n");
    EXPECT_TRUE(QFileInfo::exists(dest.path() + layout.lockupFile()));
    EXPECT_EQ(RootSandbox::read(dest.path() + layout.lockupFile()), "");
    EXPECT_TRUE(QFileInfo(dest.path() + layout.logDirectory).isDir());
}

TEST(Packaging, TheDefaultComponentInstallsTheDesktopEntryAndIcon) {
    if (!QFileInfo::exists(QStringLiteral(MIVRA_BUILD_DIR "/mivra")))
        GTEST_SKIP() << "the application is not built in " MIVRA_BUILD_DIR;
    QTemporaryDir dest;
    ASSERT_NO_FATAL_FAILURE(installComponent(u"Unspecified"_s, dest));
    const QString prefix = dest.path() + QStringLiteral(MIVRA_INSTALL_PREFIX);
    EXPECT_TRUE(QFileInfo(prefix + u"/bin/mivra"_s).isExecutable());
    const QByteArray entry = RootSandbox::read(prefix + u"/share/applications/app.oriflan.mivra.desktop"_s);
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=mivra\n"));
    EXPECT_TRUE(entry.contains("\nIcon=mivra\n"));
    EXPECT_TRUE(QFileInfo::exists(prefix + u"/share/icons/hicolor/scalable/apps/mivra.svg"_s));
    EXPECT_FALSE(QFileInfo::exists(dest.path() + lx.stateDirectory)) << "the root side is the helper's";
}

} // namespace
