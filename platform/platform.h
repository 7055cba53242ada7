// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/rootlayout.h"

#include <QString>

class Clock;
class Defaults;
class Notifier;
class Sound;
class Workspace;
class PrivilegedRunner;
class CalendarStore;
class SleepWatch;

// The seams the engine runs on. The engine borrows them; whoever builds the engine owns them.
struct Platform {
    Clock& clock;
    Defaults& defaults;
    Notifier& notifier;
    Sound& sound;
    Workspace& workspace;
    PrivilegedRunner& runner;
    CalendarStore& calendarStore;
    RootLayout rootLayout;
    QString dataDirectory;            // where the JSON stores live
    SleepWatch* sleepWatch = nullptr; // where the platform reports wakes from sleep
};
