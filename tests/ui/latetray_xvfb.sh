#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Trays that come after Mivra: started with no tray, Mivra shows its window; an XEmbed tray (trayer)
# or a status-notifier host (the standalone SNI tray with its own watcher) that starts afterwards
# gets the icon, drawn from the build tree with no icon installed, and the window goes; when the
# tray goes, the window comes back.
# Usage: latetray_xvfb.sh <path to mivra>. Exits 77 (skipped) when a tool is missing.
set -u
mivra=$1
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo xwd python3 dbus-run-session gtk-sni-tray-standalone; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (bash tools/test-setup.sh installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

desk=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)/xdesk.sh
# shellcheck source=../../tools/xdesk.sh
source "$desk"
XDESK_TRAY=none start_desktop || { echo "FAIL: no desktop"; exit 1; }
export MIVRA_XDESK=$desk MIVRA_TEST_BIN=$mivra MIVRA_TEST_WORK=$work

dbus-run-session -- bash -s <<'INNER' 2>"$work/bus.log"
set -u
work=$MIVRA_TEST_WORK
failures=0
pids=()
source "$MIVRA_XDESK"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
window_gone() { ! popover; }
sni_tray() { # the host's bar: its widest window
    local id w best=""
    for id in $(xdotool search --onlyvisible --classname gtk-sni-tray-standalone 2>/dev/null); do
        read -r _ _ w _ < <(geometry "$id")
        [ "$w" -gt 100 ] && best=$id
    done
    [ -n "$best" ] && echo "$best"
}
# How many of the tray's pixels are lit on its black background: 0 when nothing is drawn.
drawn() {
    xwd -silent -id "$1" | python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
h = struct.unpack(">25I", data[:100])
size, order, bpp, stride, ncolors, width, height = h[0], h[7], h[11], h[12], h[19], h[20], h[21]
pixels = data[size + 12 * ncolors:]
fmt = ("<" if order == 0 else ">") + "I"
lit = 0
for y in range(height):
    for x in range(width):
        v = struct.unpack_from(fmt, pixels, y * stride + x * bpp // 8)[0] & 0xffffff
        lit += max(v >> 16, (v >> 8) & 255, v & 255) > 64
print(lit)'
}
icon_drawn() { local w; w=$(sni_tray) && [ "$(drawn "$w")" -gt 40 ]; }

"$MIVRA_TEST_BIN" >"$work/mivra.log" 2>&1 &
mivra=$!
wait_for 100 popover || fail "with no tray, Mivra shows no window"

# An XEmbed tray after the start gets the icon; the window goes, and comes back with the tray gone.
start_trayer || fail "trayer did not start"
wait_for 100 icon || fail "the icon did not go to the tray that came later"
wait_for 50 window_gone || fail "the window stayed with the tray there"
kill "$trayer_pid"
wait_for 100 popover || fail "the window did not come back when the tray went"

# A status-notifier host after the start: registered, its icon drawn, and the window gone.
start_host "$work/sni.log" window_gone \
    gtk-sni-tray-standalone --top --end --watcher --size 32 --color '#000000'
sni=$host_pid
wait_for 100 window_gone || fail "the window stayed with the status-notifier host there"
wait_for 100 icon_drawn || fail "the status-notifier host drew no icon: $(w=$(sni_tray); [ -n "$w" ] && drawn "$w")"
echo "status-notifier host: $(drawn "$(sni_tray)") pixels of the icon lit"
kill $sni
wait_for 100 popover || fail "the window did not come back when the host went"

kill -TERM $mivra
wait $mivra
[ "$failures" = 0 ] && echo "PASS" && exit 0
cat "$work/mivra.log" "$work/sni.log"
exit 1
INNER
