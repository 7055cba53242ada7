// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocking/blocker.h"

#include "engine/loc.h"
#include "engine/records.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <unistd.h>

using namespace Qt::StringLiterals;

Blocker::Blocker(RootLayout layout, QString stagingDirectory, PrivilegedRunner& runner, QObject* parent)
    : QObject(parent), m_layout(std::move(layout)), m_stagingDirectory(std::move(stagingDirectory)),
      m_runner(runner) {}

void Blocker::refresh() {
    m_state = readHelperState(m_layout);
    const bool writable = ::access(QFile::encodeName(m_layout.lockupFile()).constData(), W_OK) == 0;
    setInstalled(m_state.installed(), writable, m_state.packaged);
}

namespace {
// A site the root side would take for a directive, or one that would split or corrupt a line.
bool unsafeSite(const QString& site) {
    if (site.startsWith(u'#')) return true;
    for (QChar c : site)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar(0x85) || c == QChar(0x2028) ||
            c == QChar(0x2029))
            return true;
    return false;
}
} // namespace

QByteArray lockupFileContent(const QStringList& sites, const std::optional<QDateTime>& expires,
                             bool blockPage) {
    if (sites.isEmpty()) return {};
    QByteArray head = blockPage ? "#redirect 127.0.0.1\n"_ba : "#redirect 0.0.0.0\n"_ba;
    if (expires) {
        // Whole seconds, truncated toward zero (also before 1970).
        const qint64 ms = expires->toMSecsSinceEpoch();
        head += "#expires " + QByteArray::number(ms / 1000) + '\n';
    }
    // Entries stored before the parser knew ports, user information, international names or
    // trailing dots are written in the host-name form the hosts file can match. Encoded site by site
    // into one buffer: a long lockup costs no copies of the whole text.
    QStringList hosts;
    hosts.reserve(sites.size());
    QStringEncoder utf8(QStringEncoder::Utf8);
    qsizetype room = head.size();
    for (const QString& site : sites) {
        if (unsafeSite(site)) continue;
        QString host = hostFormOf(site);
        if (host.isEmpty()) continue;
        room += utf8.requiredSpace(host.size()) + 1;
        hosts.append(std::move(host));
    }
    QByteArray out(room, Qt::Uninitialized);
    char* at = std::copy(head.cbegin(), head.cend(), out.data());
    for (const QString& host : std::as_const(hosts)) {
        at = utf8.appendToBuffer(at, host);
        *at++ = '\n';
    }
    out.truncate(at - out.data());
    return out;
}

void Blocker::apply(const QStringList& sites, const std::optional<QDateTime>& expires, bool blockPage) {
    if (!m_installed) return;
    const QByteArray content = lockupFileContent(sites, expires, blockPage);
    // In place: the root side watches this very file, and the user may not write its folder.
    QFile f(m_layout.lockupFile());
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (ok) ok = f.write(content) == content.size();
    if (ok) ok = f.flush();
    if (!ok) {
        setLastError(
            pick(u"Couldn't update the lockup: "_s, u"Impossible de mettre à jour le périmètre : "_s) +
            f.errorString());
    }
}

void Blocker::setInstalled(bool on, bool writable, bool packaged) {
    if (m_installed == on && m_lockupWritable == writable && m_packaged == packaged) return;
    m_installed = on;
    m_lockupWritable = writable;
    m_packaged = packaged;
    emit installedChanged();
}

void Blocker::setLastError(const std::optional<QString>& text) {
    if (m_lastError == text) return;
    m_lastError = text;
    emit lastErrorChanged();
}
