#include "client.h"

#include <cerrno>
#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace blockpage::test {

int connectTo(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

std::string readToEnd(int fd, int timeoutMs, bool* reset) {
    std::string out;
    if (reset)
        *reset = false;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return out;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            out.append(buf, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && reset)
            *reset = true; // ECONNRESET, or EPIPE when the reset came after the peer's end of stream
        return out;
    }
}

bool staysQuiet(int fd, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, waitMs) == 0;
}

std::string exchange(std::uint16_t port, std::string_view request) {
    int fd = connectTo(port);
    if (fd < 0)
        return {};
    sendAll(fd, request);
    std::string reply = readToEnd(fd);
    close(fd);
    return reply;
}

Reply splitReply(const std::string& raw) {
    Reply r;
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return r;
    r.head = raw.substr(0, end + 4);
    r.body = raw.substr(end + 4);
    constexpr std::string_view kField = "\r\nContent-Length: ";
    if (std::size_t at = r.head.find(kField); at != std::string::npos)
        r.contentLength = std::stol(r.head.substr(at + kField.size()));
    return r;
}

LiveServer::LiveServer(ServerOptions options, bool deferAccept) {
    listenFd_ = openListener(0, deferAccept);
    if (listenFd_ < 0)
        throw std::runtime_error("cannot open a loopback listener");
    server_ = std::make_unique<Server>(listenFd_, options);
    port_ = server_->port();
    thread_ = std::thread([this] { result_ = server_->run(); });
}

int LiveServer::join() {
    if (thread_.joinable())
        thread_.join();
    return result_;
}

LiveServer::~LiveServer() {
    server_->stop();
    join();
}

} // namespace blockpage::test
