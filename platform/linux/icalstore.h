#pragma once

#include "platform/calendarstore.h"

class Defaults;

// Calendars from iCalendar files: vdir collections and plain .ics files under the calendar roots.
// Access is the person's own consent, kept under the defaults key "mivra.calendarAccess".
class IcalCalendarStore final : public CalendarStore {
    Q_OBJECT
public:
    explicit IcalCalendarStore(Defaults& defaults, QObject* parent = nullptr);
    ~IcalCalendarStore() override;

    int authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> done) override;
    QList<StoreCalendar> calendars() const override;
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override;
    void openSettings() override;

private:
    Defaults& m_defaults;
};
