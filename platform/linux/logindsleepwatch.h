// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/sleepwatch.h"

#include <QDBusConnection>

// The login manager's PrepareForSleep signal on the system bus: its `false` means the machine has
// just woken. Where there is no system bus (or no login manager), nothing is ever reported.
class LogindSleepWatch final : public SleepWatch {
    Q_OBJECT
public:
    explicit LogindSleepWatch(const QDBusConnection& bus = QDBusConnection::systemBus(),
                              QObject* parent = nullptr);
    bool watching() const override { return m_watching; }

private slots:
    void prepareForSleep(bool goingToSleep);

private:
    bool m_watching = false;
};
