// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Value types that travel over Mivra's D-Bus interface, shared by the application and mivractl.
#include <QDBusArgument>
#include <QMetaType>
#include <QString>

namespace MivraBusNames {
inline constexpr char16_t service[] = u"app.oriflan.mivra";
inline constexpr char16_t path[] = u"/app/oriflan/mivra";
inline constexpr char16_t interface[] = u"app.oriflan.Mivra1";
// A call the gate or the popover would refuse.
inline constexpr char16_t refused[] = u"app.oriflan.Mivra1.Error.Refused";
} // namespace MivraBusNames

// A meeting as (title, start): the start is ISO 8601 local time with its offset; both empty when none.
struct BusMeeting {
    QString title;
    QString start;
    bool operator==(const BusMeeting&) const = default;
};

// The lockup in effect as (id, name); both empty when there is none.
struct BusLockup {
    QString id;
    QString name;
    bool operator==(const BusLockup&) const = default;
};

inline QDBusArgument& operator<<(QDBusArgument& a, const BusMeeting& m) {
    a.beginStructure();
    a << m.title << m.start;
    a.endStructure();
    return a;
}
inline const QDBusArgument& operator>>(const QDBusArgument& a, BusMeeting& m) {
    a.beginStructure();
    a >> m.title >> m.start;
    a.endStructure();
    return a;
}
inline QDBusArgument& operator<<(QDBusArgument& a, const BusLockup& l) {
    a.beginStructure();
    a << l.id << l.name;
    a.endStructure();
    return a;
}
inline const QDBusArgument& operator>>(const QDBusArgument& a, BusLockup& l) {
    a.beginStructure();
    a >> l.id >> l.name;
    a.endStructure();
    return a;
}

Q_DECLARE_METATYPE(BusMeeting)
Q_DECLARE_METATYPE(BusLockup)

#include <QDBusMetaType>

// Registers the types with QtDBus; safe to call more than once.
inline void registerBusTypes() {
    qDBusRegisterMetaType<BusMeeting>();
    qDBusRegisterMetaType<BusLockup>();
}
