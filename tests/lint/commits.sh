#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every commit since this check was added keeps the commit rules the hook in tools/hooks enforces:
# a subject of at most 72 characters, without a final full stop. Older commits are history.
# Usage: commits.sh <source tree>. Exits 77 (skipped) outside a git clone with its history.
set -eu
cd "$1"
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "SKIP: not a git clone"; exit 77; }
since=$(git log --diff-filter=A --format=%H -- tests/lint/commits.sh 2>/dev/null | tail -1)
[ -n "$since" ] || { echo "SKIP: this check is not committed yet"; exit 77; }
git rev-parse -q --verify "$since^" >/dev/null || { echo "SKIP: a shallow clone"; exit 77; }
bad=0
while IFS=$'\t' read -r hash subject; do
    if [ "${#subject}" -gt 72 ] || [[ "$subject" == *. ]]; then
        echo "FAIL $hash: $subject (${#subject} characters)"
        bad=1
    fi
done < <(git log --no-merges --format='%h%x09%s' "$since^..HEAD")
exit "$bad"
