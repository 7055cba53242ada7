#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++ file of the tree is formatted as its .clang-format says (Debian 12's clang-format 14).
# Usage: format.sh <source tree>. Exits 77 (skipped) when clang-format is not installed.
set -eu
cd "$1"
command -v clang-format >/dev/null || { echo "SKIP: clang-format is not installed (bash tools/test-setup.sh installs it)"; exit 77; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path ./build -prune -o -path './obj-*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print)
fi
[ ${#files[@]} -gt 0 ] || { echo "FAIL: no sources found"; exit 1; }
echo "${#files[@]} files"
# A difference fails with the file and line; `clang-format -i <file>` mends it.
clang-format --dry-run --Werror "${files[@]}"
