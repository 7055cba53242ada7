// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/clock.h"

#include <optional>

// The user's time zone. One the system cannot resolve (a typo in TZ, a retired name, no tzdata)
// reads as UTC, as the C library reads it, so that days still begin and end.
inline QTimeZone userTimeZone(const Clock& clock) {
    const QTimeZone zone = clock.timeZone();
    return zone.isValid() ? zone : QTimeZone::utc();
}

// The current instant in the user's time zone.
inline QDateTime userLocalNow(const Clock& clock) {
    return clock.now().toTimeZone(userTimeZone(clock));
}

// The first instant of the local day after the one holding `instant`: its midnight, or on a day
// whose clocks jump over midnight the first time they show. None when the zone gives no such day.
inline std::optional<QDateTime> startOfNextDay(const QDateTime& instant, const QTimeZone& zone) {
    const QDate today = instant.toTimeZone(zone).date();
    // A day the zone skips altogether (a move across the date line) has no start; the next one has.
    for (int days = 1; days <= 2; ++days) {
        const QDateTime start = today.addDays(days).startOfDay(zone);
        if (start.isValid() && start > instant) return start;
    }
    return std::nullopt;
}
