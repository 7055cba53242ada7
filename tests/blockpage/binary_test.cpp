// The real executable on 127.0.0.1:80. It needs root and a free port 80; otherwise these tests skip.

#include "client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace blockpage;
using namespace blockpage::test;
using namespace std::chrono_literals;

namespace {

// The executable, started with no arguments and an empty environment, its standard error in a pipe.
struct Daemon {
    pid_t pid = -1;
    int err = -1;

    Daemon() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        char* argv[] = {const_cast<char*>(MIVRA_BLOCKPAGE_EXE), nullptr};
        char* envp[] = {nullptr};
        if (posix_spawn(&pid, MIVRA_BLOCKPAGE_EXE, &actions, nullptr, argv, envp) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        err = fds[0];
    }

    ~Daemon() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (err >= 0)
            close(err);
    }

    // Waits for the process to end; its exit status, or -1.
    int exitStatus() {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string stderrText() {
        std::string text;
        char buf[256];
        for (ssize_t n; (n = read(err, buf, sizeof buf)) > 0;)
            text.append(buf, std::size_t(n));
        return text;
    }
};

// Skips unless this process could bind port 80 itself (root, and nobody else on it).
#define REQUIRE_PORT_80()                                                                                    \
    do {                                                                                                     \
        if (geteuid() != 0)                                                                                  \
            GTEST_SKIP() << "needs root to bind 127.0.0.1:80";                                               \
        int probe = openListener(80);                                                                        \
        if (probe < 0)                                                                                       \
            GTEST_SKIP() << "127.0.0.1:80 is busy";                                                          \
        close(probe);                                                                                        \
    } while (0)

// Real, effective, saved and file-system user ids of a process.
std::vector<long> userIds(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::vector<long> ids;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            for (long id; fields >> id;)
                ids.push_back(id);
        }
    }
    return ids;
}

TEST(Binary, AnswersOnPort80AsAnUnprivilegedUser) {
    REQUIRE_PORT_80();
    Daemon daemon;
    ASSERT_GT(daemon.pid, 0);
    std::string reply;
    for (int i = 0; i < 100 && reply.empty(); ++i) {
        reply = exchange(80, "GET / HTTP/1.1\r\nHost: blocked.test\r\nAccept-Language: en\r\n\r\n");
        if (reply.empty())
            std::this_thread::sleep_for(50ms);
    }
    Reply r = splitReply(reply);
    EXPECT_EQ(r.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(r.contentLength, long(r.body.size()));
    EXPECT_NE(r.body.find("<b>blocked.test</b> is locked up"), std::string::npos);

    // Root was only needed for the port.
    std::vector<long> ids = userIds(daemon.pid);
    ASSERT_EQ(ids.size(), 4u);
    for (long id : ids)
        EXPECT_NE(id, 0);
}

TEST(Binary, PortTakenIsFatal) {
    REQUIRE_PORT_80();
    int taken = openListener(80);
    ASSERT_GE(taken, 0);
    Daemon daemon;
    ASSERT_GT(daemon.pid, 0);
    EXPECT_EQ(daemon.exitStatus(), 1);
    EXPECT_EQ(daemon.stderrText(), "mivra-blockpage: cannot bind :80\n");
    close(taken);
}

} // namespace
