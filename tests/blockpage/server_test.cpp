// A live daemon on an ephemeral loopback port, talked to with raw sockets.

#include "client.h"
#include "page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace blockpage;
using namespace blockpage::test;
using namespace std::chrono_literals;

namespace {

// Closes the descriptors it holds when the test ends, whatever the outcome.
struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
        for (int fd : fds)
            close(fd);
    }
};

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

bool isPageFor(const std::string& raw, std::string_view host) {
    Reply r = splitReply(raw);
    return r.head.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && r.contentLength == long(r.body.size()) &&
           r.body.find("<b>" + std::string(host) + "</b>") != std::string::npos;
}

TEST(LiveServer, AnswersAnyBytesAndEmptyConnections) {
    LiveServer server;
    std::string en =
        exchange(server.port(), "GET /x HTTP/1.1\r\nHost: Mixed.Case.test:81\r\nAccept-Language: en\r\n\r\n");
    EXPECT_TRUE(isPageFor(en, "Mixed.Case.test:81"));
    EXPECT_NE(en.find("<html lang=\"en\">"), std::string::npos);

    // Not HTTP at all (a TLS greeting): still the page, status 200.
    EXPECT_TRUE(isPageFor(
        exchange(server.port(), std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)), "Ce site"));

    // Nothing at all before the end of the stream.
    int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    shutdown(fd, SHUT_WR);
    EXPECT_TRUE(isPageFor(readToEnd(fd), "Ce site"));
    close(fd);
}

TEST(LiveServer, SilentClientIsAnsweredAfterTheIdleTimeout) {
    // The idle time counts from the connection, including the second or so the kernel holds a
    // silent connection before handing it over.
    LiveServer server(ServerOptions{.idleTimeout = 3s});
    auto start = std::chrono::steady_clock::now();
    int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    std::string reply = readToEnd(fd, 8000);
    auto waited = std::chrono::steady_clock::now() - start;
    close(fd);
    EXPECT_TRUE(isPageFor(reply, "Ce site"));
    EXPECT_GE(waited, 2500ms);
    EXPECT_LT(waited, 3700ms);
}

TEST(LiveServer, ConcurrentClientsEachGetTheirOwnHost) {
    LiveServer server;
    Sockets clients;
    // All connected before any sends, so the server holds them all at once.
    for (int i = 0; i < 200; ++i) {
        int fd = connectTo(server.port());
        ASSERT_GE(fd, 0) << i;
        clients.fds.push_back(fd);
    }
    for (int i = 199; i >= 0; --i)
        ASSERT_TRUE(
            sendAll(clients.fds[i], "GET / HTTP/1.1\r\nHost: client-" + std::to_string(i) + ".test\r\n\r\n"));
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(isPageFor(readToEnd(clients.fds[i]), "client-" + std::to_string(i) + ".test")) << i;
}

TEST(LiveServer, KeepsServingWhileTwoThousandClientsSitIdle) {
    // Both ends of every connection live in this process.
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    const rlim_t need = 2 * 2000 + 256;
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < need)
        GTEST_SKIP() << "the hard descriptor limit (" << lim.rlim_max << ") is below " << need;
    if (lim.rlim_cur < need) {
        lim.rlim_cur = need;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }

    LiveServer server(ServerOptions{.idleTimeout = 60s});
    Sockets idle;
    for (int i = 0; i < 2000; ++i) {
        int fd = connectTo(server.port());
        ASSERT_GE(fd, 0) << i;
        idle.fds.push_back(fd);
    }
    // Wait until the server has taken them all over: both ends open in this process.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (openDescriptors() < 4000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(openDescriptors(), 4000u);
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(isPageFor(exchange(server.port(), "Host: busy-" + std::to_string(i) + ".test\r\n\r\n"),
                              "busy-" + std::to_string(i) + ".test"));
    // The idle ones are still held, unanswered.
    EXPECT_TRUE(staysQuiet(idle.fds.front(), 50));
    EXPECT_TRUE(staysQuiet(idle.fds.back(), 50));
}

TEST(LiveServer, ClientsBeyondTheCapWaitInTheBacklogAndAreServed) {
    // Accepted at once, so that the silent clients are held by the server rather than by the kernel.
    LiveServer server(ServerOptions{.idleTimeout = 200ms, .threads = 1, .maxConnections = 8}, false);
    Sockets idle;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i) {
        int fd = connectTo(server.port());
        ASSERT_GE(fd, 0);
        idle.fds.push_back(fd);
    }
    // Queued behind the idle ones, answered once enough of them have timed out.
    int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    idle.fds.push_back(fd);
    ASSERT_TRUE(sendAll(fd, "Host: late.test\r\n\r\n"));
    EXPECT_TRUE(isPageFor(readToEnd(fd, 10000), "late.test"));
    // Held eight at a time: three waves of idle clients time out before its turn comes.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 550ms);
    for (std::size_t i = 0; i + 1 < idle.fds.size(); ++i)
        EXPECT_TRUE(isPageFor(readToEnd(idle.fds[i], 10000), "Ce site")) << i;
}

// Sends the pieces with a pause between them and reads the answer; reset tells whether the
// connection was reset rather than closed.
std::string sendInPieces(std::uint16_t port, const std::vector<std::string>& pieces, bool& reset) {
    int fd = connectTo(port);
    if (fd < 0) return {};
    bool sent = true;
    for (const std::string& piece : pieces) {
        sent = sendAll(fd, piece) && sent;
        std::this_thread::sleep_for(100ms);
    }
    std::string reply = readToEnd(fd, 5000, &reset);
    reset = reset || !sent;
    close(fd);
    return reply;
}

TEST(LiveServer, RequestStillArrivingAfterTheReadGetsThePageWithoutReset) {
    LiveServer server;
    const std::string cookie = "Cookie: " + std::string(30000, 'c') + "\r\n";
    bool reset = false;

    // Longer than one read: most of it is still unread when the page goes out.
    std::string reply =
        sendInPieces(server.port(), {"GET / HTTP/1.1\r\nHost: big.test\r\n" + cookie + "\r\n"}, reset);
    EXPECT_FALSE(reset);
    EXPECT_TRUE(isPageFor(reply, "big.test"));

    // A short request written line by line: only the first read counts, so no host is known.
    reply = sendInPieces(server.port(), {"GET / HTTP/1.1\r\n", "Host: split.test\r\n", "\r\n"}, reset);
    EXPECT_FALSE(reset);
    EXPECT_TRUE(isPageFor(reply, "Ce site"));
}

TEST(LiveServer, BrokenListenerEndsTheRunWithItsError) {
    LiveServer server(ServerOptions{.threads = 2});
    EXPECT_TRUE(isPageFor(exchange(server.port(), "Host: a.test\r\n"), "a.test"));
    shutdown(server.listenFd(), SHUT_RDWR); // the listener stops listening under the server's feet
    EXPECT_EQ(server.join(), EINVAL);
}

} // namespace
