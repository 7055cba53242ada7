#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How prompt the root side is under a real systemd: the system test, with every wait bounded by the
# promise (a lockup write reaches /etc/hosts within 1 s) instead of a loaded machine's margin. Each
# figure is printed; a figure over the promise shows as a failed check.
#
#   bench/rootside/promptness.sh [BUILD_DIR] [SECONDS]     (as root; default build/dev, 1 s)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$here/build/dev}
systest=$build/tests/blocking/mivra-systest
daemon=$build/mivra-blockpage
[ -x "$systest" ] && [ -x "$daemon" ] || {
    echo "promptness: build mivra-systest and mivra-blockpage in $build first" >&2
    exit 2
}
MIVRA_SYSTEST_WAIT=${2:-1} exec bash "$here/tests/blocking/system/systemtest.sh" "$systest" "$daemon"
