// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/logindsleepwatch.h"

using namespace Qt::StringLiterals;

LogindSleepWatch::LogindSleepWatch(const QDBusConnection& bus, QObject* parent) : SleepWatch(parent) {
    if (!bus.isConnected()) return;
    // QtDBus subscribes by signature string only.
    QDBusConnection c = bus;
    m_watching = c.connect(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                           u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, this,
                           SLOT(prepareForSleep(bool)));
}

void LogindSleepWatch::prepareForSleep(bool goingToSleep) {
    if (!goingToSleep) emit resumed();
}
