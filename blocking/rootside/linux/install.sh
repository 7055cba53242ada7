#!/bin/bash
# Installs the Mivra root helper; run as root through pkexec. Stops at the first failing command.
set -e
umask 022
PRIV=
@TRAP@
LIBEXEC=@LIBEXEC@
STATE=@STATE@
LOGS=@LOGS@
UNITS=@UNITS@
STAGE=@STAGE@
install -d -m 755 "$LIBEXEC" "$STATE" "$LOGS"
mkdir -p "$UNITS"
PRIV=$(mktemp -d "$STATE/.install.XXXXXX")
take() {
    local src="$STAGE/$1"
    if [ -L "$src" ] || [ ! -f "$src" ]; then
        echo "install: $src is not a regular file" >&2
        return 1
    fi
    dd if="$src" of="$PRIV/$1" iflag=nofollow,nonblock bs=1M status=none
    if [ "$(sha256sum < "$PRIV/$1")" != "$2  -" ]; then
        echo "install: $src is not the file Mivra staged" >&2
        return 1
    fi
}
@TAKE@
# Nothing may rewrite the hosts file while the helper is replaced: what starts the applier stops
# first, then a run in progress ends.
systemctl stop @lockup.path@ @sweep.timer@ 2>/dev/null || true
(umask 077; : >> "$STATE/apply.lock")
exec 8>>"$STATE/apply.lock"
flock -w 90 8
systemctl stop @lockup.service@ @sweep.service@ 2>/dev/null || true
install -m 755 "$PRIV/lockup-apply.sh" "$LIBEXEC/lockup-apply.sh"
install -m 755 "$PRIV/mivra-blockpage" "$LIBEXEC/mivra-blockpage"
@CLAIM@
for U in @UNITLIST@; do
    install -m 644 "$PRIV/$U" "$UNITS/$U"
    chown root:root "$UNITS/$U"
done
echo @VERSION@ > "$STATE/version"
systemctl daemon-reload
systemctl reset-failed @UNITLIST@ 2>/dev/null || true
systemctl try-restart @blockpage.service@ 2>/dev/null || true
exec 8>&-
systemctl enable --now @ENABLED@
exit 0
