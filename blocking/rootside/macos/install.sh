#!/bin/bash
set -e
SYS=@SYS@
LD=@LD@
STAGE=@STAGE@
mkdir -p "$SYS"
install -m 755 "$STAGE/lockup-apply.sh" "$SYS/lockup-apply.sh"
install -m 755 "$STAGE/mivra-blockpage" "$SYS/mivra-blockpage"
# The lockup belongs to the user who installs (never a link): other local users can neither block
# nor unblock.
if [ -L "$SYS/lockup.conf" ]; then rm -f "$SYS/lockup.conf"; fi
if [ ! -f "$SYS/lockup.conf" ]; then : > "$SYS/lockup.conf"; fi
chown -h @OWNER@ "$SYS/lockup.conf"
chmod 644 "$SYS/lockup.conf"
install -m 644 "$STAGE/@lockup.plist@" "$LD/@lockup.plist@"
install -m 644 "$STAGE/@sweep.plist@" "$LD/@sweep.plist@"
install -m 644 "$STAGE/@blockpage.plist@" "$LD/@blockpage.plist@"
chown root:wheel "$LD/@lockup.plist@" "$LD/@sweep.plist@" "$LD/@blockpage.plist@"
echo @VERSION@ > "$SYS/version"
for L in @JOBS@; do
    launchctl bootout system "$LD/@LABEL@.$L.plist" 2>/dev/null || true
done
launchctl bootstrap system "$LD/@lockup.plist@"
launchctl bootstrap system "$LD/@sweep.plist@"
launchctl bootstrap system "$LD/@blockpage.plist@"
exit 0
