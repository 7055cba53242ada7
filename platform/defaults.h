// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>

// The per-user key-value store (the day ledger and the interface language live here).
class Defaults {
public:
    virtual ~Defaults() = default;
    virtual bool contains(const QString& key) const = 0;
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;

    // A text value, or an empty optional when the key is absent or not text.
    std::optional<QString> string(const QString& key) const;
    // An integer value; missing or unreadable keys read as 0.
    qint64 integer(const QString& key) const;
};
