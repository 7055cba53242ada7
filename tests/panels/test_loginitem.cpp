// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/autostartloginitem.h"

#include "fakes/fakes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(AutostartEntry, EnabledUnlessHiddenOrSwitchedOffAndExecQuoted) {
    const std::pair<const char*, bool> entries[] = {
        {"[Desktop Entry]\nType=Application\nExec=mivra\n", true},
        {"[Desktop Entry]\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = True\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n", true},
        {"[Desktop Entry]\nExec=mivra\n[Desktop Action quit]\nHidden=true\n", true},
        {"[Desktop Entry]\n# Hidden=true\n", true},
        {"", true},
    };
    for (const auto& [text, enabled] : entries)
        EXPECT_EQ(autostartEntryEnabled(text), enabled) << text;
    const std::pair<const char*, const char*> execs[] = {
        {"/usr/bin/mivra", "Exec=/usr/bin/mivra\n"},
        {"/home/a b/mivra", "Exec=\"/home/a b/mivra\"\n"},
        {"/opt/100%/mivra", "Exec=/opt/100%%/mivra\n"},
        {"/opt/$x\"q/mivra", "Exec=\"/opt/\\\\$x\\\\\"q/mivra\"\n"},
    };
    for (const auto& [path, line] : execs) {
        const QString text = QString::fromUtf8(autostartEntryText(QString::fromUtf8(path)));
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << text.toStdString();
    }
}

TEST(AutostartLoginItem, StartsTheInstalledMivraWhenThereIsOne) {
    QTemporaryDir dir;
    const QString installed = dir.path() + u"/mivra"_s, running = u"/src/build/app/mivra"_s;
    EXPECT_EQ(autostartExecutable(running, installed), running);
    ASSERT_TRUE(writeFile(installed, "#!/bin/sh\n"));
    EXPECT_EQ(autostartExecutable(running, installed), running) << "not executable";
    QFile::setPermissions(installed, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(autostartExecutable(running, installed), installed);
    EXPECT_EQ(autostartExecutable(running, dir.path()), running) << "a folder";
}

TEST(AutostartLoginItem, SwitchesTheFileReadsItBackAndFailsWithOneLine) {
    QTemporaryDir dir;
    const QString autostart = dir.path() + u"/config/autostart"_s;
    AutostartLoginItem item(autostart, u"/usr/bin/mivra"_s);
    EXPECT_EQ(item.entryPath(), autostart + u"/app.oriflan.mivra.desktop"_s);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_TRUE(setLaunchAtLogin(item, true));
    EXPECT_TRUE(item.isEnabled());
    EXPECT_TRUE(setLaunchAtLogin(item, true));
    // Switched off by the desktop's own settings: switching on writes a fresh entry.
    writeFile(item.entryPath(), "[Desktop Entry]\nExec=/usr/bin/mivra\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(item.isEnabled());
    EXPECT_TRUE(setLaunchAtLogin(item, true));
    EXPECT_TRUE(item.isEnabled());
    EXPECT_TRUE(setLaunchAtLogin(item, false));
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    EXPECT_TRUE(setLaunchAtLogin(item, false));

    QTemporaryDir blocked;
    writeFile(blocked.path() + u"/config"_s, "a file where the folder should be");
    AutostartLoginItem refused(blocked.path() + u"/config/autostart"_s, u"/usr/bin/mivra"_s);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setLaunchAtLogin(refused, true));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Mivra login item error: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_FALSE(refused.isEnabled());
}
