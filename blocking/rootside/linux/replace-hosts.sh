replace_hosts() {
    chown --reference="$HOSTS" "$1" 2>/dev/null
    chmod --reference="$HOSTS" "$1" 2>/dev/null
    chcon --reference="$HOSTS" "$1" 2>/dev/null
    sync "$1" || return 1
    if [ ! -L "$HOSTS" ] && mv -f "$1" "$HOSTS" 2>/dev/null; then
        sync "$dir" 2>/dev/null
        return 0
    fi
    rewrite_hosts "$1"
}
put_hosts() {
    local size status=0
    size=$(stat -c %s "$1") || return 1
    # A stop between the padded write and the truncation would leave the padding for good: while
    # the two run, a stop is ignored and the run goes on to its end. What cannot be ignored (a kill,
    # a power loss) is mended by the next run: the size to cut to is on disk before the write.
    trap '' TERM INT HUP
    { echo "$2" > "$dir/.mivra-hosts-size" && sync "$dir/.mivra-hosts-size"; } 2>/dev/null
    if [ "$size" -ne 0 ]; then
        dd if="$1" of="$HOSTS" bs="$size" count=1 iflag=fullblock conv=notrunc status=none || status=1
    fi
    [ "$status" -ne 0 ] || { truncate -s "$2" "$HOSTS" && sync "$HOSTS"; } || status=1
    rm -f "$dir/.mivra-hosts-size"
    trap 'exit 1' TERM INT HUP
    return "$status"
}
# Cuts off the padding a run stopped for good between its write and its truncation left behind:
# only line ends past the size that run meant, so a file changed since is left as it is.
finish_hosts() {
    local mark=$dir/.mivra-hosts-size size
    [ -f "$mark" ] || return 0
    size=$(head -c 32 "$mark")
    if [[ "$size" =~ ^[0-9]+$ ]] && [ "$(stat -L -c %s "$HOSTS")" -gt "$size" ] &&
        [ -z "$(tail -c +$((size + 1)) "$HOSTS" | tr -d '\n')" ]; then
        truncate -s "$size" "$HOSTS" && sync "$HOSTS"
    fi
    rm -f "$mark"
}
rewrite_hosts() {
    local new old
    new=$(stat -c %s "$1") && old=$(stat -L -c %s "$HOSTS") || return 1
    saved=$(mktemp "$dir/.mivra-hosts.XXXXXX") || return 1
    cat "$HOSTS" > "$saved" && sync "$saved" || return 1
    if [ "$new" -lt "$old" ]; then
        head -c $((old - new)) /dev/zero | tr '\0' '\n' >> "$1" || return 1
    fi
    if put_hosts "$1" "$new"; then
        rm -f "$saved"
        saved=
        return 0
    fi
    if put_hosts "$saved" "$old"; then
        echo "@WHO@: could not rewrite $HOSTS; its previous content is back" >&2
        rm -f "$saved"
        saved=
    else
        mv -f "$saved" "$HOSTS.mivra-saved"
        saved=
        echo "@WHO@: could not rewrite $HOSTS; its previous content is in $HOSTS.mivra-saved" >&2
    fi
    return 1
}
