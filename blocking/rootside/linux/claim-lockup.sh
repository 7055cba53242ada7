L="$STATE/lockup.conf"
if [ -L "$L" ] || { [ -e "$L" ] && [ ! -f "$L" ]; }; then rm -rf "$L"; fi
[ -f "$L" ] || : > "$L"
owner=${PKEXEC_UID:-0}
case $owner in '' | *[!0-9]*) owner=0 ;; esac
chown -h "$owner" "$L"
chmod 644 "$L"
