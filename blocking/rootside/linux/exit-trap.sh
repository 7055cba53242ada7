# shellcheck disable=SC2154 # the trap sets status itself before it reads it
trap 'status=$?; [ -z "$PRIV" ] || rm -rf "$PRIV"; [ "$status" -ne 126 ] && [ "$status" -ne 127 ] || exit 1' EXIT
