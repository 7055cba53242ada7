// SPDX-License-Identifier: GPL-3.0-or-later
// The root side's generated texts, and the Linux scripts run for real as root in a sandbox.
#include "blocking/blocker.h"
#include "blocking/helperstate.h"
#include "blocking/rootside.h"
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

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// Each case runs twice: with a hosts file that can be renamed over, and with one that is a mount
// point (as in containers) and is rewritten in place.
class ApplierTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SANDBOX();
        sb = std::make_unique<RootSandbox>(GetParam());
        QDir().mkpath(sb->outside(lx.libexecDirectory));
        RootSandbox::write(sb->outside(lx.applier()),
                           RootSide(RootPlatform::Linux, lx).applierScript().toUtf8(), 0755);
        QDir().mkpath(sb->outside(lx.stateDirectory));
    }
    // Sets the inputs; a missing lockup file is nullopt. The hosts file is not the usual 0644 root:root.
    void given(const QByteArray& hosts, const std::optional<QByteArray>& conf, bool flag = false) {
        RootSandbox::write(sb->outside(lx.hostsFile), hosts, 0640);
        (void)::chown(QFile::encodeName(sb->outside(lx.hostsFile)).constData(), 0, 4242);
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

TEST_P(ApplierTest, FollowsTheLockupFileInEveryCaseHostileOnesIncluded) {
    const QStringList F = flushCalls, FS = flushCalls + QStringList{stopDaemon}, N;
    const QByteArray name255(255, 'a'), name256(256, 'b'), huge(1 << 20, 'c'), to = "#redirect 127.0.0.1\n";
    const QByteArray ax = "a\n@B\n127.0.0.1 x.com\n@E\n", az = "a\n@B\n0.0.0.0 x.com\n@E\n";
    const struct {
        const char* name;
        QByteArray hosts;
        std::optional<QByteArray> conf;
        bool flagBefore;
        QByteArray hostsAfter;
        bool flagAfter;
        QStringList calls;
        QString setup = {};         // run before the applier, in the namespace
        const char* said = nullptr; // what the run must say in the log
    } cases[] = {
        {"an old block in the middle moves to the end", "a\n@B\n0.0.0.0 old.com\n@E\nb\n",
         to + "x.com\ny.com\n", false, "a\nb\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n", true, F},
        {"two blocks both go when the lockup is empty", "a\n@B\n1\n@E\nb\n@B\n2\n@E\nc\n", "", true,
         "a\nb\nc\n", false, FS},
        {"an expiry in the past ends the block", ax, to + "#expires 1000000000\nx.com\n", true, "a\n", false,
         FS},
        {"no expiry keeps the block", "a\n", to + "x.com\n", false, ax, true, F},
        {"an expiry in the future keeps the block", "a\n", to + "#expires 99999999999\nx.com\n", false, ax,
         true, F},
        {"a garbled expiry counts as none", "a\n", "#expires 12x\nx.com\n#expires \n", false, az, false, F},
        {"a huge expiry is simply far away", "a\n", "#expires 99999999999999999999999999\nx.com", false, az,
         false, F},
        {"redirect 0.0.0.0 writes the block and lowers the flag", "a\n", "#redirect 0.0.0.0\nx.com\n", true,
         az, false, FS},
        {"comments and blank lines are skipped, trailing spaces kept", "a\n",
         to + "# a note\n\nx.com  \n#other\n", false, "a\n@B\n127.0.0.1 x.com  \n@E\n", true, F},
        {"a later directive overrides an earlier one, last line without LF", "a\n",
         "#redirect 0.0.0.0\n#expires 1000000000\nx.com\n#redirect 127.0.0.1\n#expires 0\ny.com", false,
         "a\n@B\n127.0.0.1 x.com\n127.0.0.1 y.com\n@E\n", true, F},
        {"a begin marker without an end drops the rest", "a\n@B\nb\nc\n", "", false, "a\n", false, F},
        {"a stray end marker is dropped", "a\n@E\nb\n", "", false, "a\nb\n", false, F},
        {"a missing lockup file removes the block and the flag", ax, std::nullopt, true, "a\n", false, FS},
        {"nothing to change touches nothing", "a\n", "", false, "a\n", false, N},
        {"a steady block is not rewritten", ax, to + "x.com\n", true, ax, true, N},
        // Hostile lockup files: the user writes them, root follows them.
        {"another redirect address counts as 0.0.0.0", "a\n", "#redirect 6.6.6.6\nx.com\n", false, az, false,
         F},
        {"a redirect with more after it counts as 0.0.0.0", "a\n", "#redirect 127.0.0.1 6.6.6.6\nx.com\n",
         false, az, false, F},
        {"host lines with control characters are dropped", "a\n",
         to + "x.com\ntab\t6.6.6.6\nesc\x1b[0m.com\ndel\x7f.com\nnul" + '\0' + ".com\ncr.com\r\nbell\a.com\n",
         false, ax, true, F},
        {"lines ended by CR LF hold a control character: nothing is taken", "a\n",
         "#redirect 127.0.0.1\r\nx.com\r\n", false, "a\n", false, N},
        {"lines longer than a host name are dropped", "a\n", to + name255 + "\n" + name256 + "\n" + huge,
         false, "a\n@B\n127.0.0.1 " + name255 + "\n@E\n", true, F},
        {"non-ASCII host names pass as they are", "a\n", to + "bücher.example\n", false,
         "a\n@B\n127.0.0.1 bücher.example\n@E\n", true, F},
        {"a lockup that is a link is not followed", ax, std::nullopt, true, "a\n", false, FS,
         u"printf '#redirect 127.0.0.1\\nsecret.com\\n' > /var/lib/secret; ln -s /var/lib/secret $C"_s},
        {"a lockup that is a pipe is not waited for", "a\n", std::nullopt, false, "a\n", false, N,
         u"mkfifo $C"_s},
        {"only the first 4 MiB of the lockup are read", "a\n", std::nullopt, false, ax, true, F,
         u"{ printf '#redirect 127.0.0.1\\nx.com\\n'; head -c 4194304 /dev/zero | tr '\\0' '#'; printf '\\nlate.com\\n'; } > $C"_s,
         "only the host names in its first 4194304 bytes are applied"},
        // The user's own lines for blocked names would win over the block: they are held while it is
        // in force, and back byte for byte when it ends.
        {"the user's lines for blocked names are held",
         "a\n1.2.3.4 x.com\n5.6.7.8\tkeep.org X.COM  other.org # mine\n# 9.9.9.9 x.com\n", to + "x.com\n",
         false,
         "a\n#mivra-held 1.2.3.4 x.com\n#mivra-held 5.6.7.8\tkeep.org X.COM  other.org # mine\n5.6.7.8 "
         "keep.org other.org #mivra-part\n"
         "# 9.9.9.9 x.com\n@B\n127.0.0.1 x.com\n@E\n",
         true, F},
        {"held lines come back as they were when the block ends",
         "a\n#mivra-held 1.2.3.4 x.com\n#mivra-held 5.6.7.8\tkeep.org X.COM  other.org # mine\n5.6.7.8 "
         "keep.org other.org #mivra-part\n"
         "@B\n127.0.0.1 x.com\n@E\n",
         "", true, "a\n1.2.3.4 x.com\n5.6.7.8\tkeep.org X.COM  other.org # mine\n", false, FS},
        {"held lines follow the block as it changes",
         "a\n#mivra-held 1.2.3.4 x.com y.com\n1.2.3.4 y.com #mivra-part\n@B\n127.0.0.1 x.com\n@E\n",
         to + "y.com\n", true,
         "a\n#mivra-held 1.2.3.4 x.com y.com\n1.2.3.4 x.com #mivra-part\n@B\n127.0.0.1 y.com\n@E\n", true, F},
        {"a lockup written during the run is applied before it ends", "a\n", to + "first.com\n", false, ax,
         true, F + F, uR"sh(mkdir -p /var/lib/hook
cat > /var/lib/hook/nscd <<'X'
#!/bin/sh
[ -e /var/lib/hook/done ] || { : > /var/lib/hook/done; printf '#redirect 127.0.0.1\nx.com\n' > "$C"; }
PATH=${PATH#*:} exec nscd "$@"
X
chmod +x /var/lib/hook/nscd; export C PATH=/var/lib/hook:$PATH)sh"_s},
        {"what a killed run left beside the hosts file is swept", "a\n", "", false, "a\n", false, N,
         u": > /etc/.mivra-hosts.AbCdEf"_s},
        // A run killed between its padded write in place and the truncation left line ends behind.
        {"the padding a killed run left is cut back", "a\n", "", false, "a\n", false, N,
         u"stat -c %s /etc/hosts > /etc/.mivra-hosts-size; printf '\\n\\n\\n' >> /etc/hosts"_s},
        {"but not what was written after it", "a\nb\n", "", false, "a\nb\n", false, N,
         u"echo 1 > /etc/.mivra-hosts-size"_s},
        // A hosts file whose last line has no line end: the block goes after that line, and the
        // file is the same bytes again once the block ends.
        {"a last line without LF is held and the block ends without LF", "a\n5.6.7.8 x.com keep.org",
         to + "x.com\n", false,
         "a\n#mivra-held 5.6.7.8 x.com keep.org\n5.6.7.8 keep.org #mivra-part\n@B\n127.0.0.1 x.com\n@E", true,
         F},
        {"a block applied and lifted leaves a last line without LF as it was", "a\nb", to + "x.com\n", false,
         "a\nb", false, F + FS, u"/bin/bash "_s + lx.applier() + u"; : > $C"_s},
        {"a last line without LF and no block: nothing is touched", "a", "", false, "a", false, N},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        given(marked(c.hosts), c.conf, c.flagBefore);
        const struct stat before = statOf(sb->outside(lx.hostsFile));
        const auto r = apply(u"C="_s + lx.lockupFile() + u'\n' + c.setup);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(str(hosts()), str(marked(c.hostsAfter)));
        EXPECT_EQ(flag(), c.flagAfter);
        EXPECT_EQ(sb->calls(), c.calls);
        if (c.said) {
            EXPECT_TRUE(r.err.contains(c.said)) << str(r.err);
        }
        // Owner and mode stay; nothing is left beside the hosts file.
        const struct stat after = statOf(sb->outside(lx.hostsFile));
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(QDir(sb->outside(u"/etc"_s)).entryList({u".mivra*"_s}, QDir::Files | QDir::Hidden),
                  QStringList());
    }
}

// Whatever stops the rewrite half-way, the hosts file is never left cut short, nor flushed.
TEST_P(ApplierTest, AFailedRewriteLeavesTheHostsFileAsItWas) {
    QByteArray original, conf = "#redirect 127.0.0.1\n";
    for (int i = 0; i < 400; ++i)
        original += "10.0.0." + QByteArray::number(i % 250) + " host" + QByteArray::number(i) + ".lan\n";
    for (int i = 0; i < 3000; ++i) // the new content is much larger than the old
        conf += "blocked-site-number-" + QByteArray::number(i) + ".example.com\n";
    const QString s = sb->path();
    RootSandbox::write(s + u"/stubs/awk-dying"_s, "#!/bin/sh\nhead -c 100 /etc/hosts\nkill -KILL $$\n", 0755);
    const struct {
        bool mounted;
        const char* name;
        QString setup;
        const char* err;
    } cases[] = {
        {true, "a read-only hosts file", u"mount -o remount,bind,ro /etc/hosts"_s, "could not rewrite"},
        {true, "a full disk under the hosts file",
         u"mkdir -p @F@; mount -t tmpfs -o size=64k tmpfs @F@; cat /etc/hosts > @F@/hosts\n"
         u"dd if=/dev/zero of=@F@/filler bs=4096 2>/dev/null; mount --bind @F@/hosts /etc/hosts"_s.replace(
             u"@F@"_s, s + u"/full"_s),
         "previous content is back"},
        {false, "a full disk beside the hosts file",
         u"mount -t tmpfs -o size=16k tmpfs /etc; cat /var/lib/orig > /etc/hosts; dd if=/dev/zero of=/etc/f bs=4k 2>/dev/null"_s,
         ""},
        {GetParam(), "an awk that dies half-way",
         u"ln -s "_s + s + u"/stubs/awk-dying "_s + s + u"/stubs/awk"_s, ""},
    };
    for (const auto& c : cases) {
        if (c.mounted != GetParam()) continue;
        SCOPED_TRACE(c.name);
        given(original, conf);
        RootSandbox::write(sb->outside(u"/var/lib/orig"_s), original);
        const auto r =
            sb->run(c.setup + u"\n/bin/bash "_s + lx.applier() + u"; s=$?; cat /etc/hosts; exit $s"_s);
        QFile::remove(s + u"/stubs/awk"_s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(str(r.out), str(original));
        EXPECT_EQ(sb->calls(), QStringList());
        EXPECT_TRUE(r.err.contains(c.err)) << str(r.err);
    }
}

// Runs at once and runs killed anywhere: a reader polling the hosts file meanwhile never finds it
// empty or missing any of its own lines; where it can be renamed over, it never holds anything but
// the block of some whole lockup (in place, a read made during the one write may mix two blocks).
// The end state is the last lockup's. MIVRA_STRESS_ROUNDS sets the rounds (1,000 for the full run).
TEST_P(ApplierTest, ConcurrentAndKilledRunsNeverExposeAPartialHostsFile) {
    const int rounds = qEnvironmentVariableIntValue("MIVRA_STRESS_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("MIVRA_STRESS_ROUNDS")
                           : 25;
    QByteArray kept;
    for (int i = 0; i < 35000; ++i)
        kept += "10." + QByteArray::number(i / 250 % 250) + '.' + QByteArray::number(i % 250) + ".1 h" +
                QByteArray::number(i) + ".lan\n";
    // Three lockups: none, 100 sites to the page, 40 to nowhere.
    QList<QByteArray> confs{""}, blocks{""};
    for (const auto& [n, to] :
         {std::pair{100, QByteArray("127.0.0.1")}, std::pair{40, QByteArray("0.0.0.0")}}) {
        QByteArray conf = "#redirect " + to + '\n', block = RootSide::beginMarker.toUtf8() + '\n';
        for (int i = 0; i < n; ++i) {
            conf += "site" + QByteArray::number(i) + ".example\n";
            block += to + " site" + QByteArray::number(i) + ".example\n";
        }
        confs << conf;
        blocks << block + RootSide::endMarker.toUtf8() + '\n';
    }
    given(kept, confs[1]);
    for (int i = 0; i < confs.size(); ++i)
        RootSandbox::write(sb->outside(u"/var/lib/conf"_s + QString::number(i)), confs[i]);

    std::atomic<bool> stop = false;
    std::atomic<int> reads = 0, bad = 0;
    QByteArray firstBad;
    std::thread reader([&] {
        const QString path = sb->outside(lx.hostsFile);
        while (!stop) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) continue; // between two renames, the old name is gone
            QByteArray got = f.readAll();
            ++reads;
            if (!got.startsWith(kept)) {
                if (bad++ == 0) firstBad = got.left(200);
                continue;
            }
            got.remove(0, kept.size());
            if (!GetParam() && !blocks.contains(got) && bad++ == 0) firstBad = got.left(200);
        }
    });
    const QString script = uR"(set -m
A=@A@; C=@C@
for round in $(seq 1 @N@); do
    cp /var/lib/conf$((RANDOM % 3)) $C.new && mv -f $C.new $C
    pids=()
    for k in $(seq 1 $((RANDOM % 2 ? 2 : 4))); do bash $A & pids+=($!); done
    if [ $((RANDOM % 2)) -eq 0 ]; then
        sleep 0.0$((RANDOM % 8)); kill -$((RANDOM % 2 ? 9 : 15)) -- -${pids[RANDOM % ${#pids[@]}]} 2>/dev/null
    fi
    wait
done
bash $A
)"_s.replace(u"@A@"_s, lx.applier())
                               .replace(u"@C@"_s, lx.lockupFile())
                               .replace(u"@N@"_s, QString::number(rounds));
    const auto r = sb->run(script);
    stop = true;
    reader.join();
    EXPECT_EQ(r.status, 0) << str(r.err);
    EXPECT_GT(reads.load(), rounds);
    EXPECT_EQ(bad.load(), 0) << str(firstBad);
    const QByteArray last = RootSandbox::read(sb->outside(lx.lockupFile()));
    EXPECT_EQ(hosts(), kept + blocks[confs.indexOf(last)]);
    EXPECT_EQ(QDir(sb->outside(u"/etc"_s)).entryList({u".mivra*"_s}, QDir::Files | QDir::Hidden),
              QStringList());
}

// A block that starts or grows cuts the blocking user's open connections to the newly blocked
// names' addresses, and nothing else: in a network namespace of its own, a veth pair leads to two
// sites on the far side that hold every connection open; the lockup file's owner has a connection
// to each, another user one to the blocked site.
TEST_P(ApplierTest, ABlockCutsItsUsersOpenConnectionsToTheBlockedSitesOnly) {
    if (GetParam()) GTEST_SKIP() << "the hosts file's kind does not matter here";
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/setpriv"})
        if (!QFileInfo::exists(QString::fromLatin1(tool))) GTEST_SKIP() << tool << " is not installed";
    given("127.0.0.1 localhost\n10.77.0.2 blocked.test\n10.77.0.3 other.test\n",
          "#redirect 0.0.0.0\nblocked.test\n");
    (void)::chown(QFile::encodeName(sb->outside(lx.lockupFile())).constData(), 4242, 4242);
    const auto r = sb->run(uR"sh(
unshare --net /bin/bash -s <<'NEAR'
set -e
ip link set lo up
ip netns add mivra-far
ip link add near0 type veth peer name far0
ip link set far0 netns mivra-far
ip addr add 10.77.0.1/24 dev near0
ip link set near0 up
F() { ip netns exec mivra-far "$@"; }
F ip link set lo up
F ip addr add 10.77.0.2/24 dev far0
F ip addr add 10.77.0.3/24 dev far0
F ip link set far0 up
# Answers every request on a connection that stays open (HTTP/1.1, kept alive).
F /usr/bin/python3 -c '
import http.server
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        self.send_response(200); self.send_header("Content-Length", "2"); self.end_headers(); self.wfile.write(b"ok")
    def log_message(self, *a): pass
http.server.ThreadingHTTPServer(("0.0.0.0", 80), H).serve_forever()' &
server=$!
trap 'kill $server $(jobs -p) 2>/dev/null; ip netns del mivra-far' EXIT
until F ss -Hltn 'sport = :80' | grep -q .; do sleep 0.05; done
client() { # UID ADDRESS: a kept-alive connection that has had one answer
    setpriv --reuid="$1" --regid="$1" --clear-groups /bin/bash -c '
        exec 3<>"/dev/tcp/$0/80"
        printf "GET / HTTP/1.1\r\nHost: x\r\n\r\n" >&3
        read -r line <&3
        exec sleep 600 3>&3' "$2" &
}
client 4242 10.77.0.2
client 4242 10.77.0.3
client 4343 10.77.0.2
until [ "$(ss -Htn state established | wc -l)" -eq 3 ]; do sleep 0.05; done
/bin/bash /usr/local/libexec/mivra/lockup-apply.sh
grep -q '^0.0.0.0 blocked.test$' /etc/hosts
ss -Htne state established | awk '{ for (i = 5; i <= NF; i++) if ($i ~ /^uid:/) print $i, $4 }' | sort
NEAR
)sh"_s);
    if (r.status != 0 && (r.err.contains("Operation not permitted") || r.err.contains("not supported")))
        GTEST_SKIP() << "network namespaces cannot be made here: " << str(r.err);
    EXPECT_EQ(r.status, 0) << str(r.err);
    EXPECT_EQ(str(r.out), "uid:4242 10.77.0.3:80\nuid:4343 10.77.0.2:80\n") << str(r.err);
}

INSTANTIATE_TEST_SUITE_P(HostsFile, ApplierTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "MountPoint" : "PlainFile"; });

// ---- Texts ---------------------------------------------------------------------------------------

// The scripts themselves run for real below; here, every text has each placeholder filled.
TEST(RootSideText, EveryPlaceholderIsFilled) {
    for (RootPlatform platform : {RootPlatform::Linux, RootPlatform::MacOS}) {
        const RootSide side(platform, platform == RootPlatform::Linux ? lx : RootLayout::macLayout());
        QStringList texts = {side.applierScript(), side.installScript(u"/home/a b/Mivra/install"_s),
                             side.removalScript(), side.claimScript()};
        for (const RootFile& job : side.jobFiles())
            texts << job.text;
        for (const QString& text : texts)
            EXPECT_FALSE(text.contains(QRegularExpression(u"@[A-Za-z_.]+@"_s))) << text.toStdString();
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

// ---- Linters over the generated texts ---------------------------------------------------------

// Runs `program` with `arguments`; its exit status and everything it printed.
std::pair<int, std::string> runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit) return {-1, "did not finish"};
    return {p.exitCode(), p.readAll().toStdString()};
}

#define SKIP_WITHOUT_TOOL(name)                                                                              \
    const QString tool = QStandardPaths::findExecutable(QStringLiteral(name));                               \
    if (tool.isEmpty()) GTEST_SKIP() << name << " is not installed (tools/test-setup.sh installs it)"

// Every script of both platforms, filled for the layout it really runs with, passes shellcheck.
TEST(RootSideLint, ShellcheckFindsNothingInTheScripts) {
    SKIP_WITHOUT_TOOL("shellcheck");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList files;
    for (RootPlatform platform : {RootPlatform::Linux, RootPlatform::MacOS}) {
        const bool onLinux = platform == RootPlatform::Linux;
        const RootSide side(platform, onLinux ? lx : RootLayout::macLayout());
        // The install script carries one digest line per staged file.
        StagedDigests digests{{u"lockup-apply.sh"_s, QByteArray(32, '\x5a')},
                              {u"mivra-blockpage"_s, QByteArray(32, '\x01')}};
        for (const RootFile& job : side.jobFiles())
            digests.insert(job.name, QByteArray(32, '\x7f'));
        QList<RootFile> scripts = {
            {u"lockup-apply.sh"_s, side.applierScript()},
            {u"install.sh"_s, side.installScript(u"/home/a b/.cache/Mivra/install"_s, digests)},
            {u"remove.sh"_s, side.removalScript()}};
        if (onLinux) scripts.append({u"mivra-claim-lockup"_s, side.claimScript()});
        for (const RootFile& script : scripts) {
            const QString path = dir.path() + (onLinux ? u"/linux-"_s : u"/macos-"_s) + script.name;
            RootSandbox::write(path, script.text.toUtf8());
            files << path;
        }
    }
    const auto [status, output] = runTool(tool, QStringList{u"--shell=bash"_s, u"--format=gcc"_s} + files);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

// systemd takes every unit without a complaint. It checks that the programs they start exist, so
// the units name a libexec folder of the test's own where the daemon is a stub.
TEST(RootSideLint, SystemdAcceptsTheUnits) {
    SKIP_WITHOUT_TOOL("systemd-analyze");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RootLayout layout = lx;
    layout.libexecDirectory = dir.path() + u"/libexec"_s;
    QDir().mkpath(layout.libexecDirectory);
    QDir().mkpath(dir.path() + u"/units"_s);
    RootSandbox::write(layout.daemon(), "#!/bin/sh\n", 0755);
    RootSandbox::write(layout.applier(), RootSide(RootPlatform::Linux, layout).applierScript().toUtf8(),
                       0755);
    QStringList files;
    for (const RootFile& unit : RootSide(RootPlatform::Linux, layout).jobFiles()) {
        files << dir.path() + u"/units/"_s + unit.name;
        RootSandbox::write(files.last(), unit.text.toUtf8());
    }
    ASSERT_EQ(files.size(), RootSide::linuxUnits().size());
    const auto [status, output] = runTool(tool, QStringList{u"verify"_s, u"--man=no"_s} + files);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

// The units `systemctl enable` links are the ones whose [Install] section names that target.
TEST(RootSideText, EachEnabledUnitIsWantedByItsTarget) {
    QMap<QString, QString> texts;
    for (const RootFile& unit : RootSide(RootPlatform::Linux, lx).jobFiles())
        texts.insert(unit.name, unit.text);
    const QList<EnabledUnit> enabled = enabledHelperUnits();
    ASSERT_FALSE(enabled.isEmpty());
    for (const EnabledUnit& u : enabled) {
        ASSERT_TRUE(texts.contains(u.unit)) << u.unit.toStdString();
        EXPECT_TRUE(texts[u.unit].contains(u"\n[Install]\nWantedBy="_s + u.wantedBy + u'\n'))
            << u.unit.toStdString();
    }
    // Every other unit is started by one of them, never enabled itself.
    for (auto it = texts.begin(); it != texts.end(); ++it) {
        const auto isIt = [&](const EnabledUnit& u) { return u.unit == it.key(); };
        if (std::none_of(enabled.begin(), enabled.end(), isIt)) {
            EXPECT_FALSE(it.value().contains(u"[Install]"_s)) << it.key().toStdString();
        }
    }
}

// The macOS texts, with stubs for launchctl, chown and the cache flushes: the property lists are
// sound XML naming the layout's files, and the scripts install and remove.
TEST(RootSideText, MacOsTextsInstallAndRemove) {
    RootSandbox sb; // its stubs only: nothing is mounted
    for (const QString& tool : {u"launchctl"_s, u"chown"_s, u"dscacheutil"_s, u"killall"_s})
        sb.addStub(tool);
    const QString sys = sb.path() + u"/Application Support/Mivra & <co>"_s, stage = sb.path() + u"/stage"_s;
    const RootLayout l{sys, sys, sys, sb.path() + u"/hosts"_s, sb.path() + u"/LaunchDaemons"_s};
    const RootSide side(RootPlatform::MacOS, l);
    const QList<RootFile> jobs = side.jobFiles();
    const QStringList namedPaths[] = {{l.applier(), l.lockupFile(), l.helperLog()},
                                      {l.applier(), l.helperLog()},
                                      {l.daemon(), l.flagFile(), l.blockpageLog()}};
    ASSERT_EQ(jobs.size(), 3);
    QDir().mkpath(stage);
    QDir().mkpath(l.jobDirectory);
    RootSandbox::write(stage + u"/lockup-apply.sh"_s, side.applierScript().toUtf8());
    RootSandbox::write(stage + u"/mivra-blockpage"_s, "daemon");
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
        RootSandbox::write(stage + u'/' + jobs[i].name, jobs[i].text.toUtf8());
    }
    ASSERT_EQ(sb.run(side.installScript(stage), false).status, 0);
    for (const QString& name : QDir(stage).entryList(QDir::Files))
        EXPECT_EQ(RootSandbox::read((name.endsWith(u".plist"_s) ? l.jobDirectory : sys) + u'/' + name),
                  RootSandbox::read(stage + u'/' + name));
    EXPECT_EQ(statOf(l.lockupFile()).st_mode & 07777, 0644); // the installing user's alone
    EXPECT_EQ(RootSandbox::read(l.versionFile()), "3\n");

    // Removal takes the block out, flushes the caches and leaves nothing behind.
    RootSandbox::write(l.hostsFile, marked("a\n@B\n127.0.0.1 x.com\n@E\n"));
    sb.clearCalls();
    EXPECT_EQ(sb.run(side.removalScript(), false).status, 0);
    EXPECT_TRUE(sb.calls().contains(u"dscacheutil -flushcache"_s));
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
    QList<RootFile> files = side.jobFiles();
    for (RootFile& unit : files)
        unit.name = QStringLiteral(MIVRA_SYSTEMD_UNITDIR) + u'/' + unit.name;
    files << RootFile{layout.applier(), side.applierScript()} << RootFile{layout.versionFile(), u"3\n"_s}
          << RootFile{layout.lockupFile(), {}};
    for (const RootFile& f : files) {
        SCOPED_TRACE(f.name.toStdString());
        EXPECT_EQ(RootSandbox::read(dest.path() + f.name), f.text.toUtf8());
        EXPECT_EQ(statOf(dest.path() + f.name).st_mode & 07022, 0) << "never writable by others";
    }
    EXPECT_EQ(statOf(dest.path() + layout.applier()).st_mode & 07777, 0755);
    EXPECT_TRUE(QFileInfo(dest.path() + layout.daemon()).isExecutable());
    EXPECT_TRUE(QFileInfo(dest.path() + layout.logDirectory).isDir());
}

} // namespace
