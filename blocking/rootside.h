// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/rootlayout.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <utility>

// The root side's texts: the hosts applier, the job files that run it and the block page daemon,
// and the scripts that install and remove them. One generator fills the templates of
// blocking/rootside/ for both platforms; Linux runs them (systemd units, pkexec), macOS gets
// launchd property lists and launchctl.
enum class RootPlatform { Linux, MacOS };

// The platform this build installs on.
constexpr RootPlatform hostRootPlatform() {
#if defined(Q_OS_MACOS)
    return RootPlatform::MacOS;
#else
    return RootPlatform::Linux;
#endif
}

// One file of the root side: its name inside the job directory, and its text.
struct RootFile {
    QString name;
    QString text;
};

// The SHA-256 of each staged file, by file name.
using StagedDigests = QMap<QString, QByteArray>;

class RootSide {
public:
    // The version the installer writes; a helper older than this is not accepted.
    static constexpr int helperVersion = 3;

    RootSide(RootPlatform platform, RootLayout layout);

    // The markers around the block the applier keeps at the end of the hosts file.
    static const QString beginMarker;
    static const QString endMarker;
    // A job's name, and the stem of its unit and property list names: the build's label + "." + job.
    static QString label(const QString& job);
    // Every systemd unit, in load order, as the build lists them (MIVRA_ROOTSIDE_UNITS in
    // blocking/CMakeLists.txt): "<label>.<job>.<kind>".
    static QStringList linuxUnits();
    // One of them by job and kind, such as "lockup.path".
    static QString linuxUnit(const QString& jobAndKind);

    // lockup-apply.sh: makes the hosts file follow the lockup file; always exits 0.
    QString applierScript() const;
    // Linux: the systemd units of linuxUnits(); macOS: a launchd property list per job. In load order.
    QList<RootFile> jobFiles() const;
    // The units that are enabled and started (Linux: the path and timer units; macOS: every job).
    QStringList enabledJobs() const;
    // Installs every file staged in `stagingDirectory` and starts the jobs; stops at the first
    // failure with a non-zero status (never 126 or 127 on Linux, which pkexec keeps for itself).
    // On Linux only files whose bytes match `digests` are installed.
    QString installScript(const QString& stagingDirectory, const StagedDigests& digests = {}) const;
    // Linux, with the helper already installed: hands the lockup file to the authorising user.
    QString claimScript() const;
    // Stops the jobs, removes them, takes the marked block out of the hosts file and removes every
    // root-side folder. Carries on past failures and exits 0.
    QString removalScript() const;

    RootPlatform platform() const { return m_platform; }
    const RootLayout& layout() const { return m_layout; }

private:
    // The template `name` of this platform's folder, as a part of another text.
    QString platformPart(const QString& name) const;
    // Each @<job>.<kind>@ of the templates with its unit's (Linux) or property list's (macOS) name.
    QList<std::pair<QString, QString>> jobNameFills() const;

    RootPlatform m_platform;
    RootLayout m_layout;
};

// A word for bash: in double quotes when nothing in it is special there, else in single quotes.
QString shellQuote(const QString& word);

// The AppleScript command that runs `scriptPath` with bash after asking for an administrator.
QString appleScriptCommand(const QString& scriptPath);
