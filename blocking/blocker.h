// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/helperstate.h"
#include "blocking/rootlayout.h"
#include "blocking/rootside.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class PrivilegedRunner;
struct PrivilegedResult;

// The application's side of the root helper: knows whether it is installed, writes the lockup file
// the root side follows, and installs or removes the helper.
class Blocker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool installed READ installed NOTIFY installedChanged)
    // False while an installed helper's lockup file is not this user's to write (a distribution
    // package put it there): the install control then asks once to hand it over.
    Q_PROPERTY(bool lockupWritable READ lockupWritable NOTIFY installedChanged)
    // True when a distribution package holds the helper: the application neither installs a
    // second one nor removes it.
    Q_PROPERTY(bool packaged READ packaged NOTIFY installedChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
public:
    static constexpr int helperVersion = RootSide::helperVersion;

    Blocker(RootLayout layout, QString stagingDirectory, PrivilegedRunner& runner, QObject* parent = nullptr);

    bool installed() const { return m_installed; }
    bool lockupWritable() const { return m_lockupWritable; }
    bool packaged() const { return m_packaged; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }

    // Re-reads the helper's state and publishes `installed`, `lockupWritable` and `packaged`.
    // A packaged helper counts as installed only while its units are enabled.
    void refresh();

    // Writes the lockup file in place: redirect line, expiry line, one site per line.
    // Nothing happens while the helper is not installed.
    void apply(const QStringList& sites, const std::optional<QDateTime>& expires, bool blockPage);

    // Install or remove the root side; the work runs off the GUI thread and `completion` is called
    // on it afterwards. With the helper installed but its lockup file not writable here, install
    // only hands the file to this user (a packaged helper: through the package's own polkit
    // action). A packaged helper is never installed a second time nor removed from here: the
    // completion gets false and `lastError` says what to do instead.
    void install(std::function<void(bool)> completion);
    void uninstall(std::function<void(bool)> completion);
    // What Remove says when a distribution package holds the helper.
    static QString packageOwnsHelperText();

    // Stages the helper's files, runs `script` as root, and tells whether it exited with status 0.
    // Blocks; called off the GUI thread.
    bool runPrivileged(const QString& script);

    // Where the daemon executable is staged from, the first that exists. By default: beside the
    // running executable, then the install prefix's libexec folder.
    void setDaemonCandidates(QStringList paths) { m_daemonCandidates = std::move(paths); }
    QStringList daemonCandidates() const;

signals:
    void installedChanged();
    void lastErrorChanged();

private:
    struct RunOutcome;
    struct StagePlan;

    void setInstalled(bool on, bool writable, bool packaged);
    // Tells the person why nothing ran, then calls `completion` with false on the event loop.
    void refuse(const QString& message, std::function<void(bool)> completion);
    void setLastError(const std::optional<QString>& text);
    StagePlan stagePlan() const;
    // Stages the helper's files and runs `script`; touches nothing of the Blocker, so it may run
    // on a worker thread.
    // The script may depend on the digests of what was staged.
    using ScriptFor = std::function<QString(const StagedDigests&)>;
    static RunOutcome stageAndRun(PrivilegedRunner& runner, const StagePlan& plan, const ScriptFor& script);
    // Runs the script on a worker thread; the outcome, `refresh()` and `completion` follow on the GUI thread.
    void startRun(ScriptFor script, bool installing, std::function<void(bool)> completion);
    // Runs `program` as root, staging nothing; otherwise as startRun.
    void startProgram(QString program, std::function<void(bool)> completion);
    void finishRun(const RunOutcome& outcome, bool installing, const std::function<void(bool)>& completion);
    static RunOutcome outcomeOf(const PrivilegedResult& result);
    void publish(const RunOutcome& outcome);

    RootLayout m_layout;
    QString m_stagingDirectory;
    PrivilegedRunner& m_runner;
    bool m_installed = false;
    bool m_lockupWritable = false;
    bool m_packaged = false;
    HelperState m_state;
    std::optional<QString> m_lastError;
    QStringList m_daemonCandidates;
};

// The lockup file's bytes for a site list (empty list: no bytes). Sites that would read as a
// directive or break the file's lines are left out.
QByteArray lockupFileContent(const QStringList& sites, const std::optional<QDateTime>& expires,
                             bool blockPage);
