# The blocking user's established connections to $addrs, one "local peer" pair a line.
user_connections() {
    ss -Htne state established 2>/dev/null | ADDRS="$addrs" LC_ALL=C awk -v uid="uid:$1" '
        BEGIN { n = split(ENVIRON["ADDRS"], l, "\n"); for (i = 1; i <= n; i++) want[l[i]] = 1 }
        {
            mine = 0
            for (i = 5; i <= NF; i++) if ($i == uid) mine = 1
            if (!mine) next
            peer = $4; sub(/:[0-9]+$/, "", peer); gsub(/[][]/, "", peer); sub(/^::ffff:/, "", peer)
            if (peer in want) print $3, $4
        }'
}
cut_connections() {
    local owner local_ peer left
    owner=$(stat -c %u "$CONF" 2>/dev/null) || return 0
    case $owner in '' | 0 | *[!0-9]*) return 0 ;; esac
    while read -r local_ peer; do
        ss -K -tn state established src "$local_" dst "$peer" >/dev/null 2>&1
    done < <(user_connections "$owner")
    left=$(user_connections "$owner")
    if [ -n "$left" ] && [ ! -e "$STATE/cut.unsupported" ]; then
        : > "$STATE/cut.unsupported"
        echo "lockup-apply: this kernel cannot close sockets (ss -K); connections open before a block stay open until they close" >&2
    fi
}
