// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/singleinstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {}

bool SingleInstance::claim() {
    if (!m_bus.isConnected()) return true;
    const QString name = QString::fromUtf16(serviceName);
    const auto reply = m_bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) return false;
    m_bus.registerObject(QString::fromUtf16(objectPath), this, QDBusConnection::ExportScriptableSlots);
    return true;
}

bool SingleInstance::showRunning() {
    if (!m_bus.isConnected()) return false;
    const auto call =
        QDBusMessage::createMethodCall(QString::fromUtf16(serviceName), QString::fromUtf16(objectPath),
                                       QStringLiteral("app.oriflan.mivra.Instance"), QStringLiteral("Show"));
    return m_bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Show() {
    emit showRequested();
}
