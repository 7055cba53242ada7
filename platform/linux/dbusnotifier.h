// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/notifier.h"

#include <QDBusConnection>

// Desktop notifications through org.freedesktop.Notifications on the session bus.
class DBusNotifier final : public Notifier {
public:
    explicit DBusNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus());
    void post(const QString& title, const QString& body) override;

private:
    QDBusConnection m_bus;
};
