#include "platform/linux/icalstore.h"

#include "platform/defaults.h"

IcalCalendarStore::IcalCalendarStore(Defaults& defaults, QObject* parent)
    : CalendarStore(parent), m_defaults(defaults) {}

IcalCalendarStore::~IcalCalendarStore() = default;

int IcalCalendarStore::authorizationStatus() const {
    return m_defaults.value(QStringLiteral("mivra.calendarAccess")).toInt();
}

void IcalCalendarStore::requestAccess(std::function<void(bool)> done) {
    m_defaults.setValue(QStringLiteral("mivra.calendarAccess"), 3);
    done(true);
}

QList<StoreCalendar> IcalCalendarStore::calendars() const { return {}; }

void IcalCalendarStore::events(const QStringList&, const QDateTime&, const QDateTime&,
                               std::function<void(QList<StoreEvent>)> done) {
    done({});
}

void IcalCalendarStore::openSettings() {}
