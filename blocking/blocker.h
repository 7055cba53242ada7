#pragma once

#include "blocking/rootlayout.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class PrivilegedRunner;

// The application's side of the root helper: knows whether it is installed, writes the lockup file
// the root side follows, and installs or removes the helper.
class Blocker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool installed READ installed NOTIFY installedChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
public:
    // The version the installer writes; a helper older than this is not accepted.
    static constexpr int helperVersion = 3;

    Blocker(RootLayout layout, QString stagingDirectory, PrivilegedRunner& runner, QObject* parent = nullptr);

    bool installed() const { return m_installed; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }
    const RootLayout& layout() const { return m_layout; }
    QString stagingDirectory() const { return m_stagingDirectory; }

    // Re-reads the version file and publishes `installed`.
    void refresh();

    // Writes the lockup file in place: redirect line, expiry line, one site per line.
    // Nothing happens while the helper is not installed.
    void apply(const QStringList& sites, const std::optional<QDateTime>& expires, bool blockPage);

    // Install or remove the root side; the work runs off the GUI thread and `completion` is called
    // on it afterwards.
    void install(std::function<void(bool)> completion);
    void uninstall(std::function<void(bool)> completion);

    // Stages the helper's files, runs `script` as root, and tells whether it exited with status 0.
    // Blocks; called off the GUI thread.
    bool runPrivileged(const QString& script);

signals:
    void installedChanged();
    void lastErrorChanged();

private:
    void setInstalled(bool on);
    void setLastError(const std::optional<QString>& text);

    RootLayout m_layout;
    QString m_stagingDirectory;
    PrivilegedRunner& m_runner;
    bool m_installed = false;
    std::optional<QString> m_lastError;
};

// The lockup file's bytes for a site list (empty list: no bytes). Sites that would read as a
// directive or break the file's lines are left out.
QByteArray lockupFileContent(const QStringList& sites, const std::optional<QDateTime>& expires, bool blockPage);

// Parses a version file's text; -1 when it holds no plain signed decimal integer.
qint64 parseHelperVersion(const QByteArray& bytes);
