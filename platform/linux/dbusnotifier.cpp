// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/dbusnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

using namespace Qt::StringLiterals;

DBusNotifier::DBusNotifier(const QDBusConnection& bus) : m_bus(bus) {}

void DBusNotifier::post(const QString& title, const QString& body) {
    if (!m_bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
                                                       u"/org/freedesktop/Notifications"_s,
                                                       u"org.freedesktop.Notifications"_s, u"Notify"_s);
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (server default)
    call << u"Mivra"_s << uint(0) << u"mivra"_s << title << body << QStringList() << QVariantMap() << int(-1);
    // Fire and forget: the reply, or the lack of a notification server, is ignored.
    m_bus.asyncCall(call);
}
