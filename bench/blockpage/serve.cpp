// SPDX-License-Identifier: GPL-3.0-or-later
// blockpage_serve PORT [THREADS]: the daemon's server on any loopback port, for load tests and manual
// checks without root. The daemon itself always binds port 80.

#include "server.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A whole decimal number from lo to hi, else -1.
long number(const char* text, long lo, long hi) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && n >= lo && n <= hi ? n : -1;
}

} // namespace

int main(int argc, char** argv) {
    const long port = argc >= 2 ? number(argv[1], 1, 65535) : -1;
    const long threads = argc == 3 ? number(argv[2], 1, 1024) : 0;
    if (argc < 2 || argc > 3 || port < 0 || threads < 0) {
        std::fprintf(stderr, "usage: %s PORT [THREADS]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    blockpage::raiseDescriptorLimit(4096 + 128);
    int fd = blockpage::openListener(std::uint16_t(port));
    if (fd < 0) {
        std::fprintf(stderr, "blockpage_serve: cannot bind :%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    blockpage::ServerOptions options;
    if (threads > 0) options.threads = unsigned(threads);
    blockpage::Server server(fd, options);
    int err = server.run();
    std::fprintf(stderr, "blockpage_serve: %s\n", std::strerror(err));
    return 1;
}
