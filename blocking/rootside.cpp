// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/rootside.h"

#include "blocking/rootside-config.h"

#include <QFile>

#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

const QString RootSide::beginMarker = u"# >>> MIVRA LOCKUP >>>"_s;
const QString RootSide::endMarker = u"# <<< MIVRA LOCKUP <<<"_s;

namespace {

using Fills = QList<std::pair<QString, QString>>;

// Replaces each @NAME@ of a template with its text, in the order given: a text put in may hold
// placeholders of its own that a later pair fills.
QString fill(QString text, const Fills& fills) {
    for (const auto& [key, value] : fills)
        text.replace(key, value);
    return text;
}

// The texts live in blocking/rootside/ and are built into the program as resources; the folder's
// README says what each one is for. A missing one is a broken build, never a user's doing.
QString templateText(const QString& path) {
    QFile f(u":/rootside/"_s + path);
    if (!f.open(QIODevice::ReadOnly)) qFatal("The root-side template %s is missing", qPrintable(path));
    return QString::fromUtf8(f.readAll());
}

// A piece put into another text in place of a placeholder that stands on a line of its own: the
// file's last line end is the placeholder's.
QString part(const QString& path) {
    QString text = templateText(path);
    if (text.endsWith(u'\n')) text.chop(1);
    return text;
}

// "<job>.<kind>" of every systemd unit, in load order: the build's one list of them.
QStringList unitKeys() {
    return QString::fromLatin1(MIVRA_ROOTSIDE_UNITS).split(u';', Qt::SkipEmptyParts);
}

// The jobs, in the units' order: what comes before the kind.
QStringList jobNames() {
    QStringList jobs;
    for (const QString& key : unitKeys()) {
        const QString job = key.section(u'.', 0, 0);
        if (!jobs.contains(job)) jobs << job;
    }
    return jobs;
}

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

// ---- macOS --------------------------------------------------------------------------------------

QString xmlEscape(const QString& text) {
    return text.toHtmlEscaped();
}

} // namespace

RootSide::RootSide(RootPlatform platform, RootLayout layout)
    : m_platform(platform), m_layout(std::move(layout)) {}

QString RootSide::label(const QString& job) {
    return QStringLiteral(MIVRA_ROOTSIDE_LABEL) + u'.' + job;
}

QStringList RootSide::linuxUnits() {
    QStringList units;
    for (const QString& key : unitKeys())
        units << label(key);
    return units;
}

QString RootSide::linuxUnit(const QString& jobAndKind) {
    Q_ASSERT(unitKeys().contains(jobAndKind));
    return label(jobAndKind);
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

QString RootSide::platformPart(const QString& name) const {
    return part((m_platform == RootPlatform::MacOS ? u"macos/"_s : u"linux/"_s) + name);
}

QList<std::pair<QString, QString>> RootSide::jobNameFills() const {
    Fills fills;
    if (m_platform == RootPlatform::Linux) {
        for (const QString& key : unitKeys())
            fills.append({u'@' + key + u'@', label(key)});
        return fills;
    }
    for (const QString& job : jobNames())
        fills << std::pair{u'@' + job + u".plist@"_s, label(job) + u".plist"_s}
              << std::pair{u'@' + job + u".label@"_s, label(job)};
    return fills << std::pair{u"@JOBS@"_s, jobNames().join(u' ')}
                 << std::pair{u"@LABEL@"_s, QStringLiteral(MIVRA_ROOTSIDE_LABEL)};
}

QString RootSide::applierScript() const {
    const RootLayout& l = m_layout;
    const bool mac = m_platform == RootPlatform::MacOS;
    // The hosts file's replacement, and on Linux the cutting of open connections.
    QString functions = platformPart(u"replace-hosts.sh"_s);
    if (!mac) functions += u"\n\n"_s + part(u"linux/cut-connections.sh"_s);
    return fill(templateText(u"lockup-apply.sh"_s),
                Fills{{u"@HEAD@"_s, platformPart(u"applier-head.sh"_s)},
                      {u"@REPLACE@"_s, functions},
                      {u"@RESOLVE@\n"_s, mac ? QString() : part(u"linux/resolve-fresh.sh"_s) + u'\n'},
                      {u"@CUT@\n"_s, mac ? QString() : part(u"linux/cut-open.sh"_s) + u'\n'},
                      {u"@FINISH@\n"_s, mac ? QString() : u"finish_hosts\n"_s},
                      {u"@FLUSH@"_s, platformPart(u"flush-caches.sh"_s)},
                      {u"@NOW@"_s, platformPart(u"now.sh"_s)},
                      {u"@FLOCK@"_s, platformPart(u"flock.sh"_s)},
                      {u"@READ@"_s, platformPart(u"read-lockup.sh"_s)},
                      {u"@STOPDAEMON@"_s, platformPart(u"stop-daemon.sh"_s)},
                      {u"@HELD@"_s, part(u"held-lines.awk"_s)},
                      {u"@NOEOL@"_s, part(u"no-line-end.sh"_s)},
                      {u"@OUT@"_s, part(u"out-lines.awk"_s)}} +
                    jobNameFills() +
                    Fills{{u"@WHO@"_s, u"lockup-apply"_s},
                          {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                          {u"@CONF@"_s, shellQuote(l.lockupFile())},
                          {u"@HOSTS@"_s, shellQuote(l.hostsFile)},
                          {u"@BEGIN@"_s, shellQuote(beginMarker)},
                          {u"@END@"_s, shellQuote(endMarker)},
                          {u"@FLAG@"_s, shellQuote(l.flagFile())},
                          {u"@LOCKFILE@"_s, shellQuote(l.lockFile())}});
}

QList<RootFile> RootSide::jobFiles() const {
    const RootLayout& l = m_layout;
    QList<RootFile> files;
    if (m_platform == RootPlatform::Linux) {
        const Fills values = jobNameFills() + Fills{{u"@CONF@"_s, unitValue(l.lockupFile())},
                                                    {u"@FLAG@"_s, unitValue(l.flagFile())},
                                                    {u"@APPLIER@"_s, unitWord(l.applier())},
                                                    {u"@DAEMON@"_s, unitWord(l.daemon())},
                                                    {u"@HELPER_LOG@"_s, unitValue(l.helperLog())},
                                                    {u"@BLOCKPAGE_LOG@"_s, unitValue(l.blockpageLog())}};
        for (const QString& key : unitKeys())
            files.append({label(key), fill(templateText(u"linux/units/"_s + key), values)});
        return files;
    }
    const Fills values = jobNameFills() + Fills{{u"@CONF@"_s, xmlEscape(l.lockupFile())},
                                                {u"@FLAG@"_s, xmlEscape(l.flagFile())},
                                                {u"@APPLIER@"_s, xmlEscape(l.applier())},
                                                {u"@DAEMON@"_s, xmlEscape(l.daemon())},
                                                {u"@HELPER_LOG@"_s, xmlEscape(l.helperLog())},
                                                {u"@BLOCKPAGE_LOG@"_s, xmlEscape(l.blockpageLog())}};
    for (const QString& job : jobNames())
        files.append({label(job) + u".plist"_s, fill(templateText(u"macos/"_s + job + u".plist"_s), values)});
    return files;
}

QStringList RootSide::enabledJobs() const {
    if (m_platform == RootPlatform::MacOS) {
        QStringList out;
        for (const QString& job : jobNames())
            out << label(job);
        return out;
    }
    // What starts each service: its path or timer unit.
    QStringList out;
    for (const QString& unit : linuxUnits())
        if (!unit.endsWith(u".service"_s)) out << unit;
    return out;
}

QString RootSide::installScript(const QString& stagingDirectory, const StagedDigests& digests) const {
    const RootLayout& l = m_layout;
    if (m_platform == RootPlatform::MacOS)
        return fill(templateText(u"macos/install.sh"_s),
                    jobNameFills() + Fills{{u"@SYS@"_s, shellQuote(l.stateDirectory)},
                                           {u"@LD@"_s, shellQuote(l.jobDirectory)},
                                           {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                                           {u"@OWNER@"_s, QString::number(::getuid())},
                                           {u"@VERSION@"_s, QString::number(RootSide::helperVersion)}});
    QStringList take;
    for (auto it = digests.begin(); it != digests.end(); ++it)
        take << u"take "_s + shellQuote(it.key()) + u' ' + QString::fromLatin1(it.value().toHex());
    return fill(templateText(u"linux/install.sh"_s),
                Fills{{u"@TRAP@"_s, part(u"linux/exit-trap.sh"_s)},
                      {u"@CLAIM@"_s, part(u"linux/claim-lockup.sh"_s)}} +
                    jobNameFills() +
                    Fills{{u"@UNITLIST@"_s, linuxUnits().join(u' ')},
                          {u"@ENABLED@"_s, enabledJobs().join(u' ')},
                          {u"@LIBEXEC@"_s, shellQuote(l.libexecDirectory)},
                          {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                          {u"@LOGS@"_s, shellQuote(l.logDirectory)},
                          {u"@UNITS@"_s, shellQuote(l.jobDirectory)},
                          {u"@STAGE@"_s, shellQuote(stagingDirectory)},
                          {u"@TAKE@"_s, take.join(u'\n')},
                          {u"@VERSION@"_s, QString::number(RootSide::helperVersion)}});
}

QString RootSide::claimScript() const {
    return fill(templateText(u"linux/claim.sh"_s), {{u"@TRAP@"_s, part(u"linux/exit-trap.sh"_s)},
                                                    {u"@CLAIM@"_s, part(u"linux/claim-lockup.sh"_s)},
                                                    {u"@STATE@"_s, shellQuote(m_layout.stateDirectory)}});
}

QString RootSide::removalScript() const {
    const RootLayout& l = m_layout;
    // Nothing is in force any more: held lines only come back. The awk program sits one level
    // deeper here than in the applier.
    const QString strip = fill(part(u"strip-hosts.sh"_s),
                               {{u"@FLUSH@"_s, platformPart(u"flush-caches.sh"_s)},
                                {u"@HELD@"_s, part(u"held-lines.awk"_s).replace(u"    "_s, u"        "_s)},
                                {u"@NOEOL@"_s, part(u"no-line-end.sh"_s)},
                                {u"@OUT@"_s, part(u"out-lines.awk"_s).replace(u"    "_s, u"        "_s)}});
    const Fills structure = {{u"@REPLACE@"_s, platformPart(u"replace-hosts.sh"_s)}, {u"@STRIP@"_s, strip}};
    const Fills paths = {{u"@WHO@"_s, u"remove"_s},
                         {u"@HOSTS@"_s, shellQuote(l.hostsFile)},
                         {u"@BEGIN@"_s, shellQuote(beginMarker)},
                         {u"@END@"_s, shellQuote(endMarker)}};
    if (m_platform == RootPlatform::MacOS)
        return fill(templateText(u"macos/remove.sh"_s), structure + jobNameFills() + paths +
                                                            Fills{{u"@SYS@"_s, shellQuote(l.stateDirectory)},
                                                                  {u"@LD@"_s, shellQuote(l.jobDirectory)}});
    QStringList services;
    for (const QString& unit : linuxUnits())
        if (unit.endsWith(u".service"_s)) services << unit;
    return fill(templateText(u"linux/remove.sh"_s),
                structure + jobNameFills() + paths +
                    Fills{{u"@SERVICES@"_s, services.join(u' ')},
                          {u"@TRIGGERS@"_s, enabledJobs().join(u' ')},
                          {u"@UNITLIST@"_s, linuxUnits().join(u' ')},
                          {u"@ENABLED@"_s, enabledJobs().join(u' ')},
                          {u"@LIBEXEC@"_s, shellQuote(l.libexecDirectory)},
                          {u"@STATE@"_s, shellQuote(l.stateDirectory)},
                          {u"@LOGS@"_s, shellQuote(l.logDirectory)},
                          {u"@UNITS@"_s, shellQuote(l.jobDirectory)}});
}
