// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/rootlayout-config.h"

#include <QString>

// Where the root side keeps its files. Every root-side path is taken from here, so tests can point
// the application at a temporary folder and the macOS layout can sit beside the Linux one. The Linux
// folders come from the build's configuration (rootlayout-config.h).
struct RootLayout {
    QString libexecDirectory; // applier script and daemon executable
    QString stateDirectory;   // lockup file, version file, block-page flag
    QString logDirectory;
    QString hostsFile;
    QString jobDirectory; // systemd units (Linux) or launchd property lists (macOS)
    // Linux: where a distribution package keeps its helper, and where enabling a unit leaves its
    // links. A helper found there belongs to the package: the application neither installs a
    // second one nor removes it.
    QString packageLibexecDirectory = {};
    QString packageUnitDirectory = {};
    QString enableDirectory = {};

    QString applier() const { return libexecDirectory + QStringLiteral("/lockup-apply.sh"); }
    QString daemon() const { return libexecDirectory + QStringLiteral("/mivra-blockpage"); }
    QString lockupFile() const { return stateDirectory + QStringLiteral("/lockup.conf"); }
    QString versionFile() const { return stateDirectory + QStringLiteral("/version"); }
    QString flagFile() const { return stateDirectory + QStringLiteral("/blockpage.on"); }
    // Held by every run that may rewrite the hosts file, so that one runs at a time.
    QString lockFile() const { return stateDirectory + QStringLiteral("/apply.lock"); }
    QString helperLog() const { return logDirectory + QStringLiteral("/helper.log"); }
    QString blockpageLog() const { return logDirectory + QStringLiteral("/blockpage.log"); }
    // Run through pkexec under the package's own polkit action: hands the lockup file to the user.
    QString claimProgram() const { return packageLibexecDirectory + QStringLiteral("/mivra-claim-lockup"); }

    // As this build was configured: the application's own install uses /usr/local/libexec/mivra and
    // /etc/systemd/system; a distribution package's build names its own folders.
    static RootLayout linuxLayout() {
        return {QStringLiteral(MIVRA_HELPER_LIBEXECDIR), QStringLiteral("/var/lib/mivra"),
                QStringLiteral("/var/log/mivra"),        QStringLiteral("/etc/hosts"),
                QStringLiteral(MIVRA_HELPER_UNITDIR),    QStringLiteral(MIVRA_PACKAGE_LIBEXECDIR),
                QStringLiteral(MIVRA_PACKAGE_UNITDIR),   QStringLiteral("/etc/systemd/system")};
    }
    // One system folder holds everything; the jobs live with the system's other daemons.
    static RootLayout macLayout() {
        const QString sys = QStringLiteral("/Library/Application Support/Mivra");
        return {sys, sys, sys, QStringLiteral("/etc/hosts"), QStringLiteral("/Library/LaunchDaemons")};
    }
    // The same layout with every folder moved under `root` (for tests).
    static RootLayout under(const QString& root) {
        return {root + QStringLiteral("/libexec"),   root + QStringLiteral("/state"),
                root + QStringLiteral("/log"),       root + QStringLiteral("/hosts"),
                root + QStringLiteral("/units"),     root + QStringLiteral("/pkg-libexec"),
                root + QStringLiteral("/pkg-units"), root + QStringLiteral("/units")};
    }
};
