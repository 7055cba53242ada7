// SPDX-License-Identifier: GPL-3.0-or-later
// blockpage_serve PORT [THREADS]: the daemon's server on any loopback port, for load tests and manual
// checks without root. The daemon itself always binds port 80.

#include "server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s PORT [THREADS]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    blockpage::raiseDescriptorLimit(4096 + 128);
    int fd = blockpage::openListener(std::uint16_t(std::atoi(argv[1])));
    if (fd < 0) {
        std::fprintf(stderr, "blockpage_serve: cannot bind :%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    blockpage::ServerOptions options;
    if (argc == 3) options.threads = unsigned(std::atoi(argv[2]));
    blockpage::Server server(fd, options);
    int err = server.run();
    std::fprintf(stderr, "blockpage_serve: %s\n", std::strerror(err));
    return 1;
}
