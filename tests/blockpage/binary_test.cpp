// The real executable on 127.0.0.1:80. It needs root and a free port 80; otherwise these tests skip.

#include "client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

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
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        char* argv[] = {const_cast<char*>(MIVRA_BLOCKPAGE_EXE), nullptr};
        char* envp[] = {nullptr};
        if (posix_spawn(&pid, MIVRA_BLOCKPAGE_EXE, &actions, nullptr, argv, envp) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        err = fds[0];
    }
    ~Daemon() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        close(err);
    }
    // Waits for the process to end: its exit status and what it wrote on standard error.
    std::pair<int, std::string> outcome() {
        int status = 0;
        waitpid(std::exchange(pid, -1), &status, 0);
        std::string text;
        char buf[256];
        for (ssize_t n; (n = read(err, buf, sizeof buf)) > 0;)
            text.append(buf, std::size_t(n));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
    }
};

// Skips unless this process could bind port 80 itself (root, and nobody else on it).
#define REQUIRE_PORT_80()                                                                                    \
    if (int probe = geteuid() == 0 ? openListener(80) : -1; probe < 0)                                       \
        GTEST_SKIP() << "needs root and a free 127.0.0.1:80";                                                \
    else                                                                                                     \
        close(probe)

TEST(Binary, AnswersOnPort80AsAnUnprivilegedUser) {
    REQUIRE_PORT_80();
    Daemon daemon;
    ASSERT_GT(daemon.pid, 0);
    std::string reply;
    for (int i = 0; i < 100 && reply.empty(); ++i, std::this_thread::sleep_for(50ms))
        reply = exchange(80, "GET / HTTP/1.1\r\nHost: blocked.test\r\nAccept-Language: en\r\n\r\n");
    Reply r = splitReply(reply);
    EXPECT_EQ(r.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_EQ(r.contentLength, long(r.body.size()));
    EXPECT_NE(r.body.find("<b>blocked.test</b> is locked up"), std::string::npos);

    // Root was needed for the port only: real, effective, saved and file-system ids are all given up.
    std::ifstream status("/proc/" + std::to_string(daemon.pid) + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("Uid:", 0) != 0) {
    }
    std::istringstream ids(line.substr(4));
    int count = 0;
    for (long id; ids >> id; ++count)
        EXPECT_NE(id, 0);
    EXPECT_EQ(count, 4);
}

TEST(Binary, PortTakenIsFatal) {
    REQUIRE_PORT_80();
    int taken = openListener(80);
    ASSERT_GE(taken, 0);
    Daemon daemon;
    ASSERT_GT(daemon.pid, 0);
    EXPECT_EQ(daemon.outcome(), std::make_pair(1, std::string("mivra-blockpage: cannot bind :80\n")));
    close(taken);
}

} // namespace
