#!/bin/bash
# The real mivra on an X server with a window manager and a tray host: the icon is embedded, a
# click opens the popover next to it and fully on the screen, a click in another window closes it,
# and a second start leaves at once and shows the first one's popover.
# Usage: tray_xvfb.sh <path to mivra>. Exits 77 (skipped) when Xvfb, openbox or trayer is missing.
set -u
mivra=$1
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo xmessage dbus-run-session; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (bash tools/setup.sh installs it)"
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

# A free display number.
for n in $(seq 90 140); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
export DISPLAY=:$n
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for() { # <tries of 0.1 s> <command…>
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
wait_for 50 xdpyinfo || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 50 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 50 sh -c 'xwininfo -root -tree | grep -q "\"panel\": (\"panel\" \"trayer\")"' ||
    { echo "FAIL: trayer did not start"; exit 1; }

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM QT_QUICK_BACKEND WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export MIVRA_TEST_BIN=$mivra MIVRA_TEST_WORK=$work

# The rest runs on a private session bus, so the one-per-user name is ours alone.
exec 3>&1
dbus-run-session -- bash -s <<'INNER' 2>"$work/bus.log"
set -u
work=$MIVRA_TEST_WORK
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_for() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
# Geometry "x y w h" of a window, in root coordinates.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                             /^ *Width/ {w=$NF} /^ *Height/ {h=$NF} END {print x, y, w, h}'
}
# The tray icon: mivra's window inside trayer's panel.
icon() {
    local id
    id=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {inpanel=1; next}
                                     inpanel && /\("mivra" "mivra"\)/ {print $1; exit}')
    [ -n "$id" ] && echo "$id"
}
# The popover: mivra's visible window 340 wide.
popover() {
    for id in $(xdotool search --onlyvisible --class mivra 2>/dev/null); do
        read -r _ _ w _ < <(geometry "$id")
        [ "$w" = 340 ] && { echo "$id"; return 0; }
    done
    return 1
}
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
