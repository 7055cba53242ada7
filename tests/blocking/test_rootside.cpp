// The root side's generated texts, and the Linux scripts run for real as root in a sandbox.
#include "blocking/blocker.h"
#include "blocking/rootside.h"
#include "platform/linux/pkexecrunner.h"
#include "rootsandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString applierPath = u"/usr/local/libexec/mivra/lockup-apply.sh"_s;
const QString lockupPath = u"/var/lib/mivra/lockup.conf"_s;
const QString flagPath = u"/var/lib/mivra/blockpage.on"_s;
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

int modeOf(const QString& path) {
    return statOf(path).st_mode & 07777;
}

#define SKIP_WITHOUT_SANDBOX()                                                                               \
    do {                                                                                                     \
        if (const QString why = RootSandbox::unavailable(); !why.isEmpty())                                  \
            GTEST_SKIP() << why.toStdString();                                                               \
    } while (0)

// ---- The applier, run for real ------------------------------------------------------------------

class ApplierTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SANDBOX();
        sb = std::make_unique<RootSandbox>();
        installApplier(RootLayout::linuxLayout());
        QDir().mkpath(sb->outside(u"/var/lib/mivra"_s));
        QDir().mkpath(sb->outside(u"/var/log/mivra"_s));
    }

    void installApplier(const RootLayout& layout) {
        QDir().mkpath(sb->outside(u"/usr/local/libexec/mivra"_s));
        RootSandbox::write(sb->outside(applierPath),
                           RootSide(RootPlatform::Linux, layout).applierScript().toUtf8(), 0755);
    }

    // Sets the inputs; a missing lockup file is nullopt.
    void given(const QByteArray& hosts, const std::optional<QByteArray>& conf, bool flag = false) {
        RootSandbox::write(sb->outside(u"/etc/hosts"_s), hosts);
        if (conf)
            RootSandbox::write(sb->outside(lockupPath), *conf);
        else
            QFile::remove(sb->outside(lockupPath));
        if (flag)
            RootSandbox::write(sb->outside(flagPath), {});
        else
            QFile::remove(sb->outside(flagPath));
        sb->clearCalls();
    }

    RootSandbox::Result apply(const QString& before = {}) const {
        return sb->run(before + u"\n/bin/bash "_s + applierPath);
    }

    QByteArray hosts() const { return RootSandbox::read(sb->outside(u"/etc/hosts"_s)); }
    bool flag() const { return QFileInfo::exists(sb->outside(flagPath)); }

    std::unique_ptr<RootSandbox> sb;
};

struct ApplierCase {
    const char* name;
    QByteArray hosts;
    std::optional<QByteArray> conf;
    bool flagBefore;
    QByteArray hostsAfter;
    bool flagAfter;
    QStringList calls;
};

TEST_F(ApplierTest, FollowsTheLockupFileInEveryCase) {
    const QStringList flushAndStop = flushCalls + QStringList{stopDaemon};
    const ApplierCase cases[] = {
        {"an old block in the middle moves to the end", "a\n@B\n0.0.0.0 old.com\n@E\nb\n",
         "#redirect 127.0.0.1\nx.com\ny.com\n", false, "a\nb\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n",
         true, flushCalls},
        {"two blocks both go when the lockup is empty", "a\n@B\n1\n@E\nb\n@B\n2\n@E\nc\n", "", true,
         "a\nb\nc\n", false, flushAndStop},
        {"an expiry in the past ends the block", "a\n@B\n127.0.0.1 x.com\n@E\n",
         "#redirect 127.0.0.1\n#expires 1000000000\nx.com\n", true, "a\n", false, flushAndStop},
        {"no expiry keeps the block", "a\n", "#redirect 127.0.0.1\nx.com\n", false,
         "a\n@B\n127.0.0.1 x.com\n@E\n", true, flushCalls},
        {"an expiry in the future keeps the block", "a\n",
         "#redirect 127.0.0.1\n#expires 99999999999\nx.com\n", false, "a\n@B\n127.0.0.1 x.com\n@E\n", true,
         flushCalls},
        {"a garbled expiry counts as none", "a\n", "#expires 12x\nx.com\n#expires \n", false,
         "a\n@B\n0.0.0.0 x.com\n@E\n", false, flushCalls},
        {"redirect 0.0.0.0 writes the block and lowers the flag", "a\n", "#redirect 0.0.0.0\nx.com\n", true,
         "a\n@B\n0.0.0.0 x.com\n@E\n", false, flushAndStop},
        {"comments and blank lines are skipped, trailing spaces kept", "a\n",
         "#redirect 127.0.0.1\n# a note\n\nx.com  \n#other\n", false, "a\n@B\n127.0.0.1 x.com  \n@E\n", true,
         flushCalls},
        {"a later directive overrides an earlier one, last line without LF", "a\n",
         "#redirect 0.0.0.0\n#expires 1000000000\nx.com\n#redirect 127.0.0.1\n#expires 0\ny.com", false,
         "a\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n", true, flushCalls},
        {"a begin marker without an end drops the rest", "a\n@B\nb\nc\n", "", false, "a\n", false,
         flushCalls},
        {"a stray end marker is dropped", "a\n@E\nb\n", "", false, "a\nb\n", false, flushCalls},
        {"a missing lockup file removes the block and the flag", "a\n@B\n127.0.0.1 x.com\n@E\n", std::nullopt,
         true, "a\n", false, flushAndStop},
        {"nothing to change touches nothing", "a\n", "", false, "a\n", false, {}},
        {"a steady block is not rewritten",
         "a\n@B\n127.0.0.1 x.com\n@E\n",
         "#redirect 127.0.0.1\nx.com\n",
         true,
         "a\n@B\n127.0.0.1 x.com\n@E\n",
         true,
         {}},
    };
    for (const ApplierCase& c : cases) {
        SCOPED_TRACE(c.name);
        given(marked(c.hosts), c.conf, c.flagBefore);
        const auto r = apply();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(str(r.out), "");
        EXPECT_EQ(str(hosts()), str(marked(c.hostsAfter)));
        EXPECT_EQ(flag(), c.flagAfter);
        EXPECT_EQ(sb->calls(), c.calls);
    }
}

TEST_F(ApplierTest, NoHostsFileMeansNothingHappens) {
    RootLayout layout = RootLayout::linuxLayout();
    layout.hostsFile = u"/var/lib/mivra/no-such-hosts"_s;
    installApplier(layout);
    given("a\n", "#redirect 0.0.0.0\nx.com\n", true);
    const auto r = apply();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(flag()) << "the flag is left as it was";
    EXPECT_FALSE(QFileInfo::exists(sb->outside(layout.hostsFile)));
    EXPECT_EQ(sb->calls(), QStringList());
}

TEST_F(ApplierTest, HostileLockupFilesPointNothingElsewhere) {
    const QByteArray name255(255, 'a');
    const QByteArray name256(256, 'b');
    const QByteArray huge(1 << 20, 'c');
    struct Hostile {
        const char* name;
        QByteArray conf;
        QByteArray block; // the expected block's inner lines
        bool flagAfter;
    } cases[] = {
        {"another redirect address counts as 0.0.0.0", "#redirect 6.6.6.6\nbank.com\n", "0.0.0.0 bank.com\n",
         false},
        {"a redirect with more after it counts as 0.0.0.0", "#redirect 127.0.0.1 6.6.6.6\nbank.com\n",
         "0.0.0.0 bank.com\n", false},
        {"host lines with control characters are dropped",
         QByteArray("#redirect 127.0.0.1\nok.com\ntab\t6.6.6.6\nesc\x1b[0m.com\ndel\x7f.com\nnul") + '\0' +
             ".com\ncr.com\r\nbell\a.com\n",
         "127.0.0.1 ok.com\n", true},
        {"lines longer than a host name are dropped",
         "#redirect 127.0.0.1\n" + name255 + "\n" + name256 + "\n" + huge, "127.0.0.1 " + name255 + "\n",
         true},
        {"a huge expiry is simply far away", "#expires 99999999999999999999999999\nx.com", "0.0.0.0 x.com\n",
         false},
        {"non-ASCII host names pass as they are", "#redirect 127.0.0.1\nbücher.example\n",
         "127.0.0.1 bücher.example\n", true},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.name);
        given("a\n", c.conf);
        EXPECT_EQ(apply().status, 0);
        EXPECT_EQ(str(hosts()), str(marked("a\n@B\n" + c.block + "@E\n")));
        EXPECT_EQ(flag(), c.flagAfter);
    }

    // Lines ended by CR LF hold a control character: nothing of such a file is taken.
    given("a\n", "#redirect 127.0.0.1\r\nx.com\r\n");
    EXPECT_EQ(apply().status, 0);
    EXPECT_EQ(str(hosts()), "a\n");
    EXPECT_FALSE(flag());
}

// Random hosts and lockup files, built so that the expected result is known by construction.
struct GeneratedCase {
    QByteArray hosts, conf;
    QList<QByteArray> kept;      // hosts lines outside any marked block, in order
    QList<QByteArray> blockBody; // the block's inner lines; empty when no block is in force
    bool flag = false;
};

GeneratedCase generate(std::mt19937& rng) {
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const QByteArray b = RootSide::beginMarker.toUtf8(), e = RootSide::endMarker.toUtf8();
    const QByteArray pool[] = {"127.0.0.1 localhost",
                               "::1 ip6-localhost ip6-loopback",
                               "# a comment",
                               "",
                               "   ",
                               "10.1.2.3 printer.lan",
                               "0.0.0.0 old.example",
                               "192.168.0.1\trouter",
                               "line with cr\r",
                               "ünïcode.local",
                               "#>>> not a marker",
                               b + " ",
                               " " + e};
    GeneratedCase c;
    bool lastKept = false; // the file's last line is one of the kept lines
    const int lines = pick(12);
    for (int i = 0; i < lines; ++i) {
        const int kind = pick(10);
        if (kind == 0) { // a marked block, sometimes left open
            c.hosts += b + '\n';
            lastKept = false;
            for (int k = pick(3); k > 0; --k)
                c.hosts += "0.0.0.0 blocked" + QByteArray::number(k) + ".com\n";
            if (pick(4) == 0) break; // unterminated: the rest of the file goes with it
            c.hosts += e + '\n';
        } else {
            const QByteArray line = pool[pick(int(std::size(pool)))];
            c.hosts += line + '\n';
            c.kept << line;
            lastKept = true;
        }
    }
    if (lastKept && !c.kept.last().isEmpty() && pick(5) == 0)
        c.hosts.chop(1); // no final line end: the line is kept, and the copy ends it

    const char* redirects[] = {"127.0.0.1", "0.0.0.0", "6.6.6.6", "", "127.0.0.1 "};
    const char* expiries[] = {"", "1000000000", "99999999999", "12x", "0"};
    const QByteArray goodHosts[] = {"a.com", "b.example.org", "x.com  ", "ünïcode.example", "c-d.net"};
    const QByteArray dropped[] = {"# comment", "", "bad\thost", QByteArray(300, 'z'), "esc\x1b.com"};
    QList<QByteArray> confLines;
    QByteArray redirect = "0.0.0.0", expiry = "0";
    QList<QByteArray> hostsIn;
    for (int i = pick(9); i > 0; --i) {
        switch (pick(4)) {
        case 0: {
            const QByteArray r = redirects[pick(5)];
            confLines << "#redirect " + r;
            redirect = (r == "127.0.0.1" || r == "0.0.0.0") ? r : QByteArray("0.0.0.0");
            break;
        }
        case 1: {
            const QByteArray x = expiries[pick(5)];
            confLines << "#expires " + x;
            expiry = x;
            break;
        }
        case 2:
            confLines << dropped[pick(5)];
            break;
        default: {
            const QByteArray h = goodHosts[pick(5)];
            confLines << h;
            hostsIn << h;
        }
        }
    }
    c.conf = confLines.join('\n');
    if (!confLines.isEmpty() && pick(4) != 0) c.conf += '\n';
    const bool expired = expiry == "1000000000";
    if (!hostsIn.isEmpty() && !expired) {
        for (const QByteArray& h : hostsIn)
            c.blockBody << redirect + ' ' + h;
        c.flag = redirect == "127.0.0.1";
    }
    return c;
}

// Three shards of sixty cases, so that a parallel test run spreads them.
class ApplierProperty : public ApplierTest, public ::testing::WithParamInterface<int> {};

TEST_P(ApplierProperty, KeepsEveryOtherLineAndSettlesAtOnce) {
    std::mt19937 rng(20260302 + GetParam());
    const int count = 60;
    QList<GeneratedCase> cases;
    const QString dir = sb->path() + u"/cases"_s;
    for (int i = 0; i < count; ++i) {
        cases << generate(rng);
        const QString d = dir + u'/' + QString::number(i).rightJustified(3, u'0');
        QDir().mkpath(d);
        RootSandbox::write(d + u"/hosts"_s, cases.last().hosts);
        RootSandbox::write(d + u"/conf"_s, cases.last().conf);
    }
    // One namespace for all cases; each case runs the applier twice.
    const QString driver = uR"(
for d in @DIR@/*; do
    cat "$d/hosts" > /etc/hosts
    cat "$d/conf" > /var/lib/mivra/lockup.conf
    [ -e /var/lib/mivra/blockpage.on ] && rm /var/lib/mivra/blockpage.on
    /bin/bash @APPLIER@; echo $? > "$d/status1"
    cat /etc/hosts > "$d/after1"; stat -c '%i %y %z' /etc/hosts > "$d/stat1"
    [ -e /var/lib/mivra/blockpage.on ] && : > "$d/flag1"
    echo "-- second $d" >> @CALLS@
    /bin/bash @APPLIER@
    cat /etc/hosts > "$d/after2"; stat -c '%i %y %z' /etc/hosts > "$d/stat2"
    echo "-- next" >> @CALLS@
done)"_s.replace(u"@DIR@"_s, dir)
                               .replace(u"@APPLIER@"_s, applierPath)
                               .replace(u"@CALLS@"_s, sb->path() + u"/calls.log"_s);
    sb->clearCalls();
    ASSERT_EQ(sb->run(driver).status, 0);

    const QByteArray inode =
        QByteArray::number(qulonglong(statOf(sb->outside(u"/etc/hosts"_s)).st_ino)) + ' ';
    // The calls made by each second run: between its marker and the next.
    QHash<QString, QStringList> secondCalls;
    QString current;
    for (const QString& line : sb->calls()) {
        if (line.startsWith(u"-- second "_s))
            current = line.mid(10);
        else if (line == u"-- next"_s)
            current.clear();
        else if (!current.isEmpty())
            secondCalls[current] << line;
    }

    for (int i = 0; i < count; ++i) {
        const GeneratedCase& c = cases[i];
        const QString d = dir + u'/' + QString::number(i).rightJustified(3, u'0');
        SCOPED_TRACE("case " + std::to_string(i) + ": hosts [" + c.hosts.toPercentEncoding().toStdString() +
                     "] lockup [" + c.conf.toPercentEncoding().toStdString() + "]");
        EXPECT_EQ(RootSandbox::read(d + u"/status1"_s), "0\n");
        QByteArray expected;
        for (const QByteArray& line : c.kept)
            expected += line + '\n';
        if (!c.blockBody.isEmpty()) {
            expected += RootSide::beginMarker.toUtf8() + '\n';
            for (const QByteArray& line : c.blockBody)
                expected += line + '\n';
            expected += RootSide::endMarker.toUtf8() + '\n';
        }
        const QByteArray after = RootSandbox::read(d + u"/after1"_s);
        if (after != expected) {
            ADD_FAILURE() << "hosts after the first run:\n" << str(after) << "\nexpected:\n" << str(expected);
            continue;
        }
        EXPECT_EQ(QFileInfo::exists(d + u"/flag1"_s), c.flag);
        // The second run changes nothing: same bytes, same file, same times, no cache flush.
        EXPECT_EQ(RootSandbox::read(d + u"/after2"_s), after);
        EXPECT_EQ(RootSandbox::read(d + u"/stat2"_s), RootSandbox::read(d + u"/stat1"_s));
        EXPECT_TRUE(RootSandbox::read(d + u"/stat1"_s).startsWith(inode))
            << "the hosts file keeps its identity";
        EXPECT_EQ(secondCalls.value(d), QStringList());
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, ApplierProperty, ::testing::Range(0, 3));

// ---- Failures while rewriting /etc/hosts ----------------------------------------------------------

TEST_F(ApplierTest, AReadOnlyHostsFileIsLeftAsItWas) {
    given("a\n", "#redirect 127.0.0.1\nx.com\n");
    const auto r = apply(u"mount -o remount,bind,ro /etc/hosts"_s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(str(hosts()), "a\n");
    EXPECT_EQ(sb->calls(), QStringList()) << "nothing changed, so nothing is flushed";
    EXPECT_TRUE(r.err.contains("could not rewrite")) << str(r.err);
}

TEST_F(ApplierTest, ACopyCutShortByAFullDiskPutsThePreviousContentBack) {
    // The hosts file sits on a small file system that the new content does not fit on.
    QByteArray original;
    for (int i = 0; i < 400; ++i)
        original += "10.0.0." + QByteArray::number(i % 250) + " host" + QByteArray::number(i) + ".lan\n";
    QByteArray conf = "#redirect 127.0.0.1\n";
    for (int i = 0; i < 3000; ++i)
        conf += "blocked-site-number-" + QByteArray::number(i) + ".example.com\n";
    given(original, conf);
    const QString full = sb->path() + u"/full"_s;
    QDir().mkpath(full);
    const QString setup = uR"(
mount -t tmpfs -o size=64k tmpfs @FULL@
cat @HOSTS@ > @FULL@/hosts
dd if=/dev/zero of=@FULL@/filler bs=4096 2>/dev/null
mount --bind @FULL@/hosts /etc/hosts)"_s.replace(u"@FULL@"_s, full)
                              .replace(u"@HOSTS@"_s, sb->outside(u"/etc/hosts"_s));
    const auto r = apply(setup + u"\n/bin/bash "_s + applierPath + u"\ncat /etc/hosts > "_s + sb->path() +
                         u"/after\ntrue"_s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(RootSandbox::read(sb->path() + u"/after"_s), original)
        << "the hosts file must never be left cut short";
    EXPECT_EQ(sb->calls(), QStringList());
    EXPECT_TRUE(r.err.contains("previous content is back")) << str(r.err);
}

TEST_F(ApplierTest, ANewContentThatCannotBeMadeLeavesTheHostsFileAlone) {
    QByteArray original;
    for (int i = 0; i < 3000; ++i)
        original += "10.0.0.1 host" + QByteArray::number(i) + ".lan\n";
    // A copy cut short by a dying awk must not reach /etc/hosts.
    RootSandbox::write(sb->path() + u"/dying-awk"_s, "#!/bin/sh\nhead -c 100 /etc/hosts\nkill -KILL $$\n",
                       0755);
    const QString setups[] = {
        u"mount -t tmpfs -o size=16k tmpfs /tmp"_s, // full: the sandbox's own folder is hidden under it
        u"mount -t tmpfs -o ro tmpfs /tmp"_s,       // read-only: no temporary file at all
        u"cp "_s + sb->path() + u"/dying-awk "_s + sb->path() + u"/stubs/awk"_s,
    };
    for (const QString& setup : setups) {
        SCOPED_TRACE(setup.toStdString());
        given(original, "#redirect 0.0.0.0\nx.com\n");
        const auto r = apply(setup);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(hosts(), original);
        EXPECT_EQ(sb->calls(), QStringList());
        QFile::remove(sb->path() + u"/stubs/awk"_s);
    }
}

// ---- Installing and removing, run for real --------------------------------------------------------

const QStringList allUnits = {
    u"app.oriflan.mivra.lockup.path"_s,    u"app.oriflan.mivra.lockup.service"_s,
    u"app.oriflan.mivra.sweep.timer"_s,    u"app.oriflan.mivra.sweep.service"_s,
    u"app.oriflan.mivra.blockpage.path"_s, u"app.oriflan.mivra.blockpage.service"_s};
const QString enabledUnits =
    u"app.oriflan.mivra.lockup.path app.oriflan.mivra.sweep.timer app.oriflan.mivra.blockpage.path"_s;

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SANDBOX();
        sb = std::make_unique<RootSandbox>();
        runner = std::make_unique<PkexecRunner>(sb->sandboxedPkexec());
        blocker = std::make_unique<Blocker>(RootLayout::linuxLayout(), stage(), *runner);
        RootSandbox::write(sb->path() + u"/daemon"_s, "#!/bin/sh\nexit 0\n", 0755);
        blocker->setDaemonCandidates({sb->path() + u"/no-daemon-here"_s, sb->path() + u"/daemon"_s});
    }

    QString stage() const { return sb->path() + u"/stage"_s; }
    const RootSide side{RootPlatform::Linux, RootLayout::linuxLayout()};
    bool install() { return settled(blocker->runPrivileged(side.installScript(stage()))); }
    bool remove() { return settled(blocker->runPrivileged(side.removalScript())); }
    // Lets the Blocker publish the run's message.
    static bool settled(bool ok) {
        QCoreApplication::processEvents();
        return ok;
    }
    std::string error() const { return blocker->lastErrorText().toStdString(); }
    QString out(const QString& inside) const { return sb->outside(inside); }

    QStringList expectedInstallCalls() const {
        return {u"pkexec --disable-internal-agent /bin/bash "_s + stage() + u"/run.sh"_s,
                u"systemctl daemon-reload"_s, u"systemctl stop "_s + allUnits.join(u' '),
                u"systemctl reset-failed "_s + allUnits.join(u' '),
                u"systemctl enable --now "_s + enabledUnits};
    }
    QStringList expectedRemovalCalls() const {
        return QStringList{u"pkexec --disable-internal-agent /bin/bash "_s + stage() + u"/run.sh"_s,
                           u"systemctl disable --now "_s + enabledUnits,
                           u"systemctl stop app.oriflan.mivra.lockup.service app.oriflan.mivra.sweep.service "
                           u"app.oriflan.mivra.blockpage.service"_s,
                           u"systemctl daemon-reload"_s, u"systemctl reset-failed "_s + allUnits.join(u' ')} +
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
        QList<Installed> all = {
            {applierPath, 0755, 0, stage() + u"/lockup-apply.sh"_s},
            {u"/usr/local/libexec/mivra/mivra-blockpage"_s, 0755, 0, sb->path() + u"/daemon"_s},
            {u"/usr/local/libexec/mivra"_s, 0755, 0, {}},
            {u"/var/lib/mivra"_s, 0755, 0, {}},
            {u"/var/log/mivra"_s, 0755, 0, {}},
            {u"/var/lib/mivra/version"_s, 0644, 0, {}},
            {lockupPath, 0644, owner, {}},
        };
        for (const QString& unit : allUnits)
            all.append({u"/etc/systemd/system/"_s + unit, 0644, 0, stage() + u'/' + unit});
        for (const Installed& f : all) {
            SCOPED_TRACE(f.path.toStdString());
            const struct stat st = statOf(out(f.path));
            EXPECT_EQ(st.st_mode & 07777, f.mode);
            EXPECT_EQ(st.st_uid, f.uid);
            EXPECT_EQ(st.st_gid, 0u);
            if (!f.from.isEmpty()) {
                EXPECT_EQ(RootSandbox::read(out(f.path)), RootSandbox::read(f.from));
            }
        }
        EXPECT_EQ(QDir(out(u"/etc/systemd/system"_s)).entryList(QDir::Files).size(), 6);
        EXPECT_EQ(RootSandbox::read(out(u"/var/lib/mivra/version"_s)), "3\n");
    }

    std::unique_ptr<RootSandbox> sb;
    std::unique_ptr<PkexecRunner> runner;
    std::unique_ptr<Blocker> blocker;
};

TEST_F(InstallTest, InstallTwiceThenRemoveTwice) {
    sb->setPkexecUid(4242);
    ASSERT_TRUE(install()) << error();
    EXPECT_EQ(sb->calls(), expectedInstallCalls());
    expectInstalledFor(4242);
    EXPECT_EQ(RootSandbox::read(out(lockupPath)), "");

    // The second install keeps the lockup's content and puts its owner and mode right again.
    RootSandbox::write(out(lockupPath), "#redirect 127.0.0.1\nx.com\n", 0666);
    sb->setPkexecUid(4343);
    sb->clearCalls();
    ASSERT_TRUE(install()) << error();
    EXPECT_EQ(sb->calls(), expectedInstallCalls());
    expectInstalledFor(4343);
    EXPECT_EQ(RootSandbox::read(out(lockupPath)), "#redirect 127.0.0.1\nx.com\n");

    // Removal while a block is in force.
    RootSandbox::write(out(u"/etc/hosts"_s), marked("a\n@B\n127.0.0.1 x.com\n@E\nb\n"));
    RootSandbox::write(out(flagPath), {});
    sb->clearCalls();
    ASSERT_TRUE(remove()) << error();
    EXPECT_EQ(sb->calls(), expectedRemovalCalls());
    EXPECT_EQ(str(RootSandbox::read(out(u"/etc/hosts"_s))), "a\nb\n");
    for (const char* gone : {"/usr/local/libexec/mivra", "/var/lib/mivra", "/var/log/mivra"})
        EXPECT_FALSE(QFileInfo::exists(out(QString::fromUtf8(gone)))) << gone;
    EXPECT_EQ(QDir(out(u"/etc/systemd/system"_s)).entryList(QDir::Files), QStringList());

    // Removing again, with no block: the hosts file is still rewritten, the caches flushed.
    const ino_t inode = statOf(out(u"/etc/hosts"_s)).st_ino;
    sb->clearCalls();
    ASSERT_TRUE(remove()) << error();
    EXPECT_EQ(sb->calls(), expectedRemovalCalls());
    EXPECT_EQ(str(RootSandbox::read(out(u"/etc/hosts"_s))), "a\nb\n");
    EXPECT_EQ(statOf(out(u"/etc/hosts"_s)).st_ino, inode);
}

TEST_F(InstallTest, TheInstalledUnitsPassSystemdsOwnCheck) {
    if (QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    ASSERT_TRUE(install()) << error();
    QStringList paths;
    for (const QString& unit : allUnits)
        paths << u"/etc/systemd/system/"_s + unit;
    const auto r = sb->run(u"systemd-analyze verify "_s + paths.join(u' '));
    EXPECT_EQ(r.status, 0) << str(r.err);
    EXPECT_FALSE(r.err.contains("app.oriflan.mivra")) << str(r.err);
}

TEST_F(InstallTest, AFailingInstallStopsThereAndNeverEndsWith126Or127) {
    // Without the daemon the install stops at its install step, before the version is written.
    blocker->setDaemonCandidates({sb->path() + u"/no-daemon-here"_s});
    EXPECT_FALSE(install());
    EXPECT_FALSE(QFileInfo::exists(out(u"/var/lib/mivra/version"_s)));

    // A command ending with a status pkexec keeps for itself is reported as a plain failure.
    blocker->setDaemonCandidates({sb->path() + u"/daemon"_s});
    ASSERT_TRUE(install()) << error();
    for (int status : {126, 127, 3}) {
        SCOPED_TRACE(status);
        sb->setStubStatus(u"systemctl"_s, status);
        const auto r = sb->run(u"/bin/bash "_s + stage() + u"/run.sh"_s);
        EXPECT_EQ(r.status, status == 3 ? 3 : 1);
    }
}

TEST_F(InstallTest, RemovalCarriesOnWhenTheHostsFileCannotBeWritten) {
    ASSERT_TRUE(install()) << error();
    const QByteArray blocked = marked("a\n@B\n127.0.0.1 x.com\n@E\n");
    RootSandbox::write(out(u"/etc/hosts"_s), blocked);
    RootSandbox::write(stage() + u"/run.sh"_s, side.removalScript().toUtf8());
    sb->clearCalls();
    const auto r = sb->run(u"mount -o remount,bind,ro /etc/hosts\n/bin/bash "_s + stage() + u"/run.sh"_s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(str(RootSandbox::read(out(u"/etc/hosts"_s))), str(blocked));
    EXPECT_FALSE(sb->calls().contains(flushCalls.first()));
    EXPECT_FALSE(QFileInfo::exists(out(u"/var/lib/mivra"_s)));
    EXPECT_FALSE(QFileInfo::exists(out(u"/etc/systemd/system/app.oriflan.mivra.lockup.path"_s)));
}

// ---- Texts ---------------------------------------------------------------------------------------

TEST(RootSideText, EveryScriptIsValidBash) {
    for (RootPlatform platform : {RootPlatform::Linux, RootPlatform::MacOS}) {
        const RootSide side(platform, platform == RootPlatform::Linux ? RootLayout::linuxLayout()
                                                                      : RootLayout::macLayout());
        for (const QString& script :
             {side.applierScript(), side.installScript(u"/home/a b/Mivra/install"_s), side.removalScript()}) {
            QProcess bash;
            bash.start(u"/bin/bash"_s, {u"-n"_s});
            bash.waitForStarted();
            bash.write(script.toUtf8());
            bash.closeWriteChannel();
            bash.waitForFinished();
            EXPECT_EQ(bash.exitCode(), 0)
                << bash.readAllStandardError().toStdString() << script.toStdString();
        }
    }
}

TEST(RootSideText, ShellQuotingSurvivesAnyPath) {
    QStringList words = {u"/plain/path"_s,      u"/with space/x"_s, u"/a\"b"_s, u"/dollar$HOME"_s,
                         u"/$(touch /tmp/x)"_s, u"/back`tick`"_s,   u"/it's"_s, u"/bang!"_s,
                         u"/back\\slash"_s,     u"/new\nline"_s,    u""_s};
    std::mt19937 rng(7);
    const QString alphabet = u"ab /'\"$`\\!*?[]{}();&|<>~#%\t\nü"_s;
    for (int i = 0; i < 200; ++i) {
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

TEST(RootSideText, MacOsPropertyLists) {
    const QList<RootFile> files = RootSide(RootPlatform::MacOS, RootLayout::macLayout()).jobFiles();
    ASSERT_EQ(files.size(), 3);
    const QString head = uR"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
)"_s;
    EXPECT_EQ(files[0].name, u"app.oriflan.mivra.lockup.plist"_s);
    EXPECT_EQ(files[0].text, head + uR"(    <key>Label</key>
    <string>app.oriflan.mivra.lockup</string>
    <key>ProgramArguments</key>
    <array>
        <string>/bin/bash</string>
        <string>/Library/Application Support/Mivra/lockup-apply.sh</string>
    </array>
    <key>WatchPaths</key>
    <array>
        <string>/Library/Application Support/Mivra/lockup.conf</string>
    </array>
    <key>RunAtLoad</key>
    <true/>
    <key>StandardErrorPath</key>
    <string>/Library/Application Support/Mivra/helper.log</string>
</dict>
</plist>
)"_s);
    EXPECT_EQ(files[1].name, u"app.oriflan.mivra.sweep.plist"_s);
    EXPECT_EQ(files[1].text, head + uR"(    <key>Label</key>
    <string>app.oriflan.mivra.sweep</string>
    <key>ProgramArguments</key>
    <array>
        <string>/bin/bash</string>
        <string>/Library/Application Support/Mivra/lockup-apply.sh</string>
    </array>
    <key>StartInterval</key>
    <integer>15</integer>
    <key>RunAtLoad</key>
    <true/>
    <key>StandardErrorPath</key>
    <string>/Library/Application Support/Mivra/helper.log</string>
</dict>
</plist>
)"_s);
    EXPECT_EQ(files[2].name, u"app.oriflan.mivra.blockpage.plist"_s);
    EXPECT_EQ(files[2].text, head + uR"(    <key>Label</key>
    <string>app.oriflan.mivra.blockpage</string>
    <key>ProgramArguments</key>
    <array>
        <string>/Library/Application Support/Mivra/mivra-blockpage</string>
    </array>
    <key>KeepAlive</key>
    <dict>
        <key>PathState</key>
        <dict>
            <key>/Library/Application Support/Mivra/blockpage.on</key>
            <true/>
        </dict>
    </dict>
    <key>StandardErrorPath</key>
    <string>/Library/Application Support/Mivra/blockpage.log</string>
</dict>
</plist>
)"_s);
}

TEST(RootSideText, MacOsScriptsFollowTheirSteps) {
    const RootSide side(RootPlatform::MacOS, RootLayout::macLayout());
    const QString install = side.installScript(u"/Users/ana/Library/Application Support/Mivra/install"_s);
    const QStringList installSteps = {
        u"set -e"_s,
        u"SYS=\"/Library/Application Support/Mivra\""_s,
        u"LD=\"/Library/LaunchDaemons\""_s,
        u"STAGE=\"/Users/ana/Library/Application Support/Mivra/install\""_s,
        u"mkdir -p \"$SYS\""_s,
        u"install -m 755 \"$STAGE/lockup-apply.sh\" \"$SYS/lockup-apply.sh\""_s,
        u"install -m 755 \"$STAGE/mivra-blockpage\" \"$SYS/mivra-blockpage\""_s,
        u"if [ ! -f \"$SYS/lockup.conf\" ]; then : > \"$SYS/lockup.conf\"; fi"_s,
        u"chmod 666 \"$SYS/lockup.conf\""_s,
        u"install -m 644 \"$STAGE/app.oriflan.mivra.lockup.plist\" \"$LD/app.oriflan.mivra.lockup.plist\""_s,
        u"install -m 644 \"$STAGE/app.oriflan.mivra.sweep.plist\" \"$LD/app.oriflan.mivra.sweep.plist\""_s,
        u"install -m 644 \"$STAGE/app.oriflan.mivra.blockpage.plist\" \"$LD/app.oriflan.mivra.blockpage.plist\""_s,
        u"chown root:wheel \"$LD/app.oriflan.mivra.lockup.plist\" \"$LD/app.oriflan.mivra.sweep.plist\" "
        u"\"$LD/app.oriflan.mivra.blockpage.plist\""_s,
        u"echo 3 > \"$SYS/version\""_s,
        u"for L in lockup sweep blockpage; do"_s,
        u"    launchctl bootout system \"$LD/app.oriflan.mivra.$L.plist\" 2>/dev/null || true"_s,
        u"done"_s,
        u"launchctl bootstrap system \"$LD/app.oriflan.mivra.lockup.plist\""_s,
        u"launchctl bootstrap system \"$LD/app.oriflan.mivra.sweep.plist\""_s,
        u"launchctl bootstrap system \"$LD/app.oriflan.mivra.blockpage.plist\""_s,
        u"exit 0"_s};
    EXPECT_EQ(install.split(u'\n', Qt::SkipEmptyParts).mid(1), installSteps);

    // Removal: the steps in order, with the hosts rewrite between unloading and deleting.
    const QString removal = side.removalScript();
    const QStringList removalSteps = {
        u"SYS=\"/Library/Application Support/Mivra\""_s,
        u"LD=\"/Library/LaunchDaemons\""_s,
        u"BEGIN=\"# >>> MIVRA LOCKUP >>>\""_s,
        u"END=\"# <<< MIVRA LOCKUP <<<\""_s,
        u"    launchctl bootout system \"$LD/app.oriflan.mivra.$L.plist\" 2>/dev/null"_s,
        u"    rm -f \"$LD/app.oriflan.mivra.$L.plist\""_s,
        u"if [ -f \"$HOSTS\" ] && tmp=$(mktemp /tmp/mivra.hosts.XXXXXX); then"_s,
        u"        dscacheutil -flushcache >/dev/null 2>&1"_s,
        u"        killall -HUP mDNSResponder >/dev/null 2>&1"_s,
        u"rm -rf \"$SYS\""_s,
        u"exit 0"_s};
    qsizetype at = 0;
    for (const QString& step : removalSteps) {
        const qsizetype found = removal.indexOf(u'\n' + step + u'\n', at);
        EXPECT_GE(found, 0) << "missing or out of order: " << step.toStdString() << "\n"
                            << removal.toStdString();
        if (found >= 0) at = found + 1;
    }
    EXPECT_FALSE(removal.contains(u"set -e"_s));

    // The applier names the same files.
    const QString applier = side.applierScript();
    EXPECT_TRUE(
        applier.startsWith(u"#!/bin/bash\n# Mivra lockup applier — run as root by launchd (on conf change + "
                           u"every 15s).\nSYS=\"/Library/Application Support/Mivra\"\n"
                           u"CONF=\"/Library/Application Support/Mivra/lockup.conf\"\nHOSTS=\"/etc/hosts\"\n"
                           u"BEGIN=\"# >>> MIVRA LOCKUP >>>\"\nEND=\"# <<< MIVRA LOCKUP <<<\"\n"
                           u"FLAG=\"/Library/Application Support/Mivra/blockpage.on\"\n"_s))
        << applier.toStdString();
    EXPECT_TRUE(applier.contains(u"dscacheutil -flushcache"_s));
    EXPECT_FALSE(applier.contains(u"systemctl"_s));
}

TEST(RootSideText, AppleScriptCommandQuotesThePath) {
    EXPECT_EQ(appleScriptCommand(u"/Users/ana/Library/Application Support/Mivra/install/run.sh"_s),
              u"do shell script \"/bin/bash \" & quoted form of \"/Users/ana/Library/Application "
              u"Support/Mivra/install/run.sh\" with administrator privileges"_s);
    // A quote or a backslash in the path cannot end the AppleScript string early.
    EXPECT_EQ(
        appleScriptCommand(u"/Users/a\"b\\c/run.sh"_s),
        u"do shell script \"/bin/bash \" & quoted form of \"/Users/a\\\"b\\\\c/run.sh\" with administrator "
        u"privileges"_s);
}

TEST(RootSideText, UnitsEscapeUnusualPaths) {
    RootLayout layout = RootLayout::linuxLayout();
    layout.libexecDirectory = u"/opt/my tools/100%"_s;
    const QList<RootFile> units = RootSide(RootPlatform::Linux, layout).jobFiles();
    ASSERT_EQ(units.size(), 6);
    EXPECT_TRUE(units[1].text.contains(u"\nExecStart=/bin/bash \"/opt/my tools/100%%/lockup-apply.sh\"\n"_s))
        << units[1].text.toStdString();
    EXPECT_TRUE(units[5].text.contains(u"\nExecStart=\"/opt/my tools/100%%/mivra-blockpage\"\n"_s))
        << units[5].text.toStdString();
}

// ---- Packaging -----------------------------------------------------------------------------------

// Installs one component of this build into a temporary folder.
bool installComponent(const QString& component, const QString& destdir, QByteArray* log) {
    QProcess cmake;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DESTDIR"_s, destdir);
    cmake.setProcessEnvironment(env);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(MIVRA_CMAKE_COMMAND),
                {u"--install"_s, QStringLiteral(MIVRA_BUILD_DIR), u"--component"_s, component});
    const bool ok =
        cmake.waitForFinished(120000) && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
    *log = cmake.readAll();
    return ok;
}

TEST(Packaging, TheHelperComponentLaysOutTheRootSide) {
    if (!QFileInfo::exists(QStringLiteral(MIVRA_BUILD_DIR "/mivra-blockpage")))
        GTEST_SKIP() << "the daemon is not built in " MIVRA_BUILD_DIR;
    QTemporaryDir dest;
    QByteArray log;
    ASSERT_TRUE(installComponent(u"helper"_s, dest.path(), &log)) << log.toStdString();
    const QString libexec = dest.path() + QStringLiteral(MIVRA_INSTALL_LIBEXECDIR) + u"/mivra"_s;

    RootLayout layout = RootLayout::linuxLayout();
    layout.libexecDirectory = QStringLiteral(MIVRA_INSTALL_LIBEXECDIR) + u"/mivra"_s;
    const RootSide side(RootPlatform::Linux, layout);
    EXPECT_EQ(RootSandbox::read(libexec + u"/lockup-apply.sh"_s), side.applierScript().toUtf8());
    EXPECT_EQ(modeOf(libexec + u"/lockup-apply.sh"_s), 0755);
    EXPECT_TRUE(QFileInfo(libexec + u"/mivra-blockpage"_s).isExecutable());
    for (const RootFile& unit : side.jobFiles()) {
        SCOPED_TRACE(unit.name.toStdString());
        const QString path = dest.path() + QStringLiteral(MIVRA_SYSTEMD_UNITDIR) + u'/' + unit.name;
        EXPECT_EQ(RootSandbox::read(path), unit.text.toUtf8());
        EXPECT_EQ(modeOf(path), 0644);
    }
    EXPECT_EQ(RootSandbox::read(dest.path() + u"/var/lib/mivra/version"_s), "3\n");
    EXPECT_TRUE(QFileInfo::exists(dest.path() + u"/var/lib/mivra/lockup.conf"_s));
    EXPECT_EQ(RootSandbox::read(dest.path() + u"/var/lib/mivra/lockup.conf"_s), "");
    EXPECT_TRUE(QFileInfo(dest.path() + u"/var/log/mivra"_s).isDir());
}

TEST(Packaging, TheDefaultComponentInstallsTheDesktopEntryAndIcon) {
    if (!QFileInfo::exists(QStringLiteral(MIVRA_BUILD_DIR "/mivra")))
        GTEST_SKIP() << "the application is not built in " MIVRA_BUILD_DIR;
    QTemporaryDir dest;
    QByteArray log;
    ASSERT_TRUE(installComponent(u"Unspecified"_s, dest.path(), &log)) << log.toStdString();
    const QString prefix = dest.path() + QStringLiteral(MIVRA_INSTALL_PREFIX);
    EXPECT_TRUE(QFileInfo(prefix + u"/bin/mivra"_s).isExecutable());
    const QByteArray entry = RootSandbox::read(prefix + u"/share/applications/app.oriflan.mivra.desktop"_s);
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=mivra\n"));
    EXPECT_TRUE(entry.contains("\nIcon=mivra\n"));
    EXPECT_TRUE(QFileInfo::exists(prefix + u"/share/icons/hicolor/scalable/apps/mivra.svg"_s));
    EXPECT_FALSE(QFileInfo::exists(dest.path() + u"/var/lib/mivra"_s)) << "the root side is the helper's";
}

} // namespace
