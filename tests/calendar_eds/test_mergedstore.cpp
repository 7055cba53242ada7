// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar files and the desktop's calendar server shown as one store.
#include "fakes/fakes.h"
#include "platform/linux/mergedcalendarstore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QDateTime t0(QDate(2026, 3, 2), QTime(10, 0), QTimeZone::utc());

StoreEvent at(const QString& id, const QString& calendarId, int minutes) {
    const QDateTime start = t0.addSecs(minutes * 60);
    return {.id = id,
            .calendarId = calendarId,
            .title = id,
            .start = start,
            .end = start.addSecs(1800),
            .url = {},
            .location = {},
            .notes = {}};
}

// A store that answers on a later turn of the event loop, as the server does.
class LaterStore final : public CalendarStore {
public:
    CalendarAccess authorizationStatus() const override { return inner.status; }
    void requestAccess(std::function<void(bool)> done) override { inner.requestAccess(std::move(done)); }
    QList<StoreCalendar> calendars() const override { return inner.calendars(); }
    void events(const QStringList& ids, const QDateTime& from, const QDateTime& to,
                std::function<void(QList<StoreEvent>)> done) override {
        asked.append(ids);
        QTimer::singleShot(delayMs, this, [=, this] { inner.events(ids, from, to, done); });
    }
    void openSettings() override { inner.openSettings(); }
    FakeCalendarStore inner;
    QList<QStringList> asked;
    int delayMs = 10;
};

struct Merged : ::testing::Test {
    FakeCalendarStore files;
    LaterStore server;
    MergedCalendarStore merged{files, server};

    QList<StoreEvent> fetch(const QStringList& ids) {
        std::optional<QList<StoreEvent>> got;
        merged.events(ids, t0.addSecs(-3600), t0.addDays(14), [&](QList<StoreEvent> e) {
            EXPECT_FALSE(got) << "answered twice";
            got = e;
        });
        for (int i = 0; i < 100 && !got; ++i)
            QTest::qWait(5);
        EXPECT_TRUE(got);
        return got.value_or(QList<StoreEvent>{});
    }
    QStringList ids() const {
        QStringList out;
        for (const StoreCalendar& c : merged.calendars())
            out.append(c.id);
        return out;
    }
};

TEST_F(Merged, IdentifiersNeverCollideAndLeadBackToTheirCalendar) {
    // Files identifiers that look like the other side's, or like an escaped one, stay apart.
    const QStringList filesIds{u"mivra:work"_s, u"x"_s, u"eds:x"_s, u"files:x"_s, u"files:eds:x"_s};
    const QStringList serverIds{u"x"_s, u"eds:x"_s, u"files:x"_s};
    for (const QString& id : filesIds)
        files.calendarList.append({id, id, {}, u"Files"_s});
    for (const QString& id : serverIds)
        server.inner.calendarList.append({id, id, {}, u"Server"_s});
    for (const QString& id : filesIds)
        files.eventList.append(at(u"f "_s + id, id, 5));
    for (const QString& id : serverIds)
        server.inner.eventList.append(at(u"s "_s + id, id, 5));

    const QStringList all = ids();
    ASSERT_EQ(all.size(), filesIds.size() + serverIds.size());
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), all.size()) << all.join(u" "_s).toStdString();
    EXPECT_TRUE(all.contains(u"mivra:work"_s)) << "a muted files calendar stays muted";

    // Each merged calendar yields exactly its own event, under its merged identifier.
    for (const StoreCalendar& c : merged.calendars()) {
        const QList<StoreEvent> events = fetch({c.id});
        ASSERT_EQ(events.size(), 1) << c.id.toStdString();
        EXPECT_EQ(events[0].calendarId, c.id);
        EXPECT_EQ(events[0].title.mid(2), c.title) << c.id.toStdString();
        EXPECT_EQ(events[0].title.startsWith(u"s "_s), c.source == u"Server"_s);
    }
}

TEST_F(Merged, EventsOfBothStoresComeByStartWithTheFilesFirstOnATie) {
    files.calendarList = {{u"home"_s, u"Home"_s, {}, u"Files"_s}};
    server.inner.calendarList = {{u"work"_s, u"Work"_s, {}, u"Server"_s}};
    files.eventList = {at(u"f30"_s, u"home"_s, 30), at(u"f10"_s, u"home"_s, 10)};
    server.inner.eventList = {at(u"s10"_s, u"work"_s, 10), at(u"s20"_s, u"work"_s, 20)};
    QStringList order;
    for (const StoreEvent& e : fetch(ids()))
        order.append(e.id);
    EXPECT_EQ(order, (QStringList{u"f10"_s, u"s10"_s, u"s20"_s, u"f30"_s}));

    // A store none of whose calendars is asked for is not asked; asking for nothing still answers.
    fetch({u"home"_s});
    EXPECT_EQ(server.asked.size(), 1);
    EXPECT_TRUE(fetch({}).isEmpty());
    EXPECT_EQ(files.fetches, 2);
}

TEST_F(Merged, TheServersOwnLocalCalendarIsShownOnceWhileTheServerListsIt) {
    files.calendarList = {{u"evolution:system-calendar/calendar.ics"_s, u"Personal"_s, {}, u"Evolution"_s},
                          {u"evolution:other/calendar.ics"_s, u"Other"_s, {}, u"Evolution"_s}};
    files.eventList = {at(u"twice"_s, u"evolution:system-calendar/calendar.ics"_s, 5)};
    server.inner.calendarList = {{u"system-calendar"_s, u"Personal"_s, {}, u"On This Computer"_s}};
    server.inner.eventList = {at(u"twice"_s, u"system-calendar"_s, 5)};
    EXPECT_EQ(ids(), (QStringList{u"evolution:other/calendar.ics"_s, u"eds:system-calendar"_s}));
    EXPECT_EQ(fetch({u"evolution:system-calendar/calendar.ics"_s, u"eds:system-calendar"_s}).size(), 1);

    server.inner.calendarList.clear(); // the server gone: the files show it again
    EXPECT_EQ(ids().size(), 2);
    EXPECT_EQ(fetch({u"evolution:system-calendar/calendar.ics"_s}).size(), 1);
}

TEST_F(Merged, OneConsentAndChangesFromEitherSide) {
    files.status = CalendarAccess::notDetermined;
    server.inner.status = CalendarAccess::fullAccess;
    EXPECT_EQ(merged.authorizationStatus(), CalendarAccess::notDetermined)
        << "the files store holds the person's consent";
    bool granted = false;
    merged.requestAccess([&](bool g) { granted = g; });
    EXPECT_TRUE(granted);
    EXPECT_EQ(files.accessRequests, 1);
    EXPECT_EQ(server.inner.accessRequests, 0);
    EXPECT_EQ(merged.authorizationStatus(), CalendarAccess::fullAccess);

    QSignalSpy changed(&merged, &CalendarStore::changed);
    files.touch();
    emit server.changed();
    EXPECT_EQ(changed.size(), 2);
}

TEST_F(Merged, SettingsOpenTheOnlineAccountsWhereTheDesktopHasThem) {
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    merged.openSettings();
    EXPECT_EQ(files.settingsOpened, 1) << "no online-accounts settings here: the calendar folder";

    const QString seen = bin.path() + u"/args"_s, tool = bin.path() + u"/gnome-control-center"_s;
    ASSERT_TRUE(writeFile(tool, "#!/bin/sh\necho \"$@\" > '" + seen.toUtf8() + "'\n"));
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    merged.openSettings();
    qputenv("PATH", path);
    for (int i = 0; i < 200 && !QFile::exists(seen); ++i)
        QTest::qWait(10);
    EXPECT_EQ(readFile(seen).trimmed(), "online-accounts");
    EXPECT_EQ(files.settingsOpened, 1);
}

} // namespace
