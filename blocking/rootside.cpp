// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/rootside.h"

#include "blocking/blocker.h"

#include <initializer_list>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

const QString RootSide::beginMarker = u"# >>> MIVRA LOCKUP >>>"_s;
const QString RootSide::endMarker = u"# <<< MIVRA LOCKUP <<<"_s;

namespace {

using Fills = std::initializer_list<std::pair<QString, QString>>;

// Replaces each @NAME@ of a template with its text.
QString fill(QString text, Fills fills) {
    for (const auto& [key, value] : fills)
        text.replace(key, value);
    return text;
}

const QString jobs[] = {u"lockup"_s, u"sweep"_s, u"blockpage"_s};

// ---- Applier ------------------------------------------------------------------------------------

// One awk pass does the work, so a hosts file of a hundred thousand lines costs little more than
// copying it once: it reads the lockup file, copies the hosts file without any marked block, and
// appends the block when it is in force. Its exit status tells the script what it found.
//
// Runs are serialised on a lock file of root's, and each run takes the lockup as it was when it
// started; a lockup written meanwhile is applied by another round before the run ends, because
// the watch does not see writes made while its own run is going. Every file a run makes lies
// beside the hosts file, is removed when the run ends or is stopped, and a killed run's leftovers
// are swept by the next one.
const QString applierBody = uR"sh(
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
@LOCK@
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
)sh"_s;

// A tab already open on a site keeps it over its kept-alive connection, whatever the hosts file
// says, until that connection closes. So the run that writes a block cuts the blocking user's (the
// lockup file's owner's) established TCP connections to the addresses the newly blocked names had:
// resolved as the system resolves them (the hosts file as it was, then DNS), in parallel and for
// about a second at most before the new hosts file goes in, and cut by the kernel (socket destroy,
// as `ss -K` does) once it is in, so that the browser's next connection asks again. Loopback and
// unspecified addresses are never cut. Where the kernel or ss cannot do it, the log says so once.
const QString resolveFresh = uR"sh(        addrs=
        if [ ! -s "$fresh" ]; then
            :
        elif command -v ss >/dev/null && command -v getent >/dev/null; then
            addrs=$(timeout 1 xargs -r -P 16 -n 8 getent ahosts < "$fresh" 2>/dev/null |
                LC_ALL=C awk '$2 == "STREAM" { a = $1; sub(/^::ffff:/, "", a)
                    if (a !~ /^(127\.|0\.0\.0\.0$|::1?$)/) print a }' | sort -u)
        elif [ ! -e "$STATE/cut.unsupported" ]; then
            : > "$STATE/cut.unsupported"
            echo "lockup-apply: ss (iproute2) is not installed; connections open before a block stay open until they close" >&2
        fi)sh"_s;

const QString cutOpen = uR"sh(            [ -z "$addrs" ] || cut_connections)sh"_s;

const QString cutFunctions = uR"sh(
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
)sh"_s;

// The user's own lines for a blocked name would win over the block in every resolver that takes the
// first entry, so while a block is in force they are held: kept whole behind a "#mivra-held " mark,
// with a line beside it (marked at its end) for the names on it that are not blocked. Every run, and
// the removal, first puts held lines back as they were and drops the lines made beside them.
const QString heldLines = uR"awk(    / #mivra-part$/ { next }
    substr($0, 1, 12) == "#mivra-held " { $0 = substr($0, 13) }
    active && substr($1, 1, 1) != "#" {
        data = $0
        if ((at = index(data, "#")) > 0) data = substr(data, 1, at - 1)
        m = split(data, f)
        hit = 0; keep = ""
        for (i = 2; i <= m; i++) if (tolower(f[i]) in blocked) hit = 1; else keep = keep " " f[i]
        if (hit) {
            out("#mivra-held " $0)
            if (keep != "") out(f[1] keep " #mivra-part")
            next
        }
    })awk"_s;

// A hosts file whose last line has no line end keeps it that way: the lines written are joined by
// line ends and the file ends with one only when it did before. A block put after such a line
// therefore ends without one, and taking the block out again gives back the very same bytes.
const QString noLineEnd = uR"sh(noeol=
    [ -s "$HOSTS" ] && [ "$(tail -c 1 "$HOSTS" | wc -l)" -eq 0 ] && noeol=1)sh"_s;
const QString outLines = uR"awk(    function out(line) { printf "%s%s", sep, line; sep = "\n" }
    function done() { if (sep != "" && ENVIRON["NOEOL"] == "") printf "\n" })awk"_s;

// Puts the file $1, made beside the hosts file, in place of it. Where the hosts file can be
// renamed over, the new one is flushed to disk with the old one's owner, mode and security label
// and renamed into place: every reader, and the disk after a power loss, holds the old file or the
// new one, never a part of either. Where it cannot (it is a mount point, as in containers, or a
// link), it is rewritten in place: the whole new content goes in with one write, padded with line
// ends to at least the old length so that the file never reads shorter than the lines both share,
// and is then cut to size; a failed write puts the previous content back the same way.
const QString hostsReplaceLinux = uR"sh(
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
    # the two run, a stop is ignored and the run goes on to its end.
    trap '' TERM INT HUP
    if [ "$size" -ne 0 ]; then
        dd if="$1" of="$HOSTS" bs="$size" count=1 iflag=fullblock conv=notrunc status=none || status=1
    fi
    [ "$status" -ne 0 ] || { truncate -s "$2" "$HOSTS" && sync "$HOSTS"; } || status=1
    trap 'exit 1' TERM INT HUP
    return "$status"
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
)sh"_s;

// macOS: its hosts file is a plain file; written aside (root's, in the folder's group) and
// renamed over it.
const QString hostsReplaceMac = uR"sh(
replace_hosts() {
    chmod 644 "$1" 2>/dev/null
    mv -f "$1" "$HOSTS" || return 1
    sync
}
)sh"_s;

// ---- Linux: systemd units and scripts -----------------------------------------------------------

// A value in a unit file: systemd expands "%" specifiers everywhere.
QString unitValue(const QString& text) {
    QString out = text;
    return out.replace(u'%', u"%%"_s);
}

// One word of a command line in a unit file.
QString unitWord(const QString& word) {
    QString out = unitValue(word);
    out.replace(u'$', u"$$"_s);
    bool plain = true;
    for (QChar c : out)
        if (c.isSpace() || c == u'"' || c == u'\'' || c == u'\\' || c == u';') plain = false;
    if (plain) return out;
    out.replace(u'\\', u"\\\\"_s).replace(u'"', u"\\\""_s);
    return u'"' + out + u'"';
}

const QString unitLockupPath = uR"(
[Unit]
Description=Mivra: apply the lockup when it changes

[Path]
PathChanged=@CONF@
Unit=app.oriflan.mivra.lockup.service

[Install]
WantedBy=paths.target
)"_s;

// A burst of changes must never trip the start limit: the path unit would fail and stop watching.
const QString unitApplierService = uR"(
[Unit]
Description=@WHAT@
StartLimitIntervalSec=0

[Service]
Type=oneshot
ExecStart=/bin/bash @APPLIER@@POST@
# A run takes well under a second; one that hangs is stopped, which leaves the hosts file whole.
TimeoutStartSec=90s
StandardOutput=null
StandardError=append:@LOG@
)"_s;

// The path unit stops watching while the service it started runs and only watches again once it
// has ended, so a write that lands after a run's last look at the lockup would wait for the next
// sweep. Each run the watch started therefore has the sweep run once more right after it: that
// run looks at the lockup after this one has ended, while the path unit watches again.
const QString watchGap = uR"(
ExecStartPost=-/usr/bin/systemctl --no-block start app.oriflan.mivra.sweep.service)"_s;

const QString unitSweepTimer = uR"(
[Unit]
Description=Mivra: re-apply the lockup every 15 seconds, so blocks end at their expiry

[Timer]
OnActiveSec=0
OnUnitActiveSec=15s
AccuracySec=1s
Unit=app.oriflan.mivra.sweep.service

[Install]
WantedBy=timers.target
)"_s;

const QString unitBlockpagePath = uR"(
[Unit]
Description=Mivra: serve the block page while its flag is raised

[Path]
PathExists=@FLAG@
Unit=app.oriflan.mivra.blockpage.service

[Install]
WantedBy=paths.target
)"_s;

// The path unit starts the daemon but never stops it: the applier stops it when it lowers the flag.
// The daemon runs from the start as a user of its own that exists only while it runs, with only
// the right to bind port 80, and sees nothing of the system it does not need.
const QString unitBlockpageService = uR"(
[Unit]
Description=Mivra: the block page on 127.0.0.1 port 80
StartLimitIntervalSec=0
ConditionPathExists=@FLAG@

[Service]
ExecStart=@DAEMON@
Restart=always
RestartSec=1s
TimeoutStartSec=10s
StandardOutput=null
StandardError=append:@LOG@
DynamicUser=yes
AmbientCapabilities=CAP_NET_BIND_SERVICE
CapabilityBoundingSet=CAP_NET_BIND_SERVICE
LimitNOFILE=8192
NoNewPrivileges=yes
UMask=077
ProtectSystem=strict
ProtectHome=yes
PrivateTmp=yes
PrivateDevices=yes
PrivateIPC=yes
DevicePolicy=closed
ProtectProc=invisible
ProcSubset=pid
ProtectKernelTunables=yes
ProtectKernelModules=yes
ProtectKernelLogs=yes
ProtectControlGroups=yes
ProtectClock=yes
ProtectHostname=yes
RemoveIPC=yes
KeyringMode=private
RestrictAddressFamilies=AF_INET
IPAddressDeny=any
IPAddressAllow=localhost
RestrictNamespaces=yes
RestrictRealtime=yes
RestrictSUIDSGID=yes
LockPersonality=yes
MemoryDenyWriteExecute=yes
SystemCallArchitectures=native
SystemCallFilter=@system-service
SystemCallFilter=~@privileged @resources
# The daemon gives up the bind capability itself once the port is bound.
SystemCallFilter=capset
SystemCallErrorNumber=EPERM
)"_s;

QStringList linuxUnitNames() {
    return {u"app.oriflan.mivra.lockup.path"_s,    u"app.oriflan.mivra.lockup.service"_s,
            u"app.oriflan.mivra.sweep.timer"_s,    u"app.oriflan.mivra.sweep.service"_s,
            u"app.oriflan.mivra.blockpage.path"_s, u"app.oriflan.mivra.blockpage.service"_s};
}

// Hands the lockup file to the user who authorised (pkexec names them): other local users can
// neither block nor unblock. A link or anything but a regular file there is replaced.
const QString claimLockup = uR"sh(L="$STATE/lockup.conf"
if [ -L "$L" ] || { [ -e "$L" ] && [ ! -f "$L" ]; }; then rm -rf "$L"; fi
[ -f "$L" ] || : > "$L"
owner=${PKEXEC_UID:-0}
case $owner in '' | *[!0-9]*) owner=0 ;; esac
chown -h "$owner" "$L"
chmod 644 "$L")sh"_s;

// pkexec keeps 126 (prompt dismissed) and 127 (not authorised) for itself: never end with either.
const QString exitTrap =
    uR"sh(trap 'status=$?; [ -z "$PRIV" ] || rm -rf "$PRIV"; [ "$status" -ne 126 ] && [ "$status" -ne 127 ] || exit 1' EXIT)sh"_s;

// Root executes and installs exactly what the application staged when the person authorised:
// every file is copied out of the user's folder into one only root can reach, refused if it is a
// link or not a regular file, and checked there against the digest this script carries (the
// script itself travels in pkexec's arguments, not in a file the user could change).
const QString linuxInstall = uR"sh(#!/bin/bash
# Installs the Mivra root helper; run as root through pkexec. Stops at the first failing command.
set -e
umask 022
PRIV=
@TRAP@
LIBEXEC=@LIBEXEC@
STATE=@STATE@
LOGS=@LOGS@
UNITS=@UNITS@
STAGE=@STAGE@
install -d -m 755 "$LIBEXEC" "$STATE" "$LOGS"
mkdir -p "$UNITS"
PRIV=$(mktemp -d "$STATE/.install.XXXXXX")
take() {
    local src="$STAGE/$1"
    if [ -L "$src" ] || [ ! -f "$src" ]; then
        echo "install: $src is not a regular file" >&2
        return 1
    fi
    dd if="$src" of="$PRIV/$1" iflag=nofollow,nonblock bs=1M status=none
    if [ "$(sha256sum < "$PRIV/$1")" != "$2  -" ]; then
        echo "install: $src is not the file Mivra staged" >&2
        return 1
    fi
}
@TAKE@
# Nothing may rewrite the hosts file while the helper is replaced: what starts the applier stops
# first, then a run in progress ends.
systemctl stop @TRIGGERS@ 2>/dev/null || true
(umask 077; : >> "$STATE/apply.lock")
exec 8>>"$STATE/apply.lock"
flock -w 90 8
systemctl stop @APPLIERS@ 2>/dev/null || true
install -m 755 "$PRIV/lockup-apply.sh" "$LIBEXEC/lockup-apply.sh"
install -m 755 "$PRIV/mivra-blockpage" "$LIBEXEC/mivra-blockpage"
@CLAIM@
for U in @UNITLIST@; do
    install -m 644 "$PRIV/$U" "$UNITS/$U"
    chown root:root "$UNITS/$U"
done
echo @VERSION@ > "$STATE/version"
systemctl daemon-reload
systemctl reset-failed @UNITLIST@ 2>/dev/null || true
systemctl try-restart app.oriflan.mivra.blockpage.service 2>/dev/null || true
exec 8>&-
systemctl enable --now @ENABLED@
exit 0
)sh"_s;

// With the helper already in place (a distribution package), the first authorisation from the
// application only hands the lockup file to that user.
const QString linuxClaim = uR"sh(#!/bin/bash
# Hands the Mivra lockup file to the user who authorised; run as root through pkexec.
set -e
PRIV=
@TRAP@
STATE=@STATE@
@CLAIM@
exit 0
)sh"_s;

const QString linuxRemoval = uR"sh(#!/bin/bash
# Removes the Mivra root helper; run as root through pkexec. Carries on past failures.
LIBEXEC=@LIBEXEC@
STATE=@STATE@
LOGS=@LOGS@
UNITS=@UNITS@
HOSTS=@HOSTS@
BEGIN=@BEGIN@
END=@END@
dir=${HOSTS%/*}
tmp=
saved=
trap 'rm -f "$tmp" "$saved"' EXIT
@REPLACE@
# Nothing may start the applier any more, a run in progress ends, and then the hosts file is put
# right under the applier's own lock. The path and timer units stop before anything reloads systemd:
# a reload fires a timer that starts at once one more time, and the removal would kill that run.
systemctl stop @TRIGGERS@ 2>/dev/null
systemctl disable --now @ENABLED@ 2>/dev/null
[ -d "$STATE" ] && exec 9>>"$STATE/apply.lock" && flock -w 90 9
systemctl stop @SERVICES@ 2>/dev/null
@STRIP@
for U in @UNITLIST@; do rm -f "$UNITS/$U"; done
systemctl daemon-reload 2>/dev/null
systemctl reset-failed @UNITLIST@ 2>/dev/null
rm -rf "$STATE" "$LIBEXEC" "$LOGS"
exit 0
)sh"_s;

// Takes every marked block out of the hosts file (the applier's rule) and rewrites it, even when
// nothing changed.
const QString stripHosts = uR"sh(if [ -f "$HOSTS" ] && tmp=$(mktemp "$dir/.mivra-hosts.XXXXXX"); then
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
fi)sh"_s;

// ---- macOS: launchd property lists and scripts --------------------------------------------------

QString xmlEscape(const QString& text) {
    return text.toHtmlEscaped();
}

const QString plistHead = uR"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
)"_s;
const QString plistTail = u"</dict>\n</plist>\n"_s;

QString plistString(const QString& text) {
    return u"<string>"_s + xmlEscape(text) + u"</string>"_s;
}

const QString macInstall = uR"sh(#!/bin/bash
set -e
SYS=@SYS@
LD=@LD@
STAGE=@STAGE@
mkdir -p "$SYS"
install -m 755 "$STAGE/lockup-apply.sh" "$SYS/lockup-apply.sh"
install -m 755 "$STAGE/mivra-blockpage" "$SYS/mivra-blockpage"
# The lockup belongs to the user who installs (never a link): other local users can neither block
# nor unblock.
if [ -L "$SYS/lockup.conf" ]; then rm -f "$SYS/lockup.conf"; fi
if [ ! -f "$SYS/lockup.conf" ]; then : > "$SYS/lockup.conf"; fi
chown -h @OWNER@ "$SYS/lockup.conf"
chmod 644 "$SYS/lockup.conf"
install -m 644 "$STAGE/app.oriflan.mivra.lockup.plist" "$LD/app.oriflan.mivra.lockup.plist"
install -m 644 "$STAGE/app.oriflan.mivra.sweep.plist" "$LD/app.oriflan.mivra.sweep.plist"
install -m 644 "$STAGE/app.oriflan.mivra.blockpage.plist" "$LD/app.oriflan.mivra.blockpage.plist"
chown root:wheel "$LD/app.oriflan.mivra.lockup.plist" "$LD/app.oriflan.mivra.sweep.plist" "$LD/app.oriflan.mivra.blockpage.plist"
echo @VERSION@ > "$SYS/version"
for L in lockup sweep blockpage; do
    launchctl bootout system "$LD/app.oriflan.mivra.$L.plist" 2>/dev/null || true
done
launchctl bootstrap system "$LD/app.oriflan.mivra.lockup.plist"
launchctl bootstrap system "$LD/app.oriflan.mivra.sweep.plist"
launchctl bootstrap system "$LD/app.oriflan.mivra.blockpage.plist"
exit 0
)sh"_s;

const QString macRemoval = uR"sh(#!/bin/bash
SYS=@SYS@
LD=@LD@
HOSTS=@HOSTS@
BEGIN=@BEGIN@
END=@END@
dir=${HOSTS%/*}
tmp=
trap 'rm -f "$tmp"' EXIT
@REPLACE@
for L in lockup sweep blockpage; do
    launchctl bootout system "$LD/app.oriflan.mivra.$L.plist" 2>/dev/null
    rm -f "$LD/app.oriflan.mivra.$L.plist"
done
@STRIP@
rm -rf "$SYS"
exit 0
)sh"_s;

} // namespace

RootSide::RootSide(RootPlatform platform, RootLayout layout)
    : m_platform(platform), m_layout(std::move(layout)) {}

QString RootSide::label(const QString& job) {
    return u"app.oriflan.mivra."_s + job;
}

QString shellQuote(const QString& word) {
    bool plain = true;
    for (QChar c : word)
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`' || c == u'!') plain = false;
    if (plain) return u'"' + word + u'"';
    QString inner = word;
    return u'\'' + inner.replace(u'\'', u"'\\''"_s) + u'\'';
}

QString appleScriptCommand(const QString& scriptPath) {
    // The path sits inside an AppleScript string literal: its quotes and backslashes are escaped
    // there, and `quoted form of` then hands it to the shell as one word.
    QString literal = scriptPath;
    literal.replace(u'\\', u"\\\\"_s).replace(u'"', u"\\\""_s);
    return u"do shell script \"/bin/bash \" & quoted form of \""_s + literal +
           u"\" with administrator privileges"_s;
}

QString RootSide::cacheFlush() const {
    if (m_platform == RootPlatform::MacOS)
        return u"    dscacheutil -flushcache >/dev/null 2>&1\n    killall -HUP mDNSResponder >/dev/null 2>&1"_s;
    return u"    resolvectl flush-caches >/dev/null 2>&1\n    nscd -i hosts >/dev/null 2>&1"_s;
}

QString RootSide::hostsReplace(const QString& who) const {
    if (m_platform == RootPlatform::MacOS) return hostsReplaceMac;
    return fill(hostsReplaceLinux, {{u"@WHO@"_s, who}});
}

QString RootSide::applierScript() const {
    const RootLayout& l = m_layout;
    const bool mac = m_platform == RootPlatform::MacOS;
    QString head;
    if (mac) {
        head =
            u"#!/bin/bash\n# Mivra lockup applier — run as root by launchd (on conf change + every 15s).\n"_s +
            u"SYS="_s + shellQuote(l.stateDirectory) + u'\n';
    } else {
        head =
            u"#!/bin/bash\n# Mivra lockup applier — run as root by systemd (on lockup change + every 15s).\n"_s +
            u"STATE="_s + shellQuote(l.stateDirectory) + u'\n';
    }
    head += u"CONF="_s + shellQuote(l.lockupFile()) + u'\n' + u"HOSTS="_s + shellQuote(l.hostsFile) + u'\n' +
            u"BEGIN="_s + shellQuote(beginMarker) + u'\n' + u"END="_s + shellQuote(endMarker) + u'\n' +
            u"FLAG="_s + shellQuote(l.flagFile()) + u'\n' + u"LOCK="_s + shellQuote(l.lockFile()) + u'\n';
    // bash 4.2 and later tell the time without starting `date`; macOS ships bash 3.2, and no flock.
    const QString now = mac ? u"now=$(date +%s)"_s : u"printf -v now '%(%s)T' -1"_s;
    const QString lock =
        mac ? u"if command -v flock >/dev/null; then flock -w 50 9 || exit 0; fi"_s
            : u"flock -w 50 9 || { echo \"lockup-apply: another run holds $LOCK; this one gives way\" >&2; exit 0; }"_s;
    const QString read =
        mac ? u"head -c \"$LIMIT\" \"$CONF\" > \"$snap\""_s
            : u"dd if=\"$CONF\" of=\"$snap\" iflag=nofollow,nonblock,count_bytes count=\"$LIMIT\" bs=1M status=none 2>/dev/null || : > \"$snap\""_s;
    const QString stop =
        mac ? u"        :"_s
            : u"        systemctl --no-block stop app.oriflan.mivra.blockpage.service >/dev/null 2>&1"_s;
    return head + fill(applierBody, {{u"\n@REPLACE@"_s, hostsReplace(u"lockup-apply"_s) + (mac ? QString() : cutFunctions)},
                                     {u"@RESOLVE@\n"_s, mac ? QString() : resolveFresh + u'\n'},
                                     {u"@CUT@\n"_s, mac ? QString() : cutOpen + u'\n'},
                                     {u"@FLUSH@"_s, u"    "_s + cacheFlush().replace(u"\n"_s, u"\n    "_s)},
                                     {u"@NOW@"_s, now},
                                     {u"@LOCK@"_s, lock},
                                     {u"@READ@"_s, read},
                                     {u"@STOPDAEMON@"_s, stop},
                                     {u"@HELD@"_s, heldLines},
                                     {u"@NOEOL@"_s, noLineEnd},
                                     {u"@OUT@"_s, outLines}});
}

QList<RootFile> RootSide::jobFiles() const {
    const RootLayout& l = m_layout;
    if (m_platform == RootPlatform::Linux) {
        const QString applier = unitWord(l.applier());
        const QString helperLog = unitValue(l.helperLog());
        auto unit = [](const QString& t, Fills fills) -> QString {
            return fill(t, fills).mid(1);
        }; // no leading LF
        const QStringList names = linuxUnitNames();
        return {
            {names[0], unit(unitLockupPath, {{u"@CONF@"_s, unitValue(l.lockupFile())}})},
            {names[1],
             unit(unitApplierService, {{u"@WHAT@"_s, u"Mivra: make the hosts file follow the lockup"_s},
                                       {u"@APPLIER@"_s, applier},
                                       {u"@POST@"_s, watchGap},
                                       {u"@LOG@"_s, helperLog}})},
            {names[2], unit(unitSweepTimer, {})},
            {names[3], unit(unitApplierService, {{u"@WHAT@"_s, u"Mivra: re-apply the lockup"_s},
                                                 {u"@APPLIER@"_s, applier},
                                                 {u"@POST@"_s, QString()},
                                                 {u"@LOG@"_s, helperLog}})},
            {names[4], unit(unitBlockpagePath, {{u"@FLAG@"_s, unitValue(l.flagFile())}})},
            {names[5], unit(unitBlockpageService, {{u"@FLAG@"_s, unitValue(l.flagFile())},
                                                   {u"@DAEMON@"_s, unitWord(l.daemon())},
                                                   {u"@LOG@"_s, unitValue(l.blockpageLog())}})},
        };
    }

    const QString in = u"    "_s;
    auto key = [&](const QString& k) -> QString { return in + u"<key>"_s + k + u"</key>\n"_s; };
    auto arguments = [&](const QStringList& args) -> QString {
        QString s = key(u"ProgramArguments"_s) + in + u"<array>\n"_s;
        for (const QString& a : args)
            s += in + in + plistString(a) + u'\n';
        return s + in + u"</array>\n"_s;
    };
    auto labelKey = [&](const QString& job) -> QString {
        return key(u"Label"_s) + in + plistString(RootSide::label(job)) + u'\n';
    };
    auto errorPath = [&](const QString& path) -> QString {
        return key(u"StandardErrorPath"_s) + in + plistString(path) + u'\n';
    };
    const QString runAtLoad = key(u"RunAtLoad"_s) + in + u"<true/>\n"_s;

    const QString lockup = plistHead + labelKey(u"lockup"_s) + arguments({u"/bin/bash"_s, l.applier()}) +
                           key(u"WatchPaths"_s) + in + u"<array>\n"_s + in + in +
                           plistString(l.lockupFile()) + u'\n' + in + u"</array>\n"_s + runAtLoad +
                           errorPath(l.helperLog()) + plistTail;
    const QString sweep = plistHead + labelKey(u"sweep"_s) + arguments({u"/bin/bash"_s, l.applier()}) +
                          key(u"StartInterval"_s) + in + u"<integer>15</integer>\n"_s + runAtLoad +
                          errorPath(l.helperLog()) + plistTail;
    const QString blockpage =
        plistHead + labelKey(u"blockpage"_s) + arguments({l.daemon()}) + key(u"KeepAlive"_s) + in +
        u"<dict>\n"_s + in + in + u"<key>PathState</key>\n"_s + in + in + u"<dict>\n"_s + in + in + in +
        u"<key>"_s + xmlEscape(l.flagFile()) + u"</key>\n"_s + in + in + in + u"<true/>\n"_s + in + in +
        u"</dict>\n"_s + in + u"</dict>\n"_s + errorPath(l.blockpageLog()) + plistTail;
    return {{RootSide::label(u"lockup"_s) + u".plist"_s, lockup},
            {RootSide::label(u"sweep"_s) + u".plist"_s, sweep},
            {RootSide::label(u"blockpage"_s) + u".plist"_s, blockpage}};
}

QStringList RootSide::enabledJobs() const {
    if (m_platform == RootPlatform::Linux)
        return {u"app.oriflan.mivra.lockup.path"_s, u"app.oriflan.mivra.sweep.timer"_s,
                u"app.oriflan.mivra.blockpage.path"_s};
    QStringList out;
    for (const QString& job : jobs)
        out << label(job);
    return out;
}

QString RootSide::installScript(const QString& stagingDirectory, const StagedDigests& digests) const {
    const RootLayout& l = m_layout;
    if (m_platform == RootPlatform::MacOS)
        return fill(macInstall, {{u"@SYS@"_s, shellQuote(l.stateDirectory)},
                                 {u"@LD@"_s, shellQuote(l.jobDirectory)},
                                 {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                                 {u"@OWNER@"_s, QString::number(::getuid())},
                                 {u"@VERSION@"_s, QString::number(Blocker::helperVersion)}});
    QStringList take;
    for (auto it = digests.begin(); it != digests.end(); ++it)
        take << u"take "_s + shellQuote(it.key()) + u' ' + QString::fromLatin1(it.value().toHex());
    const QStringList units = linuxUnitNames();
    return fill(linuxInstall, {{u"@TRAP@"_s, exitTrap},
                               {u"@LIBEXEC@"_s, shellQuote(l.libexecDirectory)},
                               {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                               {u"@LOGS@"_s, shellQuote(l.logDirectory)},
                               {u"@UNITS@"_s, shellQuote(l.jobDirectory)},
                               {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                               {u"@TAKE@"_s, take.join(u'\n')},
                               {u"@TRIGGERS@"_s, units[0] + u' ' + units[2]},
                               {u"@APPLIERS@"_s, units[1] + u' ' + units[3]},
                               {u"@CLAIM@"_s, claimLockup},
                               {u"@UNITLIST@"_s, units.join(u' ')},
                               {u"@ENABLED@"_s, enabledJobs().join(u' ')},
                               {u"@VERSION@"_s, QString::number(Blocker::helperVersion)}});
}

QString RootSide::claimScript() const {
    return fill(linuxClaim, {{u"@TRAP@"_s, exitTrap},
                             {u"@STATE@"_s, shellQuote(m_layout.stateDirectory)},
                             {u"@CLAIM@"_s, claimLockup}});
}

QString RootSide::removalScript() const {
    const RootLayout& l = m_layout;
    const QString replace = hostsReplace(u"remove"_s);
    // Nothing is in force any more: held lines only come back.
    const QString strip = fill(stripHosts, {{u"@FLUSH@"_s, u"    "_s + cacheFlush().replace(u"\n"_s, u"\n    "_s)},
                                            {u"@HELD@"_s, QString(heldLines).replace(u"    "_s, u"        "_s)},
                                            {u"@NOEOL@"_s, noLineEnd},
                                            {u"@OUT@"_s, QString(outLines).replace(u"    "_s, u"        "_s)}});
    if (m_platform == RootPlatform::MacOS)
        return fill(macRemoval, {{u"@SYS@"_s, shellQuote(l.stateDirectory)},
                                 {u"@LD@"_s, shellQuote(l.jobDirectory)},
                                 {u"@HOSTS@"_s, shellQuote(l.hostsFile)},
                                 {u"@BEGIN@"_s, shellQuote(beginMarker)},
                                 {u"@END@"_s, shellQuote(endMarker)},
                                 {u"\n@REPLACE@"_s, replace},
                                 {u"@STRIP@"_s, strip}});
    QStringList services;
    for (const QString& job : jobs)
        services << label(job) + u".service"_s;
    return fill(linuxRemoval, {{u"@LIBEXEC@"_s, shellQuote(l.libexecDirectory)},
                               {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                               {u"@LOGS@"_s, shellQuote(l.logDirectory)},
                               {u"@UNITS@"_s, shellQuote(l.jobDirectory)},
                               {u"@HOSTS@"_s, shellQuote(l.hostsFile)},
                               {u"@BEGIN@"_s, shellQuote(beginMarker)},
                               {u"@END@"_s, shellQuote(endMarker)},
                               {u"\n@REPLACE@"_s, replace},
                               {u"@STRIP@"_s, strip},
                               {u"@SERVICES@"_s, services.join(u' ')},
                               {u"@TRIGGERS@"_s, linuxUnitNames()[0] + u' ' + linuxUnitNames()[2] + u' ' + linuxUnitNames()[4]},
                               {u"@UNITLIST@"_s, linuxUnitNames().join(u' ')},
                               {u"@ENABLED@"_s, enabledJobs().join(u' ')}});
}
