// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/pkexecrunner.h"

#include <QProcess>
#include <QProcessEnvironment>

using namespace Qt::StringLiterals;

PrivilegedResult PkexecRunner::run(const QString& scriptPath) {
    return start({u"--disable-internal-agent"_s, u"/bin/bash"_s, scriptPath});
}

PrivilegedResult PkexecRunner::runScript(const QString& scriptPath, const QString& scriptText) {
    // The path names the script in bash's messages ($0).
    return start({u"--disable-internal-agent"_s, u"/bin/bash"_s, u"-c"_s, scriptText, scriptPath});
}

PrivilegedResult PkexecRunner::runProgram(const QString& program) {
    return start({u"--disable-internal-agent"_s, program});
}

PrivilegedResult PkexecRunner::start(const QStringList& arguments) {
    // A clean environment: nothing of the session leaks into the root side, only where to find
    // programs. The script is read by bash, so it needs no execute permission.
    QProcessEnvironment env;
    const QString path = qEnvironmentVariable("PATH");
    env.insert(u"PATH"_s, path.isEmpty() ? u"/usr/sbin:/usr/bin:/sbin:/bin"_s : path);

    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProgram(m_program);
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(-1)) return {false, process.errorString(), -1, {}};

    process.waitForFinished(-1);
    PrivilegedResult result;
    result.started = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardError = process.readAllStandardError();
    return result;
}
