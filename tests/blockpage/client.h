// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Raw loopback clients, and a live server on an ephemeral port, for the daemon's tests.

#include "server.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace blockpage::test {

// A blocking TCP connection to 127.0.0.1:port, or -1.
inline int connectTo(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{
        .sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, std::string_view bytes) {
    for (ssize_t n; !bytes.empty(); bytes.remove_prefix(std::size_t(n)))
        if ((n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)) <= 0) return false;
    return true;
}

// True when nothing arrives (data or end of stream) within waitMs.
inline bool staysQuiet(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 0;
}

// Reads until the peer closes or timeoutMs passes without data. Sets reset when the connection ended
// in a reset (ECONNRESET, or EPIPE after the peer's end of stream) instead of an orderly close.
inline std::string readToEnd(int fd, int timeoutMs = 5000, bool* reset = nullptr) {
    std::string out;
    char buf[4096];
    ssize_t n = 0;
    while (!staysQuiet(fd, timeoutMs) && (n = recv(fd, buf, sizeof buf, 0)) > 0)
        out.append(buf, std::size_t(n));
    if (reset) *reset = n < 0;
    return out;
}

// Descriptors closed when the test ends, whatever its outcome.
struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    int operator[](std::size_t i) const { return fds.at(i); }
};

// Connects, sends the request, reads the whole answer, closes.
inline std::string exchange(std::uint16_t port, std::string_view request) {
    Sockets c{{connectTo(port)}};
    return c[0] >= 0 && sendAll(c[0], request) ? readToEnd(c[0]) : std::string();
}

// An answer cut at the empty line that ends its head.
struct Reply {
    std::string head, body;
    long contentLength = -1;
};

inline Reply splitReply(const std::string& raw) {
    std::size_t end = raw.find("\r\n\r\n"), field = raw.find("\r\nContent-Length: ");
    if (end == std::string::npos) return {};
    return {raw.substr(0, end + 4), raw.substr(end + 4),
            field < end ? std::stol(raw.substr(field + 18)) : -1};
}

// Whether a raw answer is the page, whole, with this host in its host box.
inline bool isPageFor(const std::string& raw, std::string_view host) {
    Reply r = splitReply(raw);
    return r.head.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && r.contentLength == long(r.body.size()) &&
           r.body.find("<b>" + std::string(host) + "</b>") != std::string::npos;
}

// A server on an ephemeral loopback port, serving on a thread of its own until destroyed.
class LiveServer {
public:
    explicit LiveServer(ServerOptions options = {}, bool deferAccept = true) {
        listenFd_ = openListener(0, deferAccept);
        if (listenFd_ < 0) throw std::runtime_error("cannot open a loopback listener");
        server_ = std::make_unique<Server>(listenFd_, options);
        thread_ = std::thread([this] { result_ = server_->run(); });
    }
    ~LiveServer() {
        server_->stop();
        join();
    }
    std::uint16_t port() const { return server_->port(); }
    int listenFd() const { return listenFd_; }
    // Waits for run() to return and gives its result.
    int join() {
        if (thread_.joinable()) thread_.join();
        return result_;
    }

private:
    std::unique_ptr<Server> server_;
    std::thread thread_;
    int listenFd_ = -1;
    int result_ = -1;
};

} // namespace blockpage::test
