// SPDX-License-Identifier: GPL-3.0-or-later
// A live daemon on an ephemeral loopback port, talked to with raw sockets.

#include "client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace blockpage;
using namespace blockpage::test;
using namespace std::chrono_literals;

namespace {

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
    Sockets c{{connectTo(server.port())}};
    shutdown(c[0], SHUT_WR);
    EXPECT_TRUE(isPageFor(readToEnd(c[0]), "Ce site"));
}

TEST(LiveServer, SilentClientIsAnsweredAfterTheIdleTimeout) {
    // The idle time counts from the connection, including the second or so the kernel holds a
    // silent connection before handing it over. The page comes after it, never before (how soon
    // after is the benchmark's to say: a loaded machine may take its time).
    LiveServer server(ServerOptions{.idleTimeout = 3s});
    auto start = std::chrono::steady_clock::now();
    Sockets c{{connectTo(server.port())}};
    std::string reply = readToEnd(c[0], 60000);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(isPageFor(reply, "Ce site"));
    EXPECT_GE(waited, 2500ms);
}

TEST(LiveServer, ConcurrentClientsEachGetTheirOwnHost) {
    LiveServer server;
    Sockets clients;
    auto host = [](int i) { return "client-" + std::to_string(i) + ".test"; };
    // All connected before any sends, so the server holds them all at once.
    for (int i = 0; i < 100; ++i)
        clients.fds.push_back(connectTo(server.port()));
    for (int i = 99; i >= 0; --i)
        ASSERT_TRUE(sendAll(clients[i], "GET / HTTP/1.1\r\nHost: " + host(i) + "\r\n\r\n"));
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(isPageFor(readToEnd(clients[i]), host(i))) << i;
}

TEST(LiveServer, AtTheCapTheOldestHeldConnectionMakesRoomForANewClient) {
    // What each of the clients that fill the server sends: nothing, or a request it never finishes
    // (answered, then drained until it ends, which it never does).
    for (const std::string sends : {"", "GET / HTTP/1.1\r\nHost: slow.test\r\n"}) {
        SCOPED_TRACE(sends);
        // Taken at once (no deferred accept), held for a minute, eight at a time.
        LiveServer server(ServerOptions{.idleTimeout = 60s, .threads = 1, .maxConnections = 8}, false);
        Sockets held;
        for (int i = 0; i < 12; ++i) {
            held.fds.push_back(connectTo(server.port()));
            ASSERT_TRUE(sendAll(held[i], sends));
        }
        Sockets late{{connectTo(server.port())}};
        ASSERT_TRUE(sendAll(late[0], "GET / HTTP/1.1\r\nHost: late.test\r\n\r\n"));
        // Long before any of the others times out.
        EXPECT_TRUE(isPageFor(readToEnd(late[0], 5000), "late.test"));
        if (!sends.empty()) continue;
        // Each newcomer past the eighth cost the oldest its wait: it has the page and is closed. The
        // seven newest are still held, unanswered.
        for (int i = 0; i < 12; ++i)
            EXPECT_TRUE(i <= 4 ? isPageFor(readToEnd(held[i], 1000), "Ce site") : staysQuiet(held[i], 50))
                << i;
    }
}

TEST(LiveServer, RequestStillArrivingAfterTheReadGetsThePageWithoutReset) {
    LiveServer server;
    const struct {
        const char* what;
        std::vector<std::string> pieces; // sent with a pause after each
        std::string host;
    } cases[] = {
        {"longer than one read: most of it is unread when the page goes out",
         {"GET / HTTP/1.1\r\nHost: big.test\r\nCookie: " + std::string(30000, 'c') + "\r\n\r\n"},
         "big.test"},
        {"written line by line: only the first read counts, so no host is known",
         {"GET / HTTP/1.1\r\n", "Host: split.test\r\n", "\r\n"},
         "Ce site"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sockets s{{connectTo(server.port())}};
        bool sent = true, reset = false;
        for (const std::string& piece : c.pieces) {
            sent = sendAll(s[0], piece) && sent;
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(isPageFor(readToEnd(s[0], 5000, &reset), c.host));
        EXPECT_TRUE(sent && !reset);
    }
}

TEST(LiveServer, BrokenListenerEndsTheRunWithItsError) {
    LiveServer server(ServerOptions{.threads = 2});
    EXPECT_TRUE(isPageFor(exchange(server.port(), "Host: a.test\r\n"), "a.test"));
    shutdown(server.listenFd(), SHUT_RDWR); // the listener stops listening under the server's feet
    EXPECT_EQ(server.join(), EINVAL);
}

} // namespace
