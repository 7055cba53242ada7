#!/usr/bin/env bash
# Builds Mivra and runs every test: the whole suite in the dev build, then the block page daemon
# and its tests once more under AddressSanitizer and UBSan.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=${JOBS:-$(nproc)}

cmake --preset dev >/dev/null
cmake --build --preset dev -j"$jobs"
ctest --preset dev -j"$jobs" --timeout 600

cmake -S . -B build/asan-daemon -DMIVRA_BUILD_APP=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/asan-daemon -j"$jobs"
ctest --test-dir build/asan-daemon -j"$jobs" --output-on-failure --timeout 600
