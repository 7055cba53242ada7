        addrs=
        if [ ! -s "$fresh" ]; then
            :
        elif command -v ss >/dev/null && command -v getent >/dev/null; then
            addrs=$(timeout 1 xargs -r -P 16 -n 8 getent ahosts < "$fresh" 2>/dev/null |
                LC_ALL=C awk '$2 == "STREAM" { a = $1; sub(/^::ffff:/, "", a)
                    if (a !~ /^(127\.|0\.0\.0\.0$|::1?$)/) print a }' | sort -u)
        elif [ ! -e "$STATE/cut.unsupported" ]; then
            : > "$STATE/cut.unsupported"
            echo "lockup-apply: ss (iproute2) is not installed; connections open before a block stay open until they close" >&2
        fi
