#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real mivra on an X server with a window manager and a tray host: the icon is embedded, a
# click opens the popover next to it and fully on the screen, a click in another window closes it,
# and a second start leaves at once and shows the first one's popover.
# Usage: tray_xvfb.sh <path to mivra>. Exits 77 (skipped) when Xvfb, openbox or trayer is missing.
set -u
mivra=$1
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo xmessage dbus-run-session; do
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
start_desktop || { echo "FAIL: no desktop"; exit 1; }
export MIVRA_XDESK=$desk
export MIVRA_TEST_BIN=$mivra MIVRA_TEST_WORK=$work

# The rest runs on a private session bus, so the one-per-user name is ours alone.
exec 3>&1
dbus-run-session -- bash -s <<'INNER' 2>"$work/bus.log"
set -u
work=$MIVRA_TEST_WORK
failures=0
source "$MIVRA_XDESK"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
no_popover() { ! popover; }

"$MIVRA_TEST_BIN" >"$work/mivra.log" 2>&1 &
first=$!
if ! wait_for 100 icon; then
    fail "the tray icon is not embedded in trayer"
    cat "$work/mivra.log"
    kill $first; exit 1
fi
id=$(icon)
read -r ix iy iw ih < <(geometry "$id")
echo "icon $id at $ix,$iy ${iw}x$ih"

xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
if wait_for 50 popover; then
    read -r px py pw ph < <(geometry "$(popover)")
    echo "popover at $px,$py ${pw}x$ph"
    [ "$px" -ge 0 ] && [ "$py" -ge 0 ] && [ $((px + pw)) -le 1280 ] && [ $((py + ph)) -le 800 ] ||
        fail "the popover is not fully on the screen"
    # Next to the icon: just below it, and across from it horizontally.
    [ "$py" -ge $((iy + ih)) ] && [ "$py" -le $((iy + ih + 12)) ] || fail "the popover is not just below the icon"
    [ "$px" -le $((ix + iw)) ] && [ $((px + pw)) -ge "$ix" ] || fail "the popover is not across from the icon"
else
    fail "a click on the icon did not open the popover"
fi

# A click in another application's window closes it.
xmessage -geometry 300x100+100+400 "another window" &
other=$!
wait_for 50 sh -c 'xdotool search --onlyvisible --name "^xmessage$"'
xdotool mousemove 250 450 click 1
wait_for 30 no_popover || fail "a click in another window did not close the popover"
kill $other 2>/dev/null

# A second start ends with 0 and brings up the first one's popover.
"$MIVRA_TEST_BIN" >"$work/second.log" 2>&1
status=$?
[ "$status" = 0 ] || fail "the second start ended with $status"
kill -0 $first 2>/dev/null || fail "the first Mivra is gone after the second start"
wait_for 50 popover || fail "the second start did not show the first one's popover"

kill -TERM $first
wait $first
echo "first Mivra ended with $?"
[ "$failures" = 0 ] && echo "PASS" && exit 0
cat "$work/mivra.log"
exit 1
INNER
