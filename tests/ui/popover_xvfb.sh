#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real mivra on a laptop-sized X screen with a window manager and a tray at the top: with the
# calendar card and the allowance row shown, the popover stays inside the screen and off the icon
# with each side panel open, in both languages, and its top edge (the one by the icon) never moves.
# Usage: popover_xvfb.sh <path to mivra> <WxH>. Exits 77 (skipped) when an X tool is missing.
set -u
mivra=$1
size=$2
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo dbus-run-session; do
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
start_desktop "$size" || { echo "FAIL: no desktop"; exit 1; }
mkdir -p "$XDG_DATA_HOME/Mivra"
# Every optional row of the main view: the calendar card and the allowance row.
echo '{"allowanceEnabled": true, "allowanceMin": 15, "calendarEnabled": true}' >"$XDG_DATA_HOME/Mivra/settings.json"
export MIVRA_XDESK=$desk MIVRA_TEST_BIN=$mivra MIVRA_TEST_WORK=$work
export SW=${size%x*} SH=${size#*x}

exec 3>&1
dbus-run-session -- bash -s <<'INNER' 2>"$work/bus.log"
set -u
work=$MIVRA_TEST_WORK
failures=0
source "$MIVRA_XDESK"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$MIVRA_TEST_BIN" >"$work/mivra.log" 2>&1 &
mivra=$!
wait_for 100 icon || { echo "FAIL: the tray icon is not embedded"; cat "$work/mivra.log"; kill $mivra; exit 1; }
read -r ix iy iw ih < <(geometry "$(icon)")
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_for 50 popover || { echo "FAIL: a click on the icon did not open the popover"; kill $mivra; exit 1; }
read -r px0 py0 pw0 ph0 < <(geometry "$(popover)")
echo "screen ${SW}x$SH, icon at $ix,$iy ${iw}x$ih, popover at $px0,$py0 ${pw0}x$ph0"
# The panel switcher's row keeps its place under a fixed top while a panel opens and closes.
switcher_y=$((py0 + ph0 - 22))

shape() { read -r px py pw ph < <(geometry "$(popover)"); echo "$px $py $pw $ph"; }
is_french() {
    dbus-send --session --print-reply --dest=app.oriflan.mivra /app/oriflan/mivra \
        org.freedesktop.DBus.Properties.Get string:app.oriflan.Mivra1 string:Language | grep -q '"fr"'
}
height_is_not() { [ "$(shape | cut -d' ' -f4)" != "$1" ]; }
check() { # <what>
    read -r px py pw ph < <(shape)
    echo "$1: $px,$py ${pw}x$ph"
    [ "$px" -ge 0 ] && [ "$py" -ge 0 ] && [ $((px + pw)) -le "$SW" ] && [ $((py + ph)) -le "$SH" ] ||
        fail "$1: the popover is not wholly on the screen"
    [ $((py)) -ge $((iy + ih)) ] || fail "$1: the popover covers the icon or its panel"
    [ "$py" = "$py0" ] || fail "$1: the top moved from $py0 to $py"
}
check "no panel"
for lang in en fr; do
    if [ "$lang" = fr ]; then
        xdotool mousemove $((px0 + 288)) $((py0 + 28)) click 1 # the FR chip
        wait_for 50 is_french || fail "a click on FR did not switch the language"
        # French rows may be taller: the switcher moves down with them.
        read -r _ py _ ph < <(shape)
        switcher_y=$((py + ph - 22))
        check "fr, no panel"
    fi
    for i in 0 1 2 3; do
        read -r _ _ _ before < <(shape)
        xdotool mousemove $((px0 + 30 + i * 42)) $switcher_y click 1
        wait_for 50 height_is_not "$before" || fail "$lang: panel button $i changed nothing"
        check "$lang, panel $i open"
        read -r _ _ _ before < <(shape)
        xdotool mousemove $((px0 + 30 + i * 42)) $switcher_y click 1
        wait_for 50 height_is_not "$before" || fail "$lang: panel button $i did not close its panel"
        check "$lang, panel $i closed"
    done
done

kill -TERM $mivra
wait $mivra
[ "$failures" = 0 ] && echo "PASS" && exit 0
cat "$work/mivra.log"
exit 1
INNER
