// SPDX-License-Identifier: GPL-3.0-or-later
// The real executable on 127.0.0.1:80, started the ways a service manager may start it. It needs root
// and a free port 80; otherwise these tests skip.

#include "client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

using namespace blockpage;
using namespace blockpage::test;
using namespace std::chrono_literals;

namespace {

// Who the executable is started as: user (0: root), the three group ids, supplementary groups, and
// whether it has CAP_NET_BIND_SERVICE as an ambient capability.
struct Start {
    const char* what;
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
    bool bindCapability;
};

// The executable, started with no arguments and an empty environment, its standard error in a pipe.
struct Daemon {
    pid_t pid = -1;
    int err = -1;

    explicit Daemon(const Start& as = {"root", 0, 0, {}, false}) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], STDERR_FILENO);
            if (setgroups(as.groups.size(), as.groups.data()) != 0 || setresgid(as.gid, as.gid, as.gid) != 0)
                _exit(126);
            if (as.uid != 0) {
                prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0);
                if (setresuid(as.uid, as.uid, as.uid) != 0) _exit(126);
            }
            if (as.bindCapability) {
                __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
                __user_cap_data_struct caps[2]{};
                caps[0].effective = caps[0].permitted = caps[0].inheritable = 1u << CAP_NET_BIND_SERVICE;
                if (syscall(SYS_capset, &head, caps) != 0 ||
                    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0) != 0)
                    _exit(126);
            }
            char* argv[] = {const_cast<char*>(MIVRA_BLOCKPAGE_EXE), nullptr};
            char* envp[] = {nullptr};
            execve(MIVRA_BLOCKPAGE_EXE, argv, envp);
            _exit(127);
        }
        close(fds[1]);
        err = fds[0];
    }
    ~Daemon() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        close(err);
    }
    // Waits for the process to end (killing it after 5 s): its exit status, -1 when it had to be
    // killed, and what it wrote on standard error.
    std::pair<int, std::string> outcome() {
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 100 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i)
            std::this_thread::sleep_for(50ms);
        if (ended == 0 && kill(pid, SIGKILL) == 0) waitpid(pid, &status, 0);
        pid = -1;
        std::string text(4096, '\0');
        text.resize(std::size_t(std::max<ssize_t>(0, read(err, text.data(), text.size()))));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
    // The fields of one line of /proc/PID/status ("Uid:", "CapEff:", …).
    std::vector<std::string> status(const std::string& key) const {
        std::ifstream file("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(file, line);)
            if (line.rfind(key, 0) == 0) {
                std::istringstream in(line.substr(key.size()));
                return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
            }
        return {};
    }
};

// Skips unless this process could bind port 80 itself (root, and nobody else on it).
#define REQUIRE_PORT_80()                                                                                    \
    if (int probe = geteuid() == 0 ? openListener(80) : -1; probe < 0)                                       \
        GTEST_SKIP() << "needs root and a free 127.0.0.1:80";                                                \
    else                                                                                                     \
        close(probe)

// Whether the user can execute the daemon where it was built: a build in a private home folder
// (such as /root) is out of other users' reach.
bool reachableBy(uid_t uid, gid_t gid) {
    const pid_t child = fork();
    if (child == 0) {
        const bool ok = setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0 &&
                        access(MIVRA_BLOCKPAGE_EXE, X_OK) == 0;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Binary, ServesAsNobodyWithNoRootGroupAndNoCapabilityOrNotAtAll) {
    REQUIRE_PORT_80();
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    if (!reachableBy(uid, gid))
        GTEST_SKIP() << "nobody cannot execute " << MIVRA_BLOCKPAGE_EXE
                     << " (a folder on the way is private)";
    const std::string cannotDrop = "mivra-blockpage: cannot give up root: Operation not permitted\n";
    const struct {
        Start as;
        bool portTaken;
        std::string error; // what it says before leaving with status 1; empty when it serves
    } cases[] = {
        {{"root, in root's and other groups", 0, 0, {0, 4, 27}, false}, false, ""},
        {{"nobody with the capability to bind", uid, gid, {gid}, true}, false, ""},
        // Unprivileged in root's group, which it has no right to leave.
        {{"root's group", uid, 0, {}, true}, false, cannotDrop},
        {{"root as a supplementary group", uid, gid, {0}, true}, false, cannotDrop},
        {{"root, port 80 taken", 0, 0, {}, false}, true, "mivra-blockpage: cannot bind :80\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.as.what);
        const int taken = c.portTaken ? openListener(80) : -1;
        Daemon daemon(c.as);
        ASSERT_GT(daemon.pid, 0);
        if (!c.error.empty()) {
            EXPECT_EQ(daemon.outcome(), std::make_pair(1, c.error));
            if (taken >= 0) close(taken);
            continue;
        }
        std::string reply;
        for (int i = 0; i < 100 && reply.empty(); ++i, std::this_thread::sleep_for(50ms))
            reply = exchange(80, "GET / HTTP/1.1\r\nHost: blocked.test\r\nAccept-Language: en\r\n\r\n");
        EXPECT_TRUE(isPageFor(reply, "blocked.test"));

        // Real, effective, saved and file-system ids; every supplementary group; every capability set.
        for (const char* key : {"Uid:", "Gid:"})
            EXPECT_EQ(daemon.status(key).size(), 4u) << key;
        for (const char* key : {"Uid:", "Gid:", "Groups:"}) {
            const std::vector<std::string> ids = daemon.status(key);
            EXPECT_EQ(std::count(ids.begin(), ids.end(), "0"), 0) << key;
        }
        for (const char* key : {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"})
            EXPECT_EQ(daemon.status(key), std::vector<std::string>{"0000000000000000"}) << key;
    }
}

} // namespace
