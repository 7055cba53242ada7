// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/privilegedrunner.h"

// Runs a script as root through pkexec, which asks the desktop's authentication agent.
// pkexec exits with 126 when the person dismisses the prompt and with 127 when authorisation fails.
class PkexecRunner final : public PrivilegedRunner {
public:
    // `program` is the pkexec to start, found on PATH when it holds no slash.
    explicit PkexecRunner(QString program = QStringLiteral("pkexec")) : m_program(std::move(program)) {}
    PrivilegedResult run(const QString& scriptPath) override;
    // Hands the text to bash in pkexec's arguments (`bash -c TEXT PATH`).
    PrivilegedResult runScript(const QString& scriptPath, const QString& scriptText) override;
    // `pkexec PROGRAM`: the prompt is the one of the polkit action whose exec.path names it.
    PrivilegedResult runProgram(const QString& program) override;

private:
    PrivilegedResult start(const QStringList& arguments);
    QString m_program;
};
