#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop app measured from outside, side by side with the floor (bench/ui/floor: the least a Qt
# Quick tray program of the same shape costs), on one X server with a window manager and a tray host:
#   start-up   from exec to the icon embedded in the tray, and to the popover shown on a click then
#   memory     resident set never opened, after the popover was opened once, after it stayed closed
#              a while; anonymous (heap) memory after opening
#   CPU        share of one core and wake-ups per second while a take runs with the popover closed,
#              then again with 300 more idle processes on the machine, and with the popover open
#   reopening  from the click to the popover shown, after it stayed closed a while
# Both programs run at once, so each figure of the two is taken over the same seconds.
# Usage: bash bench/ui/run.sh [path to mivra [path to the floor]]   (default: the release build)
#   MIVRA_BENCH_SECONDS   seconds per CPU figure (default 20)
#   MIVRA_BENCH_EXTRA     idle processes added for the growth figure (default 300)
#   MIVRA_BENCH_CLOSED    seconds the popover stays closed before the last memory figure (default 40)
# Needs Xvfb, openbox, trayer, xdotool and x11-utils (tools/test-setup.sh installs them).
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
mivra=${1:-$here/build/release/mivra}
floor=${2:-$here/build/release/bench/ui/floor/mivra-floor}
ctl=$(dirname "$mivra")/mivractl/mivractl
[ -x "$ctl" ] || ctl=$(dirname "$mivra")/mivractl
[ -x "$mivra" ] || { echo "no $mivra: cmake --preset release && cmake --build --preset release --target mivra"; exit 1; }
[ -x "$floor" ] || { echo "no $floor: cmake --build --preset release --target mivra-floor"; exit 1; }
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (bash tools/test-setup.sh)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
desk=$here/tools/xdesk.sh
# shellcheck source=../../tools/xdesk.sh
source "$desk"
start_desktop || exit 1
export MIVRA_XDESK=$desk MIVRA_BENCH_BIN=$mivra MIVRA_BENCH_FLOOR=$floor MIVRA_BENCH_CTL=$ctl
export MIVRA_BENCH_SECONDS=${MIVRA_BENCH_SECONDS:-20} MIVRA_BENCH_EXTRA=${MIVRA_BENCH_EXTRA:-300}
export MIVRA_BENCH_CLOSED=${MIVRA_BENCH_CLOSED:-40} MIVRA_BENCH_WORK=$work

dbus-run-session -- bash -s <<'INNER' 2>/dev/null
set -u
now_ms() { date +%s%3N; }
source "$MIVRA_XDESK"
secs=$MIVRA_BENCH_SECONDS
# A program's tray icon: its window inside trayer's panel.
icon_of() {
    local id
    id=$(xwininfo -root -tree | awk -v c="(\"$1\" \"$1\")" '/"panel": \("panel" "trayer"\)/ {inpanel=1; next}
                                                            inpanel && index($0, c) {print $1; exit}')
    [ -n "$id" ] && echo "$id"
}
# A program's visible window 340 wide (the popover, the floor's window).
shown() {
    local id w
    for id in $(xdotool search --onlyvisible --class "$1" 2>/dev/null); do
        read -r _ _ w _ < <(geometry "$id")
        [ "$w" = 340 ] && { echo "$id"; return 0; }
    done
    return 1
}
click_icon() { # <class>
    local x y w h
    read -r x y w h < <(geometry "$(icon_of "$1")")
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}
kib() { awk -v k="$2" '$1 == k":" {print $2}' /proc/$1/status; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
# CPU ticks and voluntary context switches (wake-ups) of every thread of a process.
# (nanoseconds on a CPU, from schedstat: finer than the clock ticks of stat)
ticks() { cat /proc/$1/task/*/schedstat 2>/dev/null | awk '{n += $1} END {printf "%d", n / 1000}'; }
wakeups() { cat /proc/$1/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n}'; }
hz=1000000 # ticks are microseconds
# Sets cpu_a cpu_b wake_a wake_b over $secs seconds for two processes at once.
measure() {
    local ta tb wa wb ta2 tb2 wa2 wb2
    ta=$(ticks "$1"); tb=$(ticks "$2"); wa=$(wakeups "$1"); wb=$(wakeups "$2")
    sleep "$secs"
    ta2=$(ticks "$1"); tb2=$(ticks "$2"); wa2=$(wakeups "$1"); wb2=$(wakeups "$2")
    cpu_a=$(awk -v d=$((ta2 - ta)) -v hz="$hz" -v s="$secs" 'BEGIN {printf "%.3f", 100 * d / hz / s}')
    cpu_b=$(awk -v d=$((tb2 - tb)) -v hz="$hz" -v s="$secs" 'BEGIN {printf "%.3f", 100 * d / hz / s}')
    wake_a=$(awk -v d=$((wa2 - wa)) -v s="$secs" 'BEGIN {printf "%.1f", d / s}')
    wake_b=$(awk -v d=$((wb2 - wb)) -v s="$secs" 'BEGIN {printf "%.1f", d / s}')
}
rows=()
row() { # <figure> <mivra> <floor> [unit]
    local ratio
    ratio=$(awk -v a="$2" -v b="$3" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}')
    rows+=("$(printf '| %-46s | %10s | %10s | %6s |' "$1" "$2${4:-}" "$3${4:-}" "$ratio")")
}

"$MIVRA_BENCH_FLOOR" >/dev/null 2>&1 &
floor=$!
until icon_of mivra-floor >/dev/null; do sleep 0.005; done
t0=$(now_ms)
"$MIVRA_BENCH_BIN" >/dev/null 2>&1 &
app=$!
until icon_of mivra >/dev/null; do sleep 0.005; done
t1=$(now_ms)
sleep 3
rss_never_a=$(kib $app VmRSS); rss_never_b=$(kib $floor VmRSS)

# Open both once (the floor first: a click outside the popover only closes it); roll a take;
# close both again.
click_icon mivra-floor
until shown mivra-floor >/dev/null; do sleep 0.05; done
t2=$(now_ms); click_icon mivra
until shown mivra >/dev/null; do sleep 0.005; done
t3=$(now_ms)
sleep 1
rss_open_a=$(kib $app VmRSS); rss_open_b=$(kib $floor VmRSS)
if [ -x "$MIVRA_BENCH_CTL" ]; then
    "$MIVRA_BENCH_CTL" roll
else
    read -r px py pw ph < <(geometry "$(shown mivra)")
    xdotool mousemove $((px + 90)) $((py + 269)) click 1
fi
sleep 1
xdotool mousemove 200 600 click 1
click_icon mivra-floor
while shown mivra >/dev/null || shown mivra-floor >/dev/null; do sleep 0.05; done
closed_at=$(now_ms)
sleep 2
rss_once_a=$(kib $app VmRSS); rss_once_b=$(kib $floor VmRSS)
anon_a=$(kib $app RssAnon); anon_b=$(kib $floor RssAnon)

measure $app $floor
cpu_closed_a=$cpu_a; cpu_closed_b=$cpu_b; wake_closed_a=$wake_a; wake_closed_b=$wake_b

# The same with more idle processes of the user's on the machine.
extra=()
for _ in $(seq "$MIVRA_BENCH_EXTRA"); do sleep 100000 & extra+=($!); done
sleep 6 # past their first sweeps: what is measured is what they cost once known
measure $app $floor
cpu_more_a=$cpu_a; cpu_more_b=$cpu_b
kill "${extra[@]}" 2>/dev/null; wait "${extra[@]}" 2>/dev/null

# Memory once the popover has stayed closed a while, then the next opening.
left=$(( (closed_at + MIVRA_BENCH_CLOSED * 1000 - $(now_ms)) / 1000 ))
[ "$left" -gt 0 ] && sleep "$left"
rss_later_a=$(kib $app VmRSS); rss_later_b=$(kib $floor VmRSS)
click_icon mivra-floor
until shown mivra-floor >/dev/null; do sleep 0.05; done
t4=$(now_ms); click_icon mivra
until shown mivra >/dev/null; do sleep 0.005; done
t5=$(now_ms)
sleep 1
measure $app $floor
cpu_open_a=$cpu_a; cpu_open_b=$cpu_b

per_proc=$(awk -v a="$cpu_closed_a" -v b="$cpu_more_a" -v n="$MIVRA_BENCH_EXTRA" \
    'BEGIN {printf "%.1f", (b - a) / 100 * 2 / n * 1e6}') # µs of CPU per extra process per 2-second sweep

echo "start to tray icon shown:              $((t1 - t0)) ms"
echo "click to popover shown, first time:    $((t3 - t2)) ms"
echo "click to popover shown, after closed ${MIVRA_BENCH_CLOSED} s: $((t5 - t4)) ms   (target < 150 ms)"
echo
row "CPU, take running, popover closed (% core)" "$cpu_closed_a" "$cpu_closed_b"
row "the same with $MIVRA_BENCH_EXTRA more processes (% core)" "$cpu_more_a" "$cpu_more_b"
row "wake-ups per second, closed" "$wake_closed_a" "$wake_closed_b"
row "RSS, never opened (MiB)" "$(mib "$rss_never_a")" "$(mib "$rss_never_b")"
row "RSS, popover open (MiB)" "$(mib "$rss_open_a")" "$(mib "$rss_open_b")"
row "RSS, after the popover was opened once (MiB)" "$(mib "$rss_once_a")" "$(mib "$rss_once_b")"
row "RSS, closed ${MIVRA_BENCH_CLOSED} s after opening (MiB)" "$(mib "$rss_later_a")" "$(mib "$rss_later_b")"
row "heap (anonymous) after opening (MiB)" "$(mib "$anon_a")" "$(mib "$anon_b")"
row "CPU, take running, popover open (% core)" "$cpu_open_a" "$cpu_open_b"
printf '| %-46s | %10s | %10s | %6s |\n' "Figure" "Mivra" "Floor" "ratio"
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..48})" "------------" "------------" "--------"
printf '%s\n' "${rows[@]}"
echo "growth with more processes: $per_proc µs of CPU per process per 2-second sweep"
kill -TERM $app $floor
wait $app $floor
exit 0
INNER
