// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Tells when the machine wakes from sleep, where the platform says so. The countdown stands still
// while the machine sleeps and the wall clock does not: whatever was written against the wall clock
// is put right at once instead of at the next tick.
class SleepWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SleepWatch() override = default;

    // Whether wakes are reported at all; without it, only the next tick notices a sleep.
    virtual bool watching() const = 0;

signals:
    void resumed();
};
