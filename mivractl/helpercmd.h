// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/helperstate.h"

#include <QString>

class PrivilegedRunner;

namespace Ctl {

// `mivractl helper status`: one line saying who installed the root helper and whether it runs.
// Exit: 0 installed and enabled, 1 installed but its units disabled, 3 not installed.
int helperStatus(const RootLayout& layout, const QString& lang, QString& line);

// `mivractl helper remove`: what the settings panel's Remove does. A helper the package holds is
// left to the package (exit 1 with the message); no helper: nothing to do (exit 0).
int helperRemove(const RootLayout& layout, const QString& stagingDirectory, PrivilegedRunner& runner,
                 const QString& lang, QString& message);

} // namespace Ctl
