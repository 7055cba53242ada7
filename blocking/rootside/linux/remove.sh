#!/bin/bash
# Removes the Mivra root helper; run as root through pkexec. Carries on past failures.
LIBEXEC=@LIBEXEC@
STATE=@STATE@
LOGS=@LOGS@
UNITS=@UNITS@
HOSTS=@HOSTS@
BEGIN=@BEGIN@
END=@END@
dir=${HOSTS%/*}
tmp=
saved=
trap 'rm -f "$tmp" "$saved"' EXIT
@REPLACE@

# Nothing may start the applier any more, a run in progress ends, and then the hosts file is put
# right under the applier's own lock. The path and timer units stop before anything reloads systemd:
# a reload fires a timer that starts at once one more time, and the removal would kill that run.
systemctl stop @TRIGGERS@ 2>/dev/null
systemctl disable --now @ENABLED@ 2>/dev/null
[ -d "$STATE" ] && exec 9>>"$STATE/apply.lock" && flock -w 90 9
systemctl stop @SERVICES@ 2>/dev/null
finish_hosts
@STRIP@
for U in @UNITLIST@; do rm -f "$UNITS/$U"; done
systemctl daemon-reload 2>/dev/null
systemctl reset-failed @UNITLIST@ 2>/dev/null
rm -rf "$STATE" "$LIBEXEC" "$LOGS"
exit 0
