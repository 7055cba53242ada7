// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/mergedcalendarstore.h"

#include "platform/linux/edscalendarstore.h"

#include <QSet>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QString kServerPrefix = u"eds:"_s;
// Only a files identifier that would look like one of the prefixed forms gets a prefix itself.
const QString kFilesPrefix = u"files:"_s;

enum class Side { files, server, unknown };

Side sideOf(const QString& id, QString* inner) {
    if (id.startsWith(kServerPrefix)) {
        *inner = id.mid(kServerPrefix.size());
        return Side::server;
    }
    if (id.startsWith(kFilesPrefix)) {
        *inner = id.mid(kFilesPrefix.size());
        return Side::files;
    }
    *inner = id;
    return id.isEmpty() ? Side::unknown : Side::files;
}

// The files store also reads the server's own local calendars (its folder per calendar UID); such
// a calendar is shown once, from the server, while the server lists it.
QString serverCopyOf(const QString& filesId) {
    static const QString head = u"evolution:"_s, tail = u"/calendar.ics"_s;
    if (!filesId.startsWith(head) || !filesId.endsWith(tail)) return {};
    return filesId.mid(head.size(), filesId.size() - head.size() - tail.size());
}

QList<StoreEvent> renamed(QList<StoreEvent> events, QString (*rename)(const QString&)) {
    for (StoreEvent& e : events)
        e.calendarId = rename(e.calendarId);
    return events;
}
} // namespace

MergedCalendarStore::MergedCalendarStore(CalendarStore& files, CalendarStore& server, QObject* parent)
    : CalendarStore(parent), m_files(files), m_server(server) {
    connect(&m_files, &CalendarStore::changed, this, &CalendarStore::changed);
    connect(&m_server, &CalendarStore::changed, this, &CalendarStore::changed);
}

QString MergedCalendarStore::serverId(const QString& id) {
    return kServerPrefix + id;
}

QString MergedCalendarStore::filesId(const QString& id) {
    return id.startsWith(kServerPrefix) || id.startsWith(kFilesPrefix) ? kFilesPrefix + id : id;
}

CalendarAccess MergedCalendarStore::authorizationStatus() const {
    return m_files.authorizationStatus();
}

void MergedCalendarStore::requestAccess(std::function<void(bool)> done) {
    m_files.requestAccess(std::move(done));
}

QList<StoreCalendar> MergedCalendarStore::calendars() const {
    const QList<StoreCalendar> server = m_server.calendars();
    QSet<QString> served;
    for (const StoreCalendar& c : server)
        served.insert(c.id);
    QList<StoreCalendar> all;
    for (StoreCalendar c : m_files.calendars()) {
        if (const QString copy = serverCopyOf(c.id); !copy.isEmpty() && served.contains(copy)) continue;
        c.id = filesId(c.id);
        all.append(std::move(c));
    }
    for (StoreCalendar c : server) {
        c.id = serverId(c.id);
        all.append(std::move(c));
    }
    return all;
}

void MergedCalendarStore::events(const QStringList& calendarIds, const QDateTime& from, const QDateTime& to,
                                 std::function<void(QList<StoreEvent>)> done) {
    QSet<QString> served;
    for (const StoreCalendar& c : m_server.calendars())
        served.insert(c.id);
    QStringList files, server;
    for (const QString& id : calendarIds) {
        QString inner;
        switch (sideOf(id, &inner)) {
        case Side::files:
            if (const QString copy = serverCopyOf(inner); copy.isEmpty() || !served.contains(copy))
                files.append(inner);
            break;
        case Side::server:
            server.append(inner);
            break;
        case Side::unknown:
            break;
        }
    }
    // Either store may answer at once or later, in either order; the last answer delivers.
    struct Join {
        QList<StoreEvent> files, server;
        int pending = 2;
        std::function<void(QList<StoreEvent>)> done;
        void arrived() {
            if (--pending > 0) return;
            QList<StoreEvent> all = files + server;
            std::stable_sort(all.begin(), all.end(),
                             [](const StoreEvent& a, const StoreEvent& b) { return a.start < b.start; });
            done(std::move(all));
        }
    };
    auto join = std::make_shared<Join>();
    join->done = std::move(done);
    if (files.isEmpty()) {
        join->arrived();
    } else {
        m_files.events(files, from, to, [join](QList<StoreEvent> events) {
            join->files = renamed(std::move(events), &MergedCalendarStore::filesId);
            join->arrived();
        });
    }
    if (server.isEmpty()) {
        join->arrived();
    } else {
        m_server.events(server, from, to, [join](QList<StoreEvent> events) {
            join->server = renamed(std::move(events), &MergedCalendarStore::serverId);
            join->arrived();
        });
    }
}

void MergedCalendarStore::openSettings() {
    if (!EdsCalendarStore::openOnlineAccounts()) m_files.openSettings();
}
