#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test in a network namespace of its own when it can (root): port 80 of its loopback is then
# its own, so neither another run of the suite nor a web server on the machine can take it.
if [ "$(id -u)" = 0 ] && unshare --net true 2>/dev/null; then
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
