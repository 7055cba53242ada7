#pragma once

#include "platform/privilegedrunner.h"

// Runs a script as root through pkexec, which asks the desktop's authentication agent.
class PkexecRunner final : public PrivilegedRunner {
public:
    PrivilegedResult run(const QString& scriptPath) override;
};
