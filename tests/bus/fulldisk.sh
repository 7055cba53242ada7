#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real mivra with its data folder on a small tmpfs that fills up, then turns read-only: every
# file it had keeps its bytes, nothing is left beside them, Mivra goes on answering, and what
# changed meanwhile is written once there is room again (here: when it quits).
# Usage: fulldisk.sh <mivra> <mivractl> <bus config>. Exits 77 (skipped) without root or mount
# namespaces.
set -u
mivra=$1 ctl=$2 busconf=$3

if [ -z "${MIVRA_FULLDISK_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: a tmpfs of its own needs root"; exit 77; }
    unshare -m --propagation private true 2>/dev/null || { echo "SKIP: no mount namespace here"; exit 77; }
    MIVRA_FULLDISK_INSIDE=1 exec unshare -m --propagation private bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'umount "$work/share" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/share" "$work/config" "$work/run" && chmod 700 "$work/run"
mount -t tmpfs -o size=512k,mode=755 mivra-full "$work/share" || { echo "SKIP: cannot mount a tmpfs"; exit 77; }
export HOME=$work XDG_DATA_HOME=$work/share XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=offscreen MIVRA_TEST_BIN=$mivra MIVRA_TEST_CTL=$ctl MIVRA_TEST_WORK=$work
MIVRA_XDESK=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)/xdesk.sh
export MIVRA_XDESK

dbus-run-session --config-file="$busconf" -- bash -s <<'INNER'
set -u
work=$MIVRA_TEST_WORK
data=$XDG_DATA_HOME/Mivra
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# shellcheck source=../../tools/xdesk.sh
source "$MIVRA_XDESK" # wait_for
answers() { "$MIVRA_TEST_CTL" status; }
select_lockup() {
    dbus-send --session --print-reply --dest=app.oriflan.mivra /app/oriflan/mivra \
        app.oriflan.Mivra1.SelectLockup "string:$1" >/dev/null
}
active_in_file() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get("activeLockupID", ""))' "$data/settings.json"; }
holds_active() { [ "$(active_in_file)" = "$1" ]; }
snapshot() { (cd "$data" && ls -A | sort && sha256sum -- *.json); }
start() {
    "$MIVRA_TEST_BIN" >>"$work/mivra.log" 2>&1 &
    mivra=$!
    wait_for 60 answers || { echo "FAIL: Mivra does not answer"; cat "$work/mivra.log"; exit 1; }
}
quit() {
    "$MIVRA_TEST_CTL" quit </dev/null >/dev/null || fail "Mivra did not quit"
    wait "$mivra"
}

start
wait_for 60 test -s "$data/settings.json" -a -s "$data/lockups.json" || { echo "FAIL: no stores written"; exit 1; }
mapfile -t ids < <(python3 -c 'import json,sys; [print(l["id"]) for l in json.load(open(sys.argv[1]))]' "$data/lockups.json")
[ "${#ids[@]}" -ge 2 ] || { echo "FAIL: fewer than two lockups to choose from"; exit 1; }
first=${ids[0]} second=${ids[1]}
select_lockup "$first"
wait_for 60 holds_active "$first" || fail "the first lockup was not written"

# The disk fills: not one more page is free.
dd if=/dev/zero of="$XDG_DATA_HOME/filler" bs=4k 2>/dev/null
before=$(snapshot)
select_lockup "$second" || fail "Mivra did not take the change on a full disk"
answers >/dev/null || fail "Mivra stopped answering on a full disk"
[ "$(snapshot)" = "$before" ] || { fail "a full disk changed the stores"; diff <(echo "$before") <(snapshot); }
# Room again: leaving writes what fell behind.
rm "$XDG_DATA_HOME/filler"
quit
[ "$(active_in_file)" = "$second" ] || fail "the change made on a full disk was lost (settings hold $(active_in_file))"

# The folder turns read-only under a running Mivra.
start
mount -o remount,ro "$XDG_DATA_HOME"
before=$(snapshot)
select_lockup "$first" || fail "Mivra did not take the change on a read-only folder"
answers >/dev/null || fail "Mivra stopped answering on a read-only folder"
[ "$(snapshot)" = "$before" ] || fail "a read-only folder changed the stores"
mount -o remount,rw "$XDG_DATA_HOME"
quit
[ "$(active_in_file)" = "$first" ] || fail "the change made on a read-only folder was lost"
for f in settings lockups schedules history; do
    python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$data/$f.json" 2>/dev/null || fail "$f.json is not whole"
done

[ "$failures" = 0 ] && echo "PASS" || cat "$work/mivra.log"
exit $((failures > 0))
INNER
