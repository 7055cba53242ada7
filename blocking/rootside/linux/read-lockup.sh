dd if="$CONF" of="$snap" iflag=nofollow,nonblock,count_bytes count="$LIMIT" bs=1M status=none 2>/dev/null || : > "$snap"
