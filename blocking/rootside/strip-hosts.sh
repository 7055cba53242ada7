if [ -f "$HOSTS" ] && tmp=$(mktemp "$dir/.mivra-hosts.XXXXXX"); then
    @NOEOL@
    if BEGIN="$BEGIN" END="$END" NOEOL="$noeol" LC_ALL=C awk '
@OUT@
        $0 == ENVIRON["BEGIN"] { skip = 1; next }
        $0 == ENVIRON["END"] { skip = 0; next }
        skip { next }
@HELD@
        { out($0) }
        END { done() }' "$HOSTS" > "$tmp" && replace_hosts "$tmp"; then
@FLUSH@
    fi
    rm -f "$tmp"
fi
