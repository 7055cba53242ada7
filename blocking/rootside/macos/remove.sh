#!/bin/bash
SYS=@SYS@
LD=@LD@
HOSTS=@HOSTS@
BEGIN=@BEGIN@
END=@END@
dir=${HOSTS%/*}
tmp=
trap 'rm -f "$tmp"' EXIT
@REPLACE@

for L in @JOBS@; do
    launchctl bootout system "$LD/@LABEL@.$L.plist" 2>/dev/null
    rm -f "$LD/@LABEL@.$L.plist"
done
@STRIP@
rm -rf "$SYS"
exit 0
