// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The daemon's network side: a listening socket on the loopback address and the loop that answers
// every connection on it with the Closed Set page.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace blockpage {

struct ServerOptions {
    // A connection that sends nothing for this long is answered as if it had sent nothing and closed.
    std::chrono::milliseconds idleTimeout{10'000};
    // Serving threads; 0 picks one per processor, at most four.
    unsigned threads = 0;
    // Connections held at once across all threads. At the cap a new client is taken all the same:
    // the oldest silent connection is answered and closed to make room (so holding connections open
    // can keep no one from the page). 0 derives it from the descriptor limit, at most 4096.
    std::size_t maxConnections = 0;
};

// Opens a non-blocking TCP listener on 127.0.0.1:port with address reuse (port 0 picks a free port).
// With deferAccept the kernel hands a connection over only once its request has arrived, or after
// about a second of silence: a browser's connection then costs one wake-up instead of two, and a
// client that sends nothing holds no descriptor during that second. Returns the descriptor, or -1
// with errno set.
int openListener(std::uint16_t port, bool deferAccept = true);

// Raises the soft descriptor limit towards want (never past the hard limit). Returns the soft limit.
std::size_t raiseDescriptorLimit(std::size_t want);

// Gives up every privilege once the listener is bound. Run as root (or with root's group), it
// becomes the unprivileged "nobody" account: supplementary groups first, then the group, then the
// user, real, effective and saved ids alike. Started unprivileged with the capability to bind low
// ports, it drops that capability. Returns 0, or the errno of the step that failed; EPERM when the
// process still has a root user or group id, a supplementary group 0 or a capability afterwards, or
// could regain root.
int dropPrivileges();

class Server {
public:
    // Takes ownership of a listening socket made by openListener().
    explicit Server(int listenFd, ServerOptions options = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The local port of the listener.
    std::uint16_t port() const;

    // Serves until stop() is called (returns 0) or the listener fails (returns its errno).
    int run();

    // Makes run() return; safe from any thread and from a signal handler.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace blockpage
