head -c "$LIMIT" "$CONF" > "$snap"
