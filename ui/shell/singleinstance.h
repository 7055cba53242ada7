// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>

// One Mivra per user: the owner of the session-bus name answers Show; a second start asks the
// owner to show itself and leaves. Other bus objects may share connection().
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.oriflan.mivra.Instance")
public:
    static constexpr const char16_t* serviceName = u"app.oriflan.mivra";
    static constexpr const char16_t* objectPath = u"/app/oriflan/mivra/Instance";

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Whether a bus is there at all: without one every start runs on its own.
    bool busAvailable() const { return m_bus.isConnected(); }
    // Takes the name; false when another process holds it.
    bool claim();
    // Asks the process holding the name to show its popover; false when it did not answer.
    bool showRunning();
    QDBusConnection connection() const { return m_bus; }

public slots:
    Q_SCRIPTABLE void Show();

signals:
    void showRequested();

private:
    QDBusConnection m_bus;
};
