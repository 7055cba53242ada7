// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Posts a desktop notification at once. Fire and forget: failures are silent.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void post(const QString& title, const QString& body) = 0;
};
