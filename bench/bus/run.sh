#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the bus costs: how long `mivractl status` takes, end to end as a shell sees it, and how much
# of a core a watching status bar adds to Mivra during a take. Runs on a private session bus
# against the bus interface over an engine on fakes, whose clock ticks every 10 ms instead of every
# second so that a few seconds cover a thousand ticks; the cost per tick is what a real take pays
# each second.
#   bash bench/bus/run.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
ctl=$build/mivractl/mivractl
host=$build/bench/bench_bushost
[ -x "$ctl" ] && [ -x "$host" ] || { echo "build mivractl and bench_bushost first ($build)" >&2; exit 1; }

if [ -z "${MIVRA_BENCH_BUS:-}" ]; then
    MIVRA_BENCH_BUS=1 dbus-run-session --config-file=tests/data/dbus-session.conf -- bash "$0" "$build" 2>&1 \
        | grep -v 'fd limit'
    exit "${PIPESTATUS[0]}"
fi

# CPU time in nanoseconds, all threads of the process.
cpu() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%d\n", s}'; }
now_ns() { date +%s%N; }

start_host() {
    coproc HOST { exec "$host" "$@"; }
    read -r ready <&"${HOST[0]}"
    [ "$ready" = ready ] || { echo "host did not start" >&2; exit 1; }
    hostpid=$HOST_PID
}

# The latency is measured with the clock ticking once a second, as in Mivra.
start_host
# mivractl status: 300 runs, median and 95th percentile; then the CPU time of 300 more.
"$ctl" status >/dev/null
times=()
for _ in $(seq 300); do
    t0=$(now_ns); "$ctl" status >/dev/null; t1=$(now_ns)
    times+=($(( (t1 - t0) / 1000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {
    printf "mivractl status: median %.2f ms, p95 %.2f ms, max %.2f ms over %d runs (target < 20 ms)\n",
           a[int(NR*0.5)]/1000, a[int(NR*0.95)]/1000, a[NR]/1000, NR }'

cpu0=$(awk '{print $16 + $17}' /proc/$$/stat)
for _ in $(seq 300); do "$ctl" status >/dev/null; done
awk -v hz="$(getconf CLK_TCK)" -v c0="$cpu0" '{c1 = $16 + $17} END {
    printf "mivractl status: %.2f ms of CPU per run (user + system)\n", (c1 - c0) / hz / 300 * 1000 }' /proc/$$/stat
kill "$hostpid"; wait "$hostpid" 2>/dev/null || true

start_host --tick-ms 10

# Mivra's CPU over 1,000 ticks of a rolling take, without and with a watching bar.
window() {
    "$ctl" roll
    sleep 0.5
    local c0; c0=$(cpu "$hostpid")
    sleep 10
    local c1; c1=$(cpu "$hostpid")
    "$ctl" cut
    echo $(( c1 - c0 ))
}
quiet=$(window)
lines=$(mktemp)
"$ctl" watch >"$lines" &
watchpid=$!
sleep 0.5
watched=$(window)
kill "$watchpid"; wait "$watchpid" 2>/dev/null || true
awk -v q="$quiet" -v w="$watched" -v n="$(wc -l <"$lines")" 'BEGIN {
    ticks = 1000
    pq = q / ticks / 1e3; pw = w / ticks / 1e3
    printf "Mivra per tick of a take: %.1f us alone, %.1f us with a watching bar (%d lines printed)\n", pq, pw, n
    printf "watch costs Mivra %.4f %% of a core at one tick a second (target < 0.05 %%); the whole tick with it %.4f %%\n",
           (pw - pq > 0 ? pw - pq : 0) / 1e4, pw / 1e4 }'
rm -f "$lines"
kill "$hostpid"
