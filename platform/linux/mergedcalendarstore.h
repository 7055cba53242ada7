// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/calendarstore.h"

// Two stores shown as one: the calendar files and the desktop's calendar server. The files keep
// their own identifiers, so calendars muted before the server was used stay muted; the server's
// identifiers carry a prefix so that no two calendars can share one. Access is one consent, the
// files store's, which both stores read from the same defaults key.
class MergedCalendarStore final : public CalendarStore {
    Q_OBJECT
public:
    // `files` and `server` must outlive this store.
    MergedCalendarStore(CalendarStore& files, CalendarStore& server, QObject* parent = nullptr);

    static QString serverId(const QString& id);
    static QString filesId(const QString& id);

    CalendarAccess authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> done) override;
    QList<StoreCalendar> calendars() const override;
    // Both stores' events, by start; equal starts keep the files first, each store in its order.
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override;
    // The desktop's online-accounts settings where they exist, else the files store's folder.
    void openSettings() override;

private:
    CalendarStore& m_files;
    CalendarStore& m_server;
};
