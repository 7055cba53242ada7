#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The root side under a real systemd: Debian 12's systemd boots as PID 1 of a container on a root
# file system made once by mmdebstrap (cached), a user installs through the application's own
# install code and the real pkexec (a polkit rule stands in for the password), and every promise
# of the root side is checked with its time measured and printed.
#   systemtest.sh MIVRA_SYSTEST MIVRA_BLOCKPAGE      (exit 77: containers cannot run here)
# The test waits for each event as long as a loaded machine may need (MIVRA_SYSTEST_WAIT, 30 s);
# whether the root side is prompt (a write in /etc/hosts within 1 s) is bench/rootside/promptness.sh's
# question, which runs this test with the wait set to the promise.
set -uo pipefail
systest=$1 daemon=$2
wait_s=${MIVRA_SYSTEST_WAIT:-30}
cache=${MIVRA_TEST_CACHE:-/var/cache/mivra-test}
# The container gets the packages of every library the test program links to, as this machine has them.
libraries() {
    ldd "$systest" | awk '$2 == "=>" && $3 ~ /^\// {print $3}' | while read -r lib; do
        dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null || dpkg -S "${lib#/usr}" 2>/dev/null
    done | cut -d: -f1 | sort -u | paste -sd,
}
packages=systemd,systemd-sysv,dbus,polkitd,pkexec,iproute2,$(libraries)
tarball=$cache/debian12-$(echo "$packages" | sha256sum | cut -c1-12).tar

skip() { echo "system test skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root"
command -v systemd-nspawn >/dev/null || skip "systemd-nspawn is not installed"
if [ ! -f "$tarball" ]; then
    command -v mmdebstrap >/dev/null || skip "mmdebstrap is not installed and no root file system is cached"
    mkdir -p "$cache"
    t0=$(date +%s)
    sources=/etc/apt/sources.list.d/debian.sources
    [ -f "$sources" ] || sources=/etc/apt/sources.list
    mmdebstrap --quiet --variant=minbase --mode=root --format=tar --include="$packages" bookworm "$tarball.part" "$sources" \
        >/dev/null 2>&1 && mv "$tarball.part" "$tarball" || { rm -f "$tarball.part"; skip "mmdebstrap failed"; }
    echo "root file system built in $(($(date +%s) - t0)) s"
fi

work=$(mktemp -d /var/tmp/mivra-system.XXXXXX)
root=$work/root
nspawn=
cleanup() {
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        kill "$nspawn"
        for _ in $(seq 50); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$root" && tar -C "$root" -xf "$tarball" || skip "cannot unpack $tarball"
install -D -m 755 "$systest" "$root/opt/mivra/mivra-systest"
install -m 755 "$daemon" "$root/opt/mivra/mivra-blockpage"
chroot "$root" useradd -m -u 1000 user >/dev/null
chroot "$root" useradd -m -u 1001 other >/dev/null
cat > "$root/etc/polkit-1/rules.d/50-mivra-test.rules" <<'EOF'
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.policykit.exec" && subject.user == "user") return polkit.Result.YES;
});
EOF
# A hosts file the size of a big public block list.
{ echo "127.0.0.1 localhost"; for i in $(seq 1 35000); do echo "0.0.0.0 ads$i.tracker.example"; done; } > "$root/etc/hosts"
cp "$root/etc/hosts" "$work/hosts.original"

t0=$(date +%s%N)
systemd-nspawn -q -D "$root" -b --register=no --keep-unit --private-network >"$work/console" 2>&1 &
nspawn=$!
pid1=
for _ in $(seq 1200); do
    pid1=$(pgrep -P "$nspawn" | head -1)
    [ -n "$pid1" ] && nsenter -t "$pid1" -a systemctl is-system-running 2>/dev/null | grep -Eq 'running|degraded' && break
    pid1=
    sleep 0.1
done
[ -n "$pid1" ] || skip "the container did not boot: $(tail -3 "$work/console" | tr '\n' ' ')"
echo "booted in $((($(date +%s%N) - t0) / 1000000)) ms"

inside() { nsenter -t "$pid1" -a "$@"; }
as_user() { inside runuser -u user -- env HOME=/home/user /opt/mivra/mivra-systest "$@"; }
failures=0
check() { # NAME COMMAND...: reports and counts
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
# Waits up to $1 s for the command to hold; prints the time taken in ms (or "never").
within() {
    local limit=$1 start now
    start=$(date +%s%N)
    shift
    while :; do
        now=$(date +%s%N)
        if "$@"; then echo $(((now - start) / 1000000)); return 0; fi
        [ $(((now - start) / 1000000)) -ge $((limit * 1000)) ] && { echo never; return 1; }
        sleep 0.02
    done
}
blocked() { inside grep -qx "$1 $2" /etc/hosts; }
original() { inside cat /etc/hosts | cmp -s - "$work/hosts.original"; }
served() { inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/80 && printf "GET / HTTP/1.0\r\nHost: a.test\r\n\r\n" >&3 && head -1 <&3' 2>/dev/null | grep -q ' 200 '; }
active() { [ "$(inside systemctl is-active "$1")" = active ]; }
inactive() { ! active "$1"; }
report() { echo "     $1: $2 ms"; [ "$2" != never ]; }

t=$(date +%s%N)
check "install through pkexec" as_user install
echo "     install: $((($(date +%s%N) - t) / 1000000)) ms"
check "the path and timer units run" active app.oriflan.mivra.lockup.path
check "another user cannot write the lockup" \
    bash -c "! nsenter -t $pid1 -a runuser -u other -- sh -c 'echo evil.test >> /var/lib/mivra/lockup.conf' 2>/dev/null"
check "the lockup is no link and the user's" inside bash -c '[ ! -L /var/lib/mivra/lockup.conf ] && [ "$(stat -c %u:%a /var/lib/mivra/lockup.conf)" = 1000:644 ]'

as_user write --page a.test b.test
check "a write reaches /etc/hosts" report "block applied" "$(within "$wait_s" blocked 127.0.0.1 b.test)"
check "the flag follows" report "flag raised" "$(within "$wait_s" inside test -e /var/lib/mivra/blockpage.on)"
check "the Closed Set page answers on 127.0.0.1:80" report "page served" "$(within $((wait_s > 5 ? wait_s : 5)) served)"
as_user write
check "an emptied lockup restores the original bytes" report "block removed" "$(within "$wait_s" original)"
check "and stops the daemon" report "daemon stopped" "$(within $((wait_s > 3 ? wait_s : 3)) inactive app.oriflan.mivra.blockpage.service)"

expiry=$(($(date +%s) + 20))
as_user write --page --expires "$expiry" soon.test
within "$wait_s" blocked 127.0.0.1 soon.test >/dev/null
check "an expiry 20 s ahead is swept without a write" report "expired block gone after" "$(within $((wait_s + 40)) original)"
echo "     (that is $(($(date +%s) - expiry)) s after the expiry; the sweep runs every 15 s)"

as_user write first.test
sleep 0.03
as_user write during.test
check "a write during a run is applied" report "second write applied" "$(within "$wait_s" blocked 0.0.0.0 during.test)"
# The watch does not see writes made while its own run goes on: whatever moment of a run a write
# lands in, it is applied.
for ms in 20 40 60 80 100; do
    as_user write "first$ms.test"
    sleep "$(printf '0.%03d' "$ms")"
    as_user write "during$ms.test"
    check "a write $ms ms after another is applied" report "applied" "$(within "$wait_s" blocked 0.0.0.0 "during$ms.test")"
done
for i in $(seq 1 50); do as_user write "burst$i.test"; done
check "the last of 50 writes in a burst is applied" report "burst applied" "$(within "$wait_s" blocked 0.0.0.0 burst50.test)"
check "the path unit still watches" active app.oriflan.mivra.lockup.path
# A connection the user opened before the block is cut by the unit's own run; another user's
# connection to the same site, and the user's connection to another site, stay.
inside ip link add mivra0 type veth peer name mivra1 && inside ip addr add 10.78.0.2/32 dev mivra0 &&
    inside ip addr add 10.78.0.3/32 dev mivra0 && inside ip link set mivra1 up && inside ip link set mivra0 up
# Every helper started here records its process id, and is ended by the test itself.
inside bash -c 'echo $$ >> /run/mivra-helpers; exec /opt/mivra/mivra-systest serve 0.0.0.0 8080' &
helpers=$!
# The person's own lines for the two names, added as any editor would: under the applier's lock, so
# that a run of the burst above still in progress cannot replace the file without them.
inside flock /var/lib/mivra/apply.lock bash -c 'printf "10.78.0.2 cut.test\n10.78.0.3 kept.test\n" >> /etc/hosts'
printf "10.78.0.2 cut.test\n10.78.0.3 kept.test\n" >> "$work/hosts.original"
listening() { inside ss -Hltn 'sport = :8080' | grep -q .; }
within "$wait_s" listening >/dev/null
hold() { inside bash -c "echo \$\$ >> /run/mivra-helpers; exec runuser -u $1 -- bash -c 'exec 3<>/dev/tcp/$2/8080 && exec sleep 600'" & helpers="$helpers $!"; }
hold user 10.78.0.2; hold user 10.78.0.3; hold other 10.78.0.2
opened() { [ "$(inside ss -Htn state established 'dport = :8080' | wc -l)" -eq "$1" ]; }
within "$wait_s" opened 3 >/dev/null
conns() { inside ss -Htne state established 'dport = :8080' | awk '{ for (i = 5; i <= NF; i++) if ($i ~ /^uid:/) print $i, $4 }' | sort | paste -sd' '; }
cut() { [ "$(conns)" = "uid:1000 10.78.0.3:8080 uid:1001 10.78.0.2:8080" ]; }
as_user write cut.test
check "the user's open connection to a newly blocked site is cut by the unit's run" report "connection cut" "$(within $((wait_s > 10 ? wait_s : 10)) cut)"
echo "     left open: $(conns)"
inside bash -c 'kill $(cat /run/mivra-helpers); pkill -P "$(cat /run/mivra-helpers | paste -sd,)" 2>/dev/null; rm -f /run/mivra-helpers'
wait $helpers 2>/dev/null
as_user write --page last.test
within "$wait_s" blocked 127.0.0.1 last.test >/dev/null

# What the runs wrote, kept for a failure below: the removal takes the log folder away.
inside bash -c 'cat /var/log/mivra/*.log' >"$work/helper.log" 2>/dev/null

t=$(date +%s%N)
check "removal while blocking" as_user remove
echo "     removal: $((($(date +%s%N) - t) / 1000000)) ms"
check "restores the original bytes" original
check "and leaves no unit, folder or temporary file" inside bash -c \
    '! ls -d /etc/systemd/system/app.oriflan.mivra.* /var/lib/mivra /var/log/mivra /usr/local/libexec/mivra /etc/.mivra* /tmp/mivra* 2>/dev/null | grep -q .'
check "no unit of Mivra failed" bash -c "[ -z \"\$(nsenter -t $pid1 -a systemctl list-units --failed --no-legend 'app.oriflan.mivra.*')\" ]"
# The result systemd gives each run of Mivra's units (signal, timeout, exit-code, …), not words in
# systemd's own messages: in a sandbox it says "Failed to kill control group …, ignoring" of runs
# that went well. A run systemd itself could not start (219/CGROUP: it follows the previous run at
# once, whose control group is still being removed) ran nothing of Mivra's; the unit must start it
# again.
inside journalctl -q --no-pager -o json -u 'app.oriflan.mivra.*' >"$work/journal.json"
results() { python3 - "$work/journal.json" <<'PY'
import json, sys
entries = [json.loads(line) for line in open(sys.argv[1])]
unstarted = {e.get("INVOCATION_ID") for e in entries if e.get("EXIT_STATUS") == "219"}
bad = 0
for i, e in enumerate(entries):
    if "UNIT_RESULT" not in e:
        continue
    unit, invocation = e.get("UNIT"), e.get("INVOCATION_ID", "")
    # Started again, or stopped on purpose (the removal) while it waited to be.
    again = any(later.get("UNIT") == unit and ("Scheduled restart job" in later.get("MESSAGE", "") or
                                                later.get("MESSAGE", "").startswith("Stopped "))
                for later in entries[i + 1:])
    if invocation in unstarted and again:
        print("     not started by systemd (219/CGROUP), then started again or stopped:", unit)
    else:
        bad += 1
        print("     result:", unit, e.get("UNIT_RESULT"), e.get("MESSAGE"), invocation)
sys.exit(bad > 0)
PY
}
check "the journal shows no killed or failed run" results
if [ "$failures" -ne 0 ]; then
    # systemd's own lines about each failed run (how its process ended), then what the runs wrote
    # to their log.
    results | awk '$1 == "result:" {print $NF}' | while read -r id; do
        inside journalctl -q --no-pager -o short-precise "INVOCATION_ID=$id" + "_SYSTEMD_INVOCATION_ID=$id"
    done
    echo "     the runs' log:"
    sed 's/^/     /' "$work/helper.log"
    inside journalctl -q --no-pager -u 'app.oriflan.mivra.*' | tail -40
fi
exit $((failures > 0))
