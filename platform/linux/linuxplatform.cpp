// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/linuxplatform.h"

#include <QDir>
#include <QStandardPaths>

LinuxPlatform::LinuxPlatform() {
    if (EdsCalendarStore::serverAvailable()) {
        calendarServer = std::make_unique<EdsCalendarStore>(defaults);
        mergedCalendars = std::make_unique<MergedCalendarStore>(calendarFiles, *calendarServer);
        calendarStore = mergedCalendars.get();
    }
}

QString LinuxPlatform::dataDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Mivra");
}

Platform LinuxPlatform::view() {
    return Platform{clock,           defaults,   notifier,       sound,
                    workspace,       runner,     *calendarStore, RootLayout::linuxLayout(),
                    dataDirectory(), &sleepWatch};
}
