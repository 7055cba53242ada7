#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every shell script of the tree passes shellcheck at warning level (the tree's .shellcheckrc holds
# the few checks it turns off, each with its reason). Usage: shellcheck.sh <source tree>.
# Exits 77 (skipped) when shellcheck is not installed.
set -eu
cd "$1"
command -v shellcheck >/dev/null || { echo "SKIP: shellcheck is not installed (bash tools/test-setup.sh installs it)"; exit 77; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files)
else
    files=$(find . -path ./build -prune -o -type f -print | sed 's|^\./||')
fi
scripts=()
while IFS= read -r f; do
    [ -f "$f" ] || continue
    case $f in
        # The root side's templates are fragments: its own test checks them once filled in.
        blocking/rootside/*) ;;
        *.sh) scripts+=("$f") ;;
        *) head -c 64 "$f" | head -n 1 | grep -qE '^#!(/usr)?/bin/(env )?(ba)?sh' && scripts+=("$f") ;;
    esac
done <<<"$files"
[ ${#scripts[@]} -gt 0 ] || { echo "FAIL: no scripts found"; exit 1; }
echo "${#scripts[@]} scripts"
shellcheck --severity=warning "${scripts[@]}"
