// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Outcome of running a script as root.
struct PrivilegedResult {
    bool started = false; // the elevation tool could be started
    QString startError;   // why it could not, when it could not
    int exitCode = -1;    // the script's (or the elevation tool's) exit status
    QByteArray standardError;
};

// Runs a staged script as root after asking the user for authorisation.
// run() blocks until the script has finished; it is called off the GUI thread.
class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    virtual PrivilegedResult run(const QString& scriptPath) = 0;
    // Runs `scriptText`, which is also staged at `scriptPath`. A runner that can hand the text
    // itself to the privileged side does so, so that nothing the user can change between the
    // prompt and the run is read as root.
    virtual PrivilegedResult runScript(const QString& scriptPath, const QString& scriptText) {
        (void)scriptText;
        return run(scriptPath);
    }
    // Runs an installed program as root (pkexec then asks under the polkit action that names it).
    virtual PrivilegedResult runProgram(const QString& program) { return run(program); }
};
