// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether the application starts with the user's session, and switching it.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Registers or unregisters the item; false with a readable reason in `error` when it failed.
    virtual bool enable(QString& error) = 0;
    virtual bool disable(QString& error) = 0;
};

// Brings the login item to `on`: nothing to do when it already is. A failure writes one line,
// "Mivra login item error: <reason>", to standard error. Tells whether the item now agrees.
bool setLaunchAtLogin(LoginItem& item, bool on);
