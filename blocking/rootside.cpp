#include "blocking/rootside.h"

#include "blocking/blocker.h"

#include <initializer_list>
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
const QString applierBody = uR"sh(
# The lockup file is written by the user and read here as root: only 127.0.0.1 and 0.0.0.0 are
# taken as the redirect (anything else counts as 0.0.0.0), and host lines holding control
# characters or longer than a host name can be are dropped.

[ -f "$HOSTS" ] || exit 0

@NOW@
tmp=$(mktemp /tmp/mivra.hosts.XXXXXX) || exit 0

# Exit status 0: no block in force; 3: a block sent to 127.0.0.1; 4: a block sent to 0.0.0.0.
# Anything else (an unreadable hosts file, a full /tmp) leaves everything as it is.
CONF="$CONF" BEGIN="$BEGIN" END="$END" NOW="$now" LC_ALL=C awk '
BEGIN {
    conf = ENVIRON["CONF"]; b = ENVIRON["BEGIN"]; e = ENVIRON["END"]
    redirect = "0.0.0.0"; expires = ""; n = 0
    while ((getline line < conf) > 0) {
        if (substr(line, 1, 10) == "#redirect ") redirect = substr(line, 11)
        else if (substr(line, 1, 9) == "#expires ") expires = substr(line, 10)
        else if (line == "" || substr(line, 1, 1) == "#") continue
        else if (line !~ /[\000-\037\177]/ && length(line) <= 255) host[++n] = line
    }
    close(conf)
    if (redirect != "127.0.0.1") redirect = "0.0.0.0"
    if (expires == "" || expires ~ /[^0-9]/) expires = 0
    active = n > 0
    if (expires + 0 > 0 && ENVIRON["NOW"] + 0 >= expires + 0) active = 0
}
$0 == b { skip = 1; next }
$0 == e { skip = 0; next }
!skip { print }
END {
    if (!active) exit 0
    print b
    for (i = 1; i <= n; i++) printf "%s %s\n", redirect, host[i]
    print e
    exit (redirect == "127.0.0.1" ? 3 : 4)
}' "$HOSTS" > "$tmp"
status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 3 ] && [ "$status" -ne 4 ]; then
    rm -f "$tmp"
    echo "lockup-apply: could not prepare the new hosts file; nothing changed" >&2
    exit 0
fi
@REPLACE@
cmp -s "$tmp" "$HOSTS"
if [ $? -eq 1 ] && replace_hosts "$tmp"; then
    chmod 644 "$HOSTS" 2>/dev/null
@FLUSH@
fi
rm -f "$tmp"

if [ "$status" -eq 3 ]; then
    : > "$FLAG"
elif [ -e "$FLAG" ] || [ -L "$FLAG" ]; then
    rm -f "$FLAG"
@STOPDAEMON@
fi
exit 0
)sh"_s;

// Copies a file over the hosts file in place (the file keeps its identity). A copy that fails
// half-way, on a full disk, puts the previous content back: the hosts file is never left cut short.
const QString hostsReplace = uR"sh(
replace_hosts() {
    local saved
    saved=$(mktemp /tmp/mivra.hosts.XXXXXX) || return 1
    if ! cat "$HOSTS" > "$saved"; then
        rm -f "$saved"
        return 1
    fi
    if cat "$1" > "$HOSTS"; then
        rm -f "$saved"
        return 0
    fi
    if cat "$saved" > "$HOSTS"; then
        rm -f "$saved"
        echo "@WHO@: could not rewrite $HOSTS; its previous content is back" >&2
    else
        echo "@WHO@: could not rewrite $HOSTS; its previous content is in $saved" >&2
    fi
    return 1
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
ExecStart=/bin/bash @APPLIER@
StandardOutput=null
StandardError=append:@LOG@
)"_s;

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
const QString unitBlockpageService = uR"(
[Unit]
Description=Mivra: the block page on 127.0.0.1 port 80
StartLimitIntervalSec=0
ConditionPathExists=@FLAG@

[Service]
ExecStart=@DAEMON@
Restart=always
RestartSec=1s
StandardOutput=null
StandardError=append:@LOG@
# The daemon binds port 80 as root, then becomes nobody; it needs nothing else of the system.
CapabilityBoundingSet=CAP_NET_BIND_SERVICE CAP_SETUID CAP_SETGID
NoNewPrivileges=yes
ProtectSystem=strict
ProtectHome=yes
PrivateTmp=yes
PrivateDevices=yes
ProtectKernelTunables=yes
ProtectKernelModules=yes
ProtectKernelLogs=yes
ProtectControlGroups=yes
ProtectClock=yes
ProtectHostname=yes
RestrictAddressFamilies=AF_INET AF_UNIX
RestrictNamespaces=yes
RestrictRealtime=yes
RestrictSUIDSGID=yes
LockPersonality=yes
MemoryDenyWriteExecute=yes
SystemCallArchitectures=native
)"_s;

QStringList linuxUnitNames() {
    return {u"app.oriflan.mivra.lockup.path"_s,    u"app.oriflan.mivra.lockup.service"_s,
            u"app.oriflan.mivra.sweep.timer"_s,    u"app.oriflan.mivra.sweep.service"_s,
            u"app.oriflan.mivra.blockpage.path"_s, u"app.oriflan.mivra.blockpage.service"_s};
}

const QString linuxInstall = uR"sh(#!/bin/bash
# Installs the Mivra root helper; run as root through pkexec. Stops at the first failing command.
set -e
umask 022
# pkexec keeps 126 (prompt dismissed) and 127 (not authorised) for itself: never end with either.
trap 'status=$?; [ "$status" -ne 126 ] && [ "$status" -ne 127 ] || exit 1' EXIT
LIBEXEC=@LIBEXEC@
STATE=@STATE@
LOGS=@LOGS@
UNITS=@UNITS@
STAGE=@STAGE@
install -d -m 755 "$LIBEXEC" "$STATE" "$LOGS"
mkdir -p "$UNITS"
install -m 755 "$STAGE/lockup-apply.sh" "$LIBEXEC/lockup-apply.sh"
install -m 755 "$STAGE/mivra-blockpage" "$LIBEXEC/mivra-blockpage"
if [ ! -f "$STATE/lockup.conf" ]; then : > "$STATE/lockup.conf"; fi
# The lockup belongs to the user who installs: other local users can neither block nor unblock.
owner=${PKEXEC_UID:-0}
case $owner in '' | *[!0-9]*) owner=0 ;; esac
chown "$owner" "$STATE/lockup.conf"
chmod 644 "$STATE/lockup.conf"
for U in @UNITLIST@; do
    install -m 644 "$STAGE/$U" "$UNITS/$U"
    chown root:root "$UNITS/$U"
done
echo @VERSION@ > "$STATE/version"
systemctl daemon-reload
systemctl stop @UNITLIST@ 2>/dev/null || true
systemctl reset-failed @UNITLIST@ 2>/dev/null || true
systemctl enable --now @ENABLED@
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
@REPLACE@
systemctl disable --now @ENABLED@ 2>/dev/null
systemctl stop @SERVICES@ 2>/dev/null
for U in @UNITLIST@; do rm -f "$UNITS/$U"; done
systemctl daemon-reload 2>/dev/null
systemctl reset-failed @UNITLIST@ 2>/dev/null
@STRIP@
rm -rf "$STATE" "$LIBEXEC" "$LOGS"
exit 0
)sh"_s;

// Takes every marked block out of the hosts file (the applier's rule) and rewrites it, even when
// nothing changed.
const QString stripHosts = uR"sh(if [ -f "$HOSTS" ] && tmp=$(mktemp /tmp/mivra.hosts.XXXXXX); then
    if BEGIN="$BEGIN" END="$END" LC_ALL=C awk '
        $0 == ENVIRON["BEGIN"] { skip = 1; next }
        $0 == ENVIRON["END"] { skip = 0; next }
        !skip { print }' "$HOSTS" > "$tmp" && replace_hosts "$tmp"; then
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
if [ ! -f "$SYS/lockup.conf" ]; then : > "$SYS/lockup.conf"; fi
chmod 666 "$SYS/lockup.conf"
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

QString RootSide::applierScript() const {
    const RootLayout& l = m_layout;
    QString head;
    if (m_platform == RootPlatform::MacOS) {
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
            u"FLAG="_s + shellQuote(l.flagFile()) + u'\n';
    // bash 4.2 and later tell the time without starting `date`; macOS ships bash 3.2.
    const QString now =
        m_platform == RootPlatform::Linux ? u"printf -v now '%(%s)T' -1"_s : u"now=$(date +%s)"_s;
    const QString stop =
        m_platform == RootPlatform::Linux
            ? u"    systemctl --no-block stop app.oriflan.mivra.blockpage.service >/dev/null 2>&1"_s
            : u"    :"_s;
    return head + fill(applierBody, {{u"@REPLACE@"_s, fill(hostsReplace, {{u"@WHO@"_s, u"lockup-apply"_s}})},
                                     {u"\n@FLUSH@"_s, u'\n' + cacheFlush()},
                                     {u"@NOW@"_s, now},
                                     {u"\n@STOPDAEMON@"_s, u'\n' + stop}});
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
                                       {u"@LOG@"_s, helperLog}})},
            {names[2], unit(unitSweepTimer, {})},
            {names[3], unit(unitApplierService, {{u"@WHAT@"_s, u"Mivra: re-apply the lockup"_s},
                                                 {u"@APPLIER@"_s, applier},
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

QString RootSide::installScript(const QString& stagingDirectory) const {
    const RootLayout& l = m_layout;
    if (m_platform == RootPlatform::MacOS)
        return fill(macInstall, {{u"@SYS@"_s, shellQuote(l.stateDirectory)},
                                 {u"@LD@"_s, shellQuote(l.jobDirectory)},
                                 {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                                 {u"@VERSION@"_s, QString::number(Blocker::helperVersion)}});
    return fill(linuxInstall, {{u"@LIBEXEC@"_s, shellQuote(l.libexecDirectory)},
                               {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                               {u"@LOGS@"_s, shellQuote(l.logDirectory)},
                               {u"@UNITS@"_s, shellQuote(l.jobDirectory)},
                               {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                               {u"@UNITLIST@"_s, linuxUnitNames().join(u' ')},
                               {u"@ENABLED@"_s, enabledJobs().join(u' ')},
                               {u"@VERSION@"_s, QString::number(Blocker::helperVersion)}});
}

QString RootSide::removalScript() const {
    const RootLayout& l = m_layout;
    const QString replace = fill(hostsReplace, {{u"@WHO@"_s, u"remove"_s}});
    const QString strip =
        fill(stripHosts, {{u"@FLUSH@"_s, u"    "_s + cacheFlush().replace(u"\n"_s, u"\n    "_s)}});
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
                               {u"@UNITLIST@"_s, linuxUnitNames().join(u' ')},
                               {u"@ENABLED@"_s, enabledJobs().join(u' ')}});
}
