// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/autostartloginitem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
const QString kEntryName = QStringLiteral("app.oriflan.mivra.desktop");

// An Exec= argument: quoted when it holds anything beyond plain path characters, with the
// characters that stay special inside quotes escaped, and field codes doubled.
QString execArgument(const QString& path) {
    QString escaped;
    bool needsQuotes = path.isEmpty();
    for (const QChar c : path) {
        if (c == u'%') {
            escaped += QStringLiteral("%%");
            continue;
        }
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            escaped += u'\\';
            needsQuotes = true;
        } else if (!(c.isLetterOrNumber() || c == u'/' || c == u'.' || c == u'-' || c == u'_' || c == u'+')) {
            needsQuotes = true;
        }
        escaped += c;
    }
    // Inside quotes a backslash itself is written twice more by the desktop entry's string escaping.
    if (needsQuotes) escaped.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return needsQuotes ? u'"' + escaped + u'"' : escaped;
}
} // namespace

bool autostartEntryEnabled(const QByteArray& text) {
    bool inEntry = false;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry || line.startsWith('#')) continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed().toLower();
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

QByteArray autostartEntryText(const QString& executable) {
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Mivra\n"
                                  "Exec=") +
                   execArgument(executable) +
                   QStringLiteral("\n"
                                  "Icon=mivra\n"
                                  "Terminal=false\n"
                                  "NoDisplay=true\n"
                                  "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

#ifndef MIVRA_INSTALLED_BINARY
#define MIVRA_INSTALLED_BINARY "/usr/bin/mivra"
#endif

QString autostartExecutable(const QString& running, const QString& installed) {
    const QFileInfo info(installed);
    return info.isFile() && info.isExecutable() ? installed : running;
}

AutostartLoginItem::AutostartLoginItem()
    : AutostartLoginItem(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                             QStringLiteral("/autostart"),
                         autostartExecutable(QCoreApplication::applicationFilePath(),
                                             QStringLiteral(MIVRA_INSTALLED_BINARY))) {}

AutostartLoginItem::AutostartLoginItem(QString autostartDir, QString executable)
    : m_dir(std::move(autostartDir)), m_executable(std::move(executable)) {}

QString AutostartLoginItem::entryPath() const {
    return m_dir + u'/' + kEntryName;
}

bool AutostartLoginItem::isEnabled() const {
    QFile f(entryPath());
    if (!f.open(QIODevice::ReadOnly)) return false;
    return autostartEntryEnabled(f.readAll());
}

bool AutostartLoginItem::enable(QString& error) {
    if (!QDir().mkpath(m_dir)) {
        error = QStringLiteral("cannot create %1").arg(m_dir);
        return false;
    }
    QSaveFile f(entryPath());
    if (!f.open(QIODevice::WriteOnly) || f.write(autostartEntryText(m_executable)) < 0 || !f.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(entryPath(), f.errorString());
        return false;
    }
    return true;
}

bool AutostartLoginItem::disable(QString& error) {
    QFile f(entryPath());
    if (!f.exists() || f.remove()) return true;
    error = QStringLiteral("cannot remove %1: %2").arg(entryPath(), f.errorString());
    return false;
}
