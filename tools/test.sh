#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Mivra and runs every test: the whole suite in the dev build, then the whole suite once more
# under AddressSanitizer and UBSan (stored numbers at the ends of the 64-bit range must never
# overflow; the daemon must never touch memory it does not own).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=${JOBS:-$(nproc)}

bash tools/test-setup.sh
# A second run compiles only what changed since an earlier one, in this clone or another: the
# compiler cache keeps every build's objects (paths are taken relative to the clone's folder).
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$here
fi

cmake --preset dev >/dev/null
cmake --build --preset dev -j"$jobs"
ctest --preset dev -j"$jobs" --timeout 600

# The Debian package: built as a distribution would, checked by lintian, then installed, used and
# purged in the system test's container (skipped where that cannot run).
deb=$(bash tools/package.sh)
lintian --fail-on error "$deb"
bash tests/blocking/system/packagetest.sh "$deb" build/dev/tests/blocking/mivra-systest || [ $? -eq 77 ]

# The whole suite once more in one build under AddressSanitizer and UBSan. Leaks are reported for
# the daemon, which owns all of its memory; the Qt side keeps process-long caches that are not leaks.
# The system test needs the plain build's programs inside its container, so it runs only above; the
# Lint tests check the sources and ran above already.
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs" --timeout 900 -R '^(ParseRequest|Response|LiveServer|Binary|Page)\.'
ASAN_OPTIONS=detect_leaks=0 ctest --preset asan -j"$jobs" --timeout 900 \
    -E '^(ParseRequest|Response|LiveServer|Binary|Page)\.|^system\.|^Lint\.'
