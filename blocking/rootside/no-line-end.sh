noeol=
    [ -s "$HOSTS" ] && [ "$(tail -c 1 "$HOSTS" | wc -l)" -eq 0 ] && noeol=1
