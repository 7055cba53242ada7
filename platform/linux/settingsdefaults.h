// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/defaults.h"

#include <QSettings>

// The per-user defaults in ~/.config/oriflan/mivra.conf.
class SettingsDefaults final : public Defaults {
public:
    SettingsDefaults() : m_settings(QStringLiteral("oriflan"), QStringLiteral("mivra")) {}
    explicit SettingsDefaults(const QString& fileName) : m_settings(fileName, QSettings::IniFormat) {}

    bool contains(const QString& key) const override { return m_settings.contains(key); }
    QVariant value(const QString& key) const override { return m_settings.value(key); }
    void setValue(const QString& key, const QVariant& value) override { m_settings.setValue(key, value); }

    void sync() { m_settings.sync(); }

private:
    QSettings m_settings;
};
