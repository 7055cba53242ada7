// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/loginitem.h"

#include <QByteArray>
#include <QString>

// The login item as an XDG autostart entry, app.oriflan.mivra.desktop in the user's autostart
// folder. It counts as enabled when the file exists and says neither Hidden=true nor
// X-GNOME-Autostart-enabled=false; disabling removes the file.
class AutostartLoginItem final : public LoginItem {
public:
    // By default the folder is $XDG_CONFIG_HOME/autostart and the command is the installed mivra
    // when there is one (a package's), else this executable.
    AutostartLoginItem();
    AutostartLoginItem(QString autostartDir, QString executable);

    QString entryPath() const;
    bool isEnabled() const override;
    bool enable(QString& error) override;
    bool disable(QString& error) override;

private:
    QString m_dir;
    QString m_executable;
};

// What the login item starts: `installed` when that is an executable file, else `running`.
QString autostartExecutable(const QString& running, const QString& installed);
// Whether an autostart entry's text lets the session start it.
bool autostartEntryEnabled(const QByteArray& text);
// The text of the entry that starts `executable`, quoted as desktop entries want.
QByteArray autostartEntryText(const QString& executable);
