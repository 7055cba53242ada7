#!/usr/bin/env bash
# Builds Mivra and runs every test: the whole suite in the dev build, then the block page daemon
# and its tests once more under AddressSanitizer and UBSan, and the engine's tests under UBSan
# (stored numbers at the ends of the 64-bit range must never overflow).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
jobs=${JOBS:-$(nproc)}

bash tools/test-setup.sh

cmake --preset dev >/dev/null
cmake --build --preset dev -j"$jobs"
ctest --preset dev -j"$jobs" --timeout 600

# The Debian package: built as a distribution would, checked by lintian, then installed, used and
# purged in the system test's container (skipped where that cannot run).
deb=$(bash tools/package.sh)
lintian --fail-on error "$deb"
bash tests/blocking/system/packagetest.sh "$deb" build/dev/tests/blocking/mivra-systest || [ $? -eq 77 ]

cmake -S . -B build/asan-daemon -DMIVRA_BUILD_APP=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/asan-daemon -j"$jobs"
ctest --test-dir build/asan-daemon -j"$jobs" --output-on-failure --timeout 600

cmake -S . -B build/ubsan-engine -DCMAKE_BUILD_TYPE=Debug -DMIVRA_BUILD_TESTS=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=undefined" >/dev/null
cmake --build build/ubsan-engine -j"$jobs" --target test_engine
build/ubsan-engine/tests/engine/test_engine --gtest_brief=1
