#pragma once

#include <QByteArray>
#include <QString>

// Outcome of running a script as root.
struct PrivilegedResult {
    bool started = false;   // the elevation tool could be started
    QString startError;     // why it could not, when it could not
    int exitCode = -1;      // the script's (or the elevation tool's) exit status
    QByteArray standardError;
};

// Runs a staged script as root after asking the user for authorisation.
// run() blocks until the script has finished; it is called off the GUI thread.
class PrivilegedRunner {
public:
    virtual ~PrivilegedRunner() = default;
    virtual PrivilegedResult run(const QString& scriptPath) = 0;
};
