// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/defaults.h"

std::optional<QString> Defaults::string(const QString& key) const {
    if (!contains(key)) return std::nullopt;
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray) return std::nullopt;
    return v.toString();
}

qint64 Defaults::integer(const QString& key) const {
    if (!contains(key)) return 0;
    bool ok = false;
    const qint64 n = value(key).toLongLong(&ok);
    return ok ? n : 0;
}
