#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The hosts applier's steady run (nothing to change) on a hosts file the size of the big public
# block lists, against the same work done by hand: one awk copy without the marked block, the
# block appended, and cmp. The applier should stay within 1.5 times the hand-made baseline.
#
#   bench/rootside/applier-bench.sh [BUILD_DIR] [LINES] [RUNS]
#
# BUILD_DIR holds the built mivra-rootside-gen (default: build/release, then build/dev). Runs as
# any user: every path lies in a temporary folder.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-}
lines=${2:-150000}
runs=${3:-20}
if [ -z "$build" ]; then
    for b in "$here/build/release" "$here/build/dev"; do
        [ -x "$b/blocking/mivra-rootside-gen" ] && build=$b && break
    done
fi
gen="$build/blocking/mivra-rootside-gen"
[ -x "$gen" ] || { echo "applier-bench: no mivra-rootside-gen in '${build:-build/*}'; build it first" >&2; exit 2; }

work=$(mktemp -d /tmp/mivra-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root/state" "$root/log" "$root/libexec"
"$gen" "$work/gen" --under "$root"
applier="$work/gen/lockup-apply.sh"

# A big hosts file, then a lockup of a hundred sites; one run puts the block in place.
awk -v n="$lines" 'BEGIN { print "127.0.0.1 localhost"; print "::1 localhost ip6-localhost";
    for (i = 1; i <= n; i++) printf "0.0.0.0 ads%d.tracker%d.example.com\n", i, i % 997 }' > "$root/hosts"
{
    echo "#redirect 127.0.0.1"
    echo "#expires 4102444800"
    for i in $(seq 1 100); do echo "site$i.example.org"; done
} > "$root/state/lockup.conf"
PATH="$work/stubs:$PATH"
mkdir -p "$work/stubs"
for tool in systemctl resolvectl nscd; do printf '#!/bin/sh\nexit 0\n' > "$work/stubs/$tool"; chmod +x "$work/stubs/$tool"; done
bash "$applier"
before=$(stat -c '%i %y' "$root/hosts")

BEGIN_MARK="# >>> MIVRA LOCKUP >>>"
END_MARK="# <<< MIVRA LOCKUP <<<"
baseline() {
    local tmp k
    tmp=$(mktemp /tmp/mivra.hosts.XXXXXX)
    {
        BEGIN="$BEGIN_MARK" END="$END_MARK" LC_ALL=C awk '
            BEGIN { b = ENVIRON["BEGIN"]; e = ENVIRON["END"] }
            $0 == b { skip = 1; next }
            $0 == e { skip = 0; next }
            !skip { print }' "$root/hosts"
        echo "$BEGIN_MARK"
        for k in $(seq 1 100); do echo "127.0.0.1 site$k.example.org"; done
        echo "$END_MARK"
    } > "$tmp"
    cmp -s "$tmp" "$root/hosts" || echo "applier-bench: the baseline found a difference" >&2
    rm -f "$tmp"
}

# Milliseconds for `runs` calls of a command.
batch() {
    local start end n
    start=$(date +%s%N)
    for ((n = 0; n < runs; n++)); do "$@"; done
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

# Rounds alternate between the two, so that a machine busy with other work weighs on both alike;
# the best round of each counts.
applier_ms="" baseline_ms=""
for _ in 1 2 3 4 5; do
    a=$(batch bash "$applier")
    b=$(batch baseline)
    if [ -z "$applier_ms" ] || [ "$a" -lt "$applier_ms" ]; then applier_ms=$a; fi
    if [ -z "$baseline_ms" ] || [ "$b" -lt "$baseline_ms" ]; then baseline_ms=$b; fi
done
[ "$(stat -c '%i %y' "$root/hosts")" = "$before" ] || echo "applier-bench: the steady runs rewrote the hosts file" >&2

per_applier=$(awk -v t="$applier_ms" -v n="$runs" 'BEGIN { printf "%.1f", t / n }')
per_baseline=$(awk -v t="$baseline_ms" -v n="$runs" 'BEGIN { printf "%.1f", t / n }')
ratio=$(awk -v a="$applier_ms" -v b="$baseline_ms" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
echo "hosts file: $((lines + 2)) lines, $(stat -c %s "$root/hosts") bytes; best of 5 rounds of $runs runs"
echo "applier, nothing to change: ${per_applier} ms per run"
echo "baseline (awk copy + cmp):  ${per_baseline} ms per run"
echo "ratio: ${ratio} (target: within 1.5)"
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.5) }'
