// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calendar/ical/icalstore.h"
#include "platform/linux/calendarreaderstore.h"
#include "platform/linux/canberrasound.h"
#include "platform/linux/dbusnotifier.h"
#include "platform/linux/edscalendarstore.h"
#include "platform/linux/logindsleepwatch.h"
#include "platform/linux/mergedcalendarstore.h"
#include "platform/linux/pkexecrunner.h"
#include "platform/linux/procworkspace.h"
#include "platform/linux/settingsdefaults.h"
#include "platform/linux/systemclock.h"
#include "platform/platform.h"

#include <memory>

// Owns the Linux implementations of every seam for the life of the process.
class LinuxPlatform {
public:
    LinuxPlatform();

    // The per-user data folder: ~/.local/share/Mivra (or $XDG_DATA_HOME/Mivra).
    static QString dataDirectory();

    Platform view();

    SystemClock clock;
    SettingsDefaults defaults;
    DBusNotifier notifier;
    CanberraSound sound;
    ProcWorkspace workspace;
    PkexecRunner runner;
    LogindSleepWatch sleepWatch;
    // The calendar files, read by a process of its own.
    CalendarReaderStore calendarFiles{defaults};
    // With the desktop's calendar server on the session bus, its calendars join the files'.
    std::unique_ptr<EdsCalendarStore> calendarServer;
    std::unique_ptr<MergedCalendarStore> mergedCalendars;
    CalendarStore* calendarStore = &calendarFiles;
};
