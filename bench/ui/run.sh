#!/bin/bash
# The desktop app measured from outside, on an X server with a window manager and a tray host:
#   start-up   from exec to the icon embedded in the tray, and to the popover shown on a click then
#   memory     resident set of the idle app (popover closed, then open)
#   CPU        share of one core while a take runs, with the popover closed and open
# Usage: bash bench/ui/run.sh [path to mivra]   (default: the release build)
# Needs Xvfb, openbox, trayer, xdotool and x11-utils (tools/test-setup.sh installs them).
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
mivra=${1:-$here/build/release/mivra}
seconds=${MIVRA_BENCH_SECONDS:-20}
[ -x "$mivra" ] || { echo "no $mivra: cmake --preset release && cmake --build --preset release --target mivra"; exit 1; }
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
source "$desk"
start_desktop 150 || exit 1
export MIVRA_XDESK=$desk
export MIVRA_BENCH_BIN=$mivra MIVRA_BENCH_SECONDS=$seconds

dbus-run-session -- bash -s <<'INNER' 2>/dev/null
set -u
now_ms() { date +%s%3N; }
source "$MIVRA_XDESK"
rss_mb() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' /proc/$1/status; }
cpu_ticks() { awk '{print $14 + $15}' /proc/$1/stat; }
cpu_share() { # <pid> <seconds>: percent of one core
    local a b hz; hz=$(getconf CLK_TCK)
    a=$(cpu_ticks "$1"); sleep "$2"; b=$(cpu_ticks "$1")
    awk -v d=$((b - a)) -v hz="$hz" -v s="$2" 'BEGIN {printf "%.3f", 100 * d / hz / s}'
}

t0=$(now_ms)
"$MIVRA_BENCH_BIN" >/dev/null 2>&1 &
app=$!
until id=$(icon); do sleep 0.005; done
t1=$(now_ms)
read -r ix iy iw ih < <(geometry "$id")
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
until p=$(popover); do sleep 0.005; done
t2=$(now_ms)
echo "start to tray icon shown:          $((t1 - t0)) ms   (target < 300 ms)"
echo "start to popover shown on a click: $((t2 - t0)) ms   (the click itself: $((t2 - t1)) ms)"

# Close it with a click elsewhere and let the app settle.
xdotool mousemove 200 600 click 1
sleep 3
echo "idle resident memory, closed:      $(rss_mb $app) MB   (target < 60 MB)"

# Roll a take from the popover's primary button, then close it again.
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
until p=$(popover); do sleep 0.05; done
sleep 0.5
read -r px py pw ph < <(geometry "$p")
echo "resident memory, popover open:     $(rss_mb $app) MB"
xdotool mousemove $((px + 90)) $((py + 269)) click 1
sleep 1
xdotool mousemove 200 600 click 1
sleep 2
echo "CPU, take running, popover closed: $(cpu_share $app "$MIVRA_BENCH_SECONDS") % of a core   (target < 0.1 %)"
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
until popover >/dev/null; do sleep 0.05; done
sleep 1
echo "CPU, take running, popover open:   $(cpu_share $app "$MIVRA_BENCH_SECONDS") % of a core   (target < 2 %)"
echo "resident memory after all that:    $(rss_mb $app) MB"
kill -TERM $app
wait $app
INNER
