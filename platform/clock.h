// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QTimeZone>

// Wall-clock time and the user's time zone, behind a seam so tests can move time at will.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual QTimeZone timeZone() const = 0;

    // The current instant seen in the user's time zone.
    QDateTime localNow() const { return now().toTimeZone(timeZone()); }
};
