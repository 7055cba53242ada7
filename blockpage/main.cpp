// SPDX-License-Identifier: GPL-3.0-or-later
// mivra-blockpage: answers every HTTP request on 127.0.0.1:80 with the Closed Set page.
// It reads no arguments and no environment; it runs until killed.

#include "server.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

int fail(std::string_view what) {
    std::string line = "mivra-blockpage: ";
    line += what;
    line += '\n';
    (void)!write(STDERR_FILENO, line.data(), line.size());
    return 1;
}

} // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    // Room for the connections held at once, taken before giving up root.
    blockpage::raiseDescriptorLimit(4096 + 128);

    int fd = blockpage::openListener(80);
    if (fd < 0) return fail("cannot bind :80");

    // Port 80 is the only privilege needed, and only to bind: serve as nobody, with no root group and
    // no capability, however the daemon was started.
    if (int err = blockpage::dropPrivileges()) {
        close(fd);
        return fail(std::string("cannot give up root: ") + std::strerror(err));
    }

    blockpage::Server server(fd);
    int err = server.run(); // returns only when the listener fails
    return fail(std::strerror(err != 0 ? err : EIO));
}
