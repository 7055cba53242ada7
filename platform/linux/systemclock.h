// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/clock.h"

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    QTimeZone timeZone() const override { return QTimeZone::systemTimeZone(); }
};
