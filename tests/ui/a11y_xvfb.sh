#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real mivra read through the desktop's accessibility bus, as a screen reader reads it: with
# the popover open, every control has a role and a non-empty name, the icon buttons (panel
# switcher, the lists panel's add and delete) are named by their tooltips, and the same holds after
# a panel is opened and the language switched through the tree itself (the buttons' press action).
# Usage: a11y_xvfb.sh <path to mivra>. Exits 77 (skipped) when a tool is missing.
set -u
mivra=$1
for tool in Xvfb openbox trayer xdotool xwininfo xdpyinfo dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (bash tools/test-setup.sh installs it)"
        exit 77
    fi
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "SKIP: python3-pyatspi is not installed (bash tools/test-setup.sh installs it)"; exit 77; }

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
export MIVRA_XDESK=$desk MIVRA_TEST_BIN=$mivra MIVRA_TEST_WORK=$work
MIVRA_TREE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/a11y_tree.py
export MIVRA_TREE

dbus-run-session -- bash -s <<'INNER' 2>"$work/bus.log"
set -u
work=$MIVRA_TEST_WORK
failures=0
source "$MIVRA_XDESK"
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tree() { /usr/bin/python3 "$MIVRA_TREE" "$@"; }

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
launcher=$!
wait_for 50 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress ||
    { echo "FAIL: the accessibility bus did not start"; cat "$work/atspi.log"; exit 1; }

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$MIVRA_TEST_BIN" >"$work/mivra.log" 2>&1 &
mivra=$!
wait_for 100 icon || { echo "FAIL: the tray icon is not embedded"; cat "$work/mivra.log"; kill $mivra $launcher; exit 1; }
read -r ix iy iw ih < <(geometry "$(icon)")
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
wait_for 50 popover || { echo "FAIL: a click on the icon did not open the popover"; kill $mivra $launcher; exit 1; }

# <language> <the names its panel switcher must show…>
check() {
    local lang=$1; shift
    tree list >"$work/tree.txt"
    echo "$lang: $(wc -l <"$work/tree.txt") controls"
    sed 's/^/  /' "$work/tree.txt"
    awk -F'\t' '$1 == "" || $2 == ""' "$work/tree.txt" | grep -q . &&
        fail "$lang: controls without a role or a name: $(awk -F'\t' '$1 == "" || $2 == ""' "$work/tree.txt" | tr '\n' ' ')"
    local name
    for name in "$@"; do
        grep -qxF "push button	$name" "$work/tree.txt" || fail "$lang: no button named \"$name\""
    done
}
has() { tree list | grep -qF "	$1"; }

wait_for 100 has "Settings" || { echo "FAIL: the popover's controls are not on the accessibility bus"; tree list; kill $mivra $launcher; exit 1; }
check en Settings Lists Schedule Stats Français English
# The lists panel, opened through the tree: its icon buttons are named too.
tree press "Lists" || fail "the Lists button has no press action"
wait_for 100 has "New lockup" || fail "pressing Lists through the tree did not open the panel"
check "en, lists panel" "New lockup" Delete
tree press "Français" || fail "the FR chip has no press action"
wait_for 100 has "Réglages" || fail "pressing FR through the tree did not switch the language"
check "fr, lists panel" Réglages Listes Horaire Stats Français English "Nouveau périmètre" Supprimer

kill -TERM $mivra $launcher
wait $mivra
[ "$failures" = 0 ] && echo "PASS" && exit 0
cat "$work/mivra.log"
exit 1
INNER
