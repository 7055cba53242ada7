trap 'status=$?; [ -z "$PRIV" ] || rm -rf "$PRIV"; [ "$status" -ne 126 ] && [ "$status" -ne 127 ] || exit 1' EXIT
