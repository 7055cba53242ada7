#!/bin/bash
@HEAD@
CONF=@CONF@
HOSTS=@HOSTS@
BEGIN=@BEGIN@
END=@END@
FLAG=@FLAG@
LOCK=@LOCKFILE@

# The lockup file is written by the user and read here as root: it must be a regular file (never a
# link) and only its first 4 MiB are read (the log says so when a longer one is applied); only 127.0.0.1 and 0.0.0.0 are taken as the redirect
# (anything else counts as 0.0.0.0), and host lines holding control characters or longer than a
# host name can be are dropped.
LIMIT=4194304

[ -f "$HOSTS" ] || exit 0
[ -d "${LOCK%/*}" ] || exit 0
# The lock is root's alone: anyone who could open it could hold it and stall every run.
umask 077
exec 9>>"$LOCK" || exit 0
umask 022
@FLOCK@
dir=${HOSTS%/*}
snap=$LOCK.read
tmp=
saved=
over=
fresh=$LOCK.fresh
trap 'rm -f "$tmp" "$saved" "$snap" "$fresh"' EXIT
trap 'exit 1' TERM INT HUP
for f in "$dir"/.mivra-hosts.*; do [ -e "$f" ] && rm -f "$f"; done
@REPLACE@
@FINISH@

# The lockup as it is now, into the file $snap and, for the check after the run, $seen.
take_lockup() {
    : > "$snap"
    over=
    if [ -L "$CONF" ]; then
        [ -n "$1" ] || echo "lockup-apply: $CONF is a link; not followed" >&2
    elif [ -f "$CONF" ]; then
        @READ@
        # Its size, told without opening it (Linux, then macOS).
        [ "$(stat -c %s "$CONF" 2>/dev/null || stat -f %z "$CONF" 2>/dev/null || echo 0)" -gt "$LIMIT" ] && over=1
    fi
    seen=
    IFS= read -r -d '' -N "$LIMIT" seen < "$snap"
}
# Whether the lockup still reads as $seen.
lockup_unchanged() {
    local latest=
    if [ -f "$CONF" ] && [ ! -L "$CONF" ]; then IFS= read -r -d '' -N "$LIMIT" latest < "$CONF"; fi
    [ "$latest" == "$seen" ]
}

take_lockup
round=0
while :; do
    @NOW@
    tmp=$(mktemp "$dir/.mivra-hosts.XXXXXX") || exit 0

    # Exit status 0: no block in force; 3: a block sent to 127.0.0.1; 4: a block sent to 0.0.0.0.
    # Anything else (an unreadable hosts file, a full disk) leaves everything as it is.
    rm -f "$fresh"
    @NOEOL@
    CONF="$snap" BEGIN="$BEGIN" END="$END" NOW="$now" FRESH="$fresh" NOEOL="$noeol" LC_ALL=C awk '
@OUT@
    BEGIN {
        conf = ENVIRON["CONF"]; b = ENVIRON["BEGIN"]; e = ENVIRON["END"]
        redirect = "0.0.0.0"; expires = ""; n = 0
        while ((getline line < conf) > 0) {
            if (substr(line, 1, 10) == "#redirect ") redirect = substr(line, 11)
            else if (substr(line, 1, 9) == "#expires ") expires = substr(line, 10)
            else if (line == "" || substr(line, 1, 1) == "#") continue
            else if (line !~ /[\000-\037\177]/ && length(line) <= 255) { host[++n] = line; blocked[tolower(line)] = 1 }
        }
        close(conf)
        if (redirect != "127.0.0.1") redirect = "0.0.0.0"
        if (expires == "" || expires ~ /[^0-9]/) expires = 0
        active = n > 0
        if (expires + 0 > 0 && ENVIRON["NOW"] + 0 >= expires + 0) active = 0
    }
    $0 == b { skip = 1; next }
    $0 == e { skip = 0; next }
    skip { if (NF >= 2) old[tolower($2)] = 1; next }
@HELD@
    { out($0) }
    END {
        if (active) {
            out(b)
            for (i = 1; i <= n; i++) out(redirect " " host[i])
            out(e)
            # The names this block adds to the one in force: their open connections are cut.
            for (i = 1; i <= n; i++) if (!(tolower(host[i]) in old)) print host[i] > ENVIRON["FRESH"]
        }
        done()
        if (!active) exit 0
        exit (redirect == "127.0.0.1" ? 3 : 4)
    }' "$HOSTS" > "$tmp"
    status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 3 ] && [ "$status" -ne 4 ]; then
        echo "lockup-apply: could not prepare the new hosts file; nothing changed" >&2
        exit 0
    fi
    cmp -s "$tmp" "$HOSTS"
    if [ $? -eq 1 ]; then
@RESOLVE@
        if replace_hosts "$tmp"; then
@FLUSH@
            # Said whenever the cut list is written, so it is never dropped without a word.
            [ -z "$over" ] || echo "lockup-apply: $CONF is longer than $LIMIT bytes; only the host names in its first $LIMIT bytes are applied" >&2
@CUT@
        fi
    fi
    rm -f "$tmp"
    tmp=

    if [ "$status" -eq 3 ]; then
        : > "$FLAG"
    elif [ -e "$FLAG" ] || [ -L "$FLAG" ]; then
        rm -f "$FLAG"
        @STOPDAEMON@
    fi

    lockup_unchanged && break
    round=$((round + 1))
    if [ "$round" -ge 100 ]; then
        echo "lockup-apply: the lockup keeps changing; the next run takes it up" >&2
        break
    fi
    take_lockup quiet
done
exit 0
