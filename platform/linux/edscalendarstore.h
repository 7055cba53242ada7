// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/calendarstore.h"

#include <memory>

class Defaults;

// The desktop's calendars, as the calendar server keeps them (online accounts, desktop calendar
// apps, the local calendars). Every call to the server is asynchronous or runs on a worker thread;
// the library's callbacks come through the GUI thread's GLib main loop, so answers and change
// signals always reach the caller on the GUI thread. Nothing is asked of the server before the
// first calendars() or events() call, that is before the person has agreed to calendar access.
class EdsCalendarStore final : public CalendarStore {
    Q_OBJECT
public:
    explicit EdsCalendarStore(Defaults& defaults, QObject* parent = nullptr);
    ~EdsCalendarStore() override;

    // Whether the session bus has the server's source registry, running or ready to be started.
    static bool serverAvailable();
    // Opens the desktop's online-accounts settings; false where the desktop has none.
    static bool openOnlineAccounts();

    CalendarAccess authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> done) override;
    // Enabled calendars: id = the source's UID, source = the display name of its account.
    QList<StoreCalendar> calendars() const override;
    // Occurrences expanded by the library, in the order of `calendarIds`. An answer that takes
    // longer than answerTimeoutMs() is given with the calendars that have answered by then.
    void events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override;
    void openSettings() override;

    // True once the registry is connected.
    bool isConnected() const;
    // Every calendar of the server is watched: a change made from now on is told (tests).
    bool isWatching() const;
    static int answerTimeoutMs() { return 8000; }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    Defaults& m_defaults;
};
