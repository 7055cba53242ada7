#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package under a real systemd: the .deb that tools/package.sh built is installed with
# apt into the system test's Debian 12 container, booted with its own systemd; a user claims the
# lockup file through the package's polkit action (a rule stands in for the password), blocks
# through the application's own Blocker, and `apt purge` must leave /etc/hosts byte for byte.
#   packagetest.sh MIVRA_DEB MIVRA_SYSTEST      (exit 77: the container cannot be made here)
set -uo pipefail
deb=$(readlink -f "$1") systest=$2
cache=${MIVRA_TEST_CACHE:-/var/cache/mivra-test}
# The same root file system as the system test's (made from the test program's libraries).
libraries() {
    ldd "$systest" | awk '$2 == "=>" && $3 ~ /^\// {print $3}' | while read -r lib; do
        dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null || dpkg -S "${lib#/usr}" 2>/dev/null
    done | cut -d: -f1 | sort -u | paste -sd,
}
packages=systemd,systemd-sysv,dbus,polkitd,pkexec,$(libraries)
tarball=$cache/debian12-$(echo "$packages" | sha256sum | cut -c1-12).tar

skip() { echo "package test skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root"
[ -f "$deb" ] || skip "no package at $1 (bash tools/package.sh builds it)"
command -v systemd-nspawn >/dev/null || skip "systemd-nspawn is not installed"
if [ ! -f "$tarball" ]; then
    command -v mmdebstrap >/dev/null || skip "mmdebstrap is not installed and no root file system is cached"
    mkdir -p "$cache"
    sources=/etc/apt/sources.list.d/debian.sources
    [ -f "$sources" ] || sources=/etc/apt/sources.list
    mmdebstrap --quiet --variant=minbase --mode=root --format=tar --include="$packages" bookworm "$tarball.part" "$sources" \
        >/dev/null 2>&1 && mv "$tarball.part" "$tarball" || { rm -f "$tarball.part"; skip "mmdebstrap failed"; }
fi

work=$(mktemp -d /var/tmp/mivra-package.XXXXXX)
root=$work/root
nspawn=
cleanup() {
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        kill "$nspawn"
        for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$root" && tar -C "$root" -xf "$tarball" || skip "cannot unpack $tarball"
install -D -m 644 "$deb" "$root/opt/mivra/$(basename "$deb")"
install -D -m 755 "$systest" "$root/opt/mivra/mivra-systest"
# The package's dependencies are fetched before the boot (the booted container has no network).
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null
systemd-nspawn -q -D "$root" -M "mivra-pkg-$$" --register=no --keep-unit --pipe bash -c \
    "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --download-only /opt/mivra/$(basename "$deb")" \
    >"$work/fetch.log" 2>&1 || skip "the package's dependencies cannot be fetched: $(tail -1 "$work/fetch.log")"
chroot "$root" useradd -m -u 1000 user >/dev/null
cat > "$root/etc/polkit-1/rules.d/50-mivra-test.rules" <<'RULES'
polkit.addRule(function(action, subject) {
    if (action.id == "app.oriflan.mivra.claim-lockup" && subject.user == "user") return polkit.Result.YES;
});
RULES
# The person's own hosts file, with a comment and a blank line of their own.
printf '127.0.0.1 localhost\n::1 localhost ip6-localhost\n\n# mine\n10.0.0.7\tnas.home\n' > "$root/etc/hosts"
cp "$root/etc/hosts" "$work/hosts.original"

systemd-nspawn -q -D "$root" -M "mivra-pkg-$$" -b --register=no --keep-unit --private-network >"$work/console" 2>&1 &
nspawn=$!
pid1=
for _ in $(seq 1200); do
    pid1=$(pgrep -P "$nspawn" | head -1)
    [ -n "$pid1" ] && nsenter -t "$pid1" -a systemctl is-system-running 2>/dev/null | grep -Eq 'running|degraded' && break
    pid1=
    sleep 0.1
done
[ -n "$pid1" ] || skip "the container did not boot: $(tail -3 "$work/console" | tr '\n' ' ')"

inside() { nsenter -t "$pid1" -a "$@"; }
as_user() { inside runuser -u user -- env HOME=/home/user "$@"; }
failures=0
check() { # NAME COMMAND...: reports and counts
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
within() { # SECONDS COMMAND...: waits for the command to hold; prints the time taken in ms
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
report() { echo "     $1: $2 ms"; [ "$2" != never ]; }
blocked() { inside grep -qx "$1 $2" /etc/hosts; }
original() { inside cat /etc/hosts | cmp -s - "$work/hosts.original"; }
served() { inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/80 && printf "GET / HTTP/1.0\r\nHost: a.test\r\n\r\n" >&3 && head -1 <&3' 2>/dev/null | grep -q ' 200 '; }
active() { [ "$(inside systemctl is-active "$1")" = active ]; }
enabled() { [ "$(inside systemctl is-enabled "$1")" = enabled ]; }
version_answers() { as_user mivra --version | grep -q '^mivra [0-9]'; }
running() { enabled "$1" && active "$1"; }
stopped() { ! active app.oriflan.mivra.lockup.path && ! active app.oriflan.mivra.blockpage.service; }
no_failed_unit() { [ -z "$(inside systemctl --failed --no-legend)" ]; }
clean() { [ -z "$(leftovers)" ]; }
ctl_status() { as_user mivractl helper status | grep -qx 'helper: installed by the mivra package, units enabled'; }
ctl_remove_refused() { ! as_user mivractl helper remove 2>/dev/null && inside test -x /usr/libexec/mivra/lockup-apply.sh; }
no_second_helper() { ! inside ls -d /usr/local/libexec/mivra /etc/systemd/system/app.oriflan.mivra.lockup.path 2>/dev/null | grep -q .; }
leftovers() {
    inside bash -c 'ls -d /var/lib/mivra /var/log/mivra /usr/libexec/mivra /usr/lib/systemd/system/app.oriflan.mivra.* \
        /etc/systemd/system/*/app.oriflan.mivra.* /usr/share/polkit-1/actions/app.oriflan.mivra.* /etc/.mivra* 2>/dev/null'
}

apt_get() { inside env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o Dpkg::Use-Pty=0 "$@" >>"$work/apt.log" 2>&1; }
check "apt installs the package" apt_get install "/opt/mivra/$(basename "$deb")"
for unit in app.oriflan.mivra.lockup.path app.oriflan.mivra.sweep.timer app.oriflan.mivra.blockpage.path; do
    check "$unit is enabled and running" running "$unit"
done
check "mivra --version answers without a display" version_answers
check "mivractl sees the package's helper" ctl_status
check "the user claims the lockup through the package's action" as_user /opt/mivra/mivra-systest install
check "the lockup is the user's" inside bash -c '[ ! -L /var/lib/mivra/lockup.conf ] && [ "$(stat -c %u:%a /var/lib/mivra/lockup.conf)" = 1000:644 ]'
check "no second helper was installed" no_second_helper
as_user /opt/mivra/mivra-systest write --page a.test b.test
check "a lockup written by the Blocker reaches /etc/hosts" report "block applied" "$(within 30 blocked 127.0.0.1 b.test)"
check "the Closed Set page answers on 127.0.0.1:80" report "page served" "$(within 30 served)"
check "mivractl helper remove leaves the package's helper alone" ctl_remove_refused

check "apt remove" apt_get remove mivra
check "stops the units" stopped
check "and gives /etc/hosts back byte for byte" original
check "apt purge" apt_get purge mivra
check "leaves /etc/hosts byte for byte" original
check "and no unit, folder or rule of Mivra's" clean
check "no unit failed" no_failed_unit
if [ "$failures" -gt 0 ]; then
    tail -20 "$work/apt.log"
    leftovers
    inside journalctl -q --no-pager -u 'app.oriflan.mivra.*' | tail -20
fi
exit $((failures > 0))
