// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/loginitem.h"

#include <cstdio>

bool setLaunchAtLogin(LoginItem& item, bool on) {
    if (item.isEnabled() == on) return true;
    QString error;
    const bool done = on ? item.enable(error) : item.disable(error);
    if (!done) {
        const QByteArray line = QStringLiteral("Mivra login item error: %1\n").arg(error).toUtf8();
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        return false;
    }
    return item.isEnabled() == on;
}
