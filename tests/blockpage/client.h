#pragma once

// Raw loopback clients and a live daemon on an ephemeral port, for the daemon's tests.

#include "server.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace blockpage::test {

// A blocking TCP connection to 127.0.0.1:port, or -1.
int connectTo(std::uint16_t port);

bool sendAll(int fd, std::string_view bytes);

// Reads until the peer closes or timeoutMs passes without data. Sets reset when the connection ended
// in a reset instead of an orderly close.
std::string readToEnd(int fd, int timeoutMs = 5000, bool* reset = nullptr);

// True when the socket has nothing to read and is still open after waitMs.
bool staysQuiet(int fd, int waitMs);

// Connects, sends the request, reads the whole answer, closes.
std::string exchange(std::uint16_t port, std::string_view request);

// The answer cut into its head (up to the empty line) and its body.
struct Reply {
    std::string head;
    std::string body;
    long contentLength = -1;
};
Reply splitReply(const std::string& raw);

// A server on an ephemeral loopback port, serving on a thread of its own until destroyed.
class LiveServer {
public:
    explicit LiveServer(ServerOptions options = {}, bool deferAccept = true);
    ~LiveServer();
    std::uint16_t port() const { return port_; }
    int listenFd() const { return listenFd_; }
    // Waits for run() to return and gives its result.
    int join();

private:
    std::unique_ptr<Server> server_;
    std::thread thread_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    int result_ = -1;
};

} // namespace blockpage::test
