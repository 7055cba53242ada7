// SPDX-License-Identifier: GPL-3.0-or-later
// The file calendar store on the fixtures of tests/data/calendars: the calendars it finds, the
// occurrences it expands, what it reads again, its change signal, and the service on top of it.
#include "calendar/calendarservice.h"
#include "calendar/ical/icalparse.h"
#include "calendar/ical/icalstore.h"
#include "fakes/fakes.h"

#include "engine/loc.h"

#include <QDirIterator>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {
// Floating times in the fixtures are read in Paris.
const bool kParis = [] {
    qputenv("TZ", "Europe/Paris");
    ::tzset();
    return true;
}();

// Copies a fixture folder into `to`.
void copyTree(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        writeFile(to + path.mid(from.size()), readFile(path));
    }
}

struct Store : ::testing::Test {
    QTemporaryDir dir;
    MemoryDefaults defaults;
    std::unique_ptr<IcalCalendarStore> store;
    QString root() const { return dir.path() + u"/root"_s; }

    void SetUp() override {
        ASSERT_TRUE(kParis);
        copyTree(QStringLiteral(MIVRA_TEST_DATA "/calendars"), dir.path());
        store = std::make_unique<IcalCalendarStore>(
            defaults, QList<CalendarRoot>{{root(), u"t"_s, u"Tests"_s, false},
                                          {dir.path() + u"/missing"_s, u"m"_s, u"Missing"_s, false},
                                          {dir.path() + u"/evolution"_s, u"e"_s, u"Evolution"_s, true}});
        store->setSettleTime(100);
    }
    QList<StoreEvent> fetch(const QDateTime& from, const QDateTime& to, QStringList ids = {}) {
        const QList<StoreCalendar> calendars = store->calendars(); // as the service asks first
        if (ids.isEmpty())
            for (const StoreCalendar& c : calendars)
                ids << c.id;
        std::optional<QList<StoreEvent>> out;
        store->events(ids, from, to, [&](QList<StoreEvent> events) { out = std::move(events); });
        EXPECT_TRUE(out) << "answered at once";
        return out.value_or(QList<StoreEvent>{});
    }
    // "uid@start" of every occurrence of `uid`, in time order.
    static QStringList starts(const QList<StoreEvent>& events, const QString& uid) {
        QList<QDateTime> found;
        for (const StoreEvent& e : events)
            if (e.id == uid) found << e.start;
        std::sort(found.begin(), found.end());
        QStringList out;
        for (const QDateTime& t : found)
            out << t.toUTC().toString(u"MM-dd HH:mm"_s);
        return out;
    }
    static const StoreEvent* byTitle(const QList<StoreEvent>& events, const QString& title) {
        auto it =
            std::find_if(events.begin(), events.end(), [&](const StoreEvent& e) { return e.title == title; });
        return it == events.end() ? nullptr : &*it;
    }
    static const StoreEvent* byStart(const QList<StoreEvent>& events, const QDateTime& start) {
        auto it =
            std::find_if(events.begin(), events.end(), [&](const StoreEvent& e) { return e.start == start; });
        return it == events.end() ? nullptr : &*it;
    }
};
} // namespace

TEST_F(Store, FindsCollectionsAccountsAndPlainFiles) {
    QStringList got;
    for (const StoreCalendar& c : store->calendars())
        got << c.id + u'|' + c.title + u'|' + c.source + u'|' +
                   (c.color.isValid() ? c.color.name().toUpper() : QString());
    EXPECT_EQ(got, (QStringList{u"t:acct/team|Team|acct|"_s, u"t:work|Work|Tests|#1BADF8"_s,
                                u"t:Shared.ics|shared.person@example.net|Tests|#FF9500"_s,
                                u"t:holidays.ics|holidays|Tests|"_s,
                                u"e:system/calendar.ics|system|Evolution|"_s}));
}

TEST_F(Store, ExpandsSeriesWithExceptionsZonesAndExtraDates) {
    const QList<StoreEvent> events = fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 4, 20, 0, 0));
    // Weekly in a zone of the file: one date excluded, one moved, 15:00 local on both sides of the
    // spring change, and the last one allowed by UNTIL.
    EXPECT_EQ(starts(events, u"weekly-1"_s),
              (QStringList{u"03-04 14:00"_s, u"03-19 15:00"_s, u"03-25 14:00"_s, u"04-08 13:00"_s,
                           u"04-15 13:00"_s}));
    ASSERT_TRUE(byTitle(events, u"Team weekly (moved)"_s));
    EXPECT_EQ(byTitle(events, u"Team weekly (moved)"_s)->end, utcTime(2026, 3, 19, 16, 0));
    // A zone of the system's database, across the American change; the first of three is before
    // the window.
    EXPECT_EQ(starts(events, u"ny-1"_s), (QStringList{u"03-09 13:00"_s, u"03-16 13:00"_s}));
    // Floating times are local, the extra dates too; a period keeps its own end.
    EXPECT_EQ(starts(events, u"lunch-1"_s),
              (QStringList{u"03-04 11:30"_s, u"03-06 11:30"_s, u"03-10 11:30"_s}));
    EXPECT_EQ(byStart(events, utcTime(2026, 3, 10, 11, 30))->end, utcTime(2026, 3, 10, 13, 0));
    // A daily floating series keeps its local hour after the change.
    const QStringList daily = starts(events, u"daily-1"_s);
    EXPECT_EQ(daily.size(), 47);
    EXPECT_EQ(daily.first(), u"03-04 09:30"_s);
    EXPECT_TRUE(daily.contains(u"03-30 08:30"_s));
    // A zone name behind a vendor prefix is still found.
    EXPECT_EQ(starts(events, u"retro-1"_s), QStringList{u"03-05 13:00"_s});

    const StoreEvent* holiday = byTitle(events, u"Holiday"_s);
    ASSERT_TRUE(holiday);
    EXPECT_TRUE(holiday->allDay);
    EXPECT_EQ(holiday->end.toMSecsSinceEpoch() - holiday->start.toMSecsSinceEpoch(), 86400000);
    EXPECT_TRUE(byTitle(events, u"Cancelled sync"_s)->cancelled);
    EXPECT_EQ(byTitle(events, u"Vendor pitch"_s)->participation, Participation::declined);
    EXPECT_EQ(byTitle(events, u"Optional talk"_s)->participation, Participation::declined); // owner by title
    EXPECT_EQ(byTitle(events, u"Daily sync"_s)->participation, Participation::tentative);
    EXPECT_EQ(byTitle(events, u"Design review"_s)->participation, Participation::none);
    EXPECT_EQ(byTitle(events, u"Coffee chat"_s)->url, QUrl(u"https://intranet.example/coffee"_s));
    ASSERT_TRUE(byTitle(events, QString()));
    EXPECT_TRUE(byTitle(events, QString())->id.isEmpty());
    EXPECT_TRUE(byTitle(events, u"Dentist"_s));
    // The draft beside the items and the text file are not read.
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const StoreEvent& e) { return e.title == u"Design review"_s; }),
              1);
}

TEST_F(Store, TheServiceFindsTheCurrentAndNextMeeting) {
    defaults.setValue(u"mivra.calendarAccess"_s, 3);
    FakeClock clock(utcTime(2026, 3, 4, 9, 0), QTimeZone("Europe/Paris"));
    MemoryDefaults langDefaults;
    Loc loc(langDefaults, {u"en-US"_s});
    CalendarService service(*store, clock);
    service.configure(true, {});
    ASSERT_TRUE(service.currentEvent() && service.nextEvent());
    EXPECT_EQ(service.currentEvent()->title, u"Planning marathon"_s); // 90 minutes ago, still on
    EXPECT_EQ(service.nextEvent()->title, u"Daily sync"_s);           // today's occurrence
    EXPECT_EQ(service.nextEvent()->joinURL, QUrl(u"https://acme.zoom.us/j/555"_s));
    EXPECT_EQ(service.nextEvent()->relativeText(clock.localNow()), u"in 30 min"_s);

    service.configure(true, {u"t:Shared.ics"_s});
    EXPECT_EQ(service.currentEvent()->title, u"Design review"_s); // of two in progress, the earlier
    EXPECT_EQ(service.currentEvent()->joinURL, QUrl(u"https://meet.google.com/abc-defg-hij"_s));
    EXPECT_EQ(service.currentEvent()->calendarColorHex, u"#1BADF8"_s);
}

TEST_F(Store, OnlyChangedFilesAreReadAgain) {
    fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 18, 8, 0));
    const qint64 first = store->filesParsed();
    EXPECT_EQ(first, 12); // nine items, two plain files and the Evolution calendar
    fetch(utcTime(2026, 3, 4, 8, 1), utcTime(2026, 3, 18, 8, 1));
    EXPECT_EQ(store->filesParsed(), first);

    const QString item = root() + u"/work/coffee.ics"_s;
    QByteArray text = readFile(item);
    text.replace("Coffee chat", "Coffee chat!");
    ASSERT_TRUE(writeFile(item, text));
    QFile::remove(root() + u"/work/review.ics"_s);
    const QList<StoreEvent> events = fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 18, 8, 0));
    EXPECT_EQ(store->filesParsed(), first + 1);
    EXPECT_TRUE(byTitle(events, u"Coffee chat!"_s));
    EXPECT_FALSE(byTitle(events, u"Design review"_s));

    // Copies written beside it and one moved in: read once each, and the events are those a new
    // store lists, in the same order (equal starts by file name).
    ASSERT_TRUE(writeFile(root() + u"/work/zz-coffee.ics"_s, text));
    ASSERT_TRUE(writeFile(dir.path() + u"/aa-coffee.ics"_s, text));
    ASSERT_TRUE(QFile::rename(dir.path() + u"/aa-coffee.ics"_s, root() + u"/work/aa-coffee.ics"_s));
    QFile::remove(item);
    const QList<StoreEvent> later = fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 18, 8, 0));
    EXPECT_EQ(store->filesParsed(), first + 3);
    store = std::make_unique<IcalCalendarStore>(defaults,
                                                QList<CalendarRoot>{{root(), u"t"_s, u"Tests"_s, false}});
    const QList<StoreEvent> fresh = fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 18, 8, 0));
    auto listed = [](const QList<StoreEvent>& events, const QString& calendar) {
        QStringList out;
        for (const StoreEvent& e : events)
            if (e.calendarId == calendar) out << e.id + u'@' + e.start.toString(Qt::ISODate);
        return out;
    };
    EXPECT_EQ(listed(later, u"t:work"_s), listed(fresh, u"t:work"_s));
    EXPECT_EQ(listed(later, u"t:work"_s).count(u"coffee-1@2026-03-04T08:45:00+00:00"_s), 2)
        << qPrintable(listed(later, u"t:work"_s).join(u' '));

    // Another folder put in the place of the collection's: what it holds is listed, nothing else.
    ASSERT_TRUE(QDir().rename(root() + u"/work"_s, dir.path() + u"/former-work"_s));
    ASSERT_TRUE(writeFile(root() + u"/work/coffee.ics"_s, text));
    EXPECT_EQ(listed(fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 18, 8, 0)), u"t:work"_s),
              QStringList{u"coffee-1@2026-03-04T08:45:00+00:00"_s});
}

TEST_F(Store, BrokenAndHostileFilesCostNothingButThemselves) {
    const auto item = [&](const char* name, const QByteArray& event) {
        writeFile(root() + u"/work/"_s + QString::fromLatin1(name),
                  "BEGIN:VCALENDAR\nBEGIN:VEVENT\n" + event + "END:VEVENT\nEND:VCALENDAR\n");
    };
    writeFile(root() + u"/work/garbage.ics"_s,
              "BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:nonsense\nRRULE:FREQ=\n");
    static const char binary[] = "\0\xff\xfe BEGIN:VEVENT";
    writeFile(root() + u"/work/binary.ics"_s, QByteArray(binary, sizeof binary - 1));
    writeFile(root() + u"/work/empty.ics"_s, "");
    item("storm.ics",
         "UID:storm\nSUMMARY:Storm\nDTSTART:20200101T000000Z\nDTEND:20200101T000001Z\nRRULE:FREQ=SECONDLY\n");
    item("huge-count.ics",
         "UID:count\nSUMMARY:Count\nDTSTART:19000101T090000Z\nRRULE:FREQ=DAILY;COUNT=2000000000\n");
    item("backwards.ics", "UID:back\nSUMMARY:Backwards\nDTSTART:20260304T120000Z\nDTEND:20260304T110000Z\n");
    item("lone.ics",
         "UID:x\nRECURRENCE-ID:20260304T100000Z\nSUMMARY:Lone\nDTSTART:20260304T110000Z\nDURATION:PT30M\n");
    const QList<StoreEvent> events =
        fetch(utcTime(2026, 3, 4, 8, 0), utcTime(2026, 3, 5, 8, 0), {u"t:work"_s});
    EXPECT_TRUE(byTitle(events, u"Daily sync"_s)); // the good items are still there
    // A series gives a bounded number of occurrences.
    EXPECT_LE(
        std::count_if(events.begin(), events.end(), [](const StoreEvent& e) { return e.id == u"storm"_s; }),
        1000);
    const StoreEvent* back = byTitle(events, u"Backwards"_s);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->end, back->start);
    const StoreEvent* lone = byTitle(events, u"Lone"_s); // an override without its series stands alone
    ASSERT_TRUE(lone);
    EXPECT_EQ(lone->end, lone->start.addSecs(30 * 60));
}

TEST_F(Store, AccessIsTheStoredConsentAndSettingsOpenTheDropFolder) {
    EXPECT_EQ(store->authorizationStatus(), CalendarAccess::notDetermined);
    for (const auto& [stored, status] :
         QList<QPair<QVariant, CalendarAccess>>{{2, CalendarAccess::denied},
                                                {u"3"_s, CalendarAccess::fullAccess},
                                                {99, CalendarAccess::notDetermined},
                                                {u"x"_s, CalendarAccess::notDetermined}}) {
        defaults.setValue(u"mivra.calendarAccess"_s, stored);
        EXPECT_EQ(store->authorizationStatus(), status) << qPrintable(stored.toString());
    }
    bool granted = false;
    store->requestAccess([&](bool g) { granted = g; });
    EXPECT_TRUE(granted);
    EXPECT_EQ(defaults.value(u"mivra.calendarAccess"_s).toInt(), 3);

    const QString drop = dir.path() + u"/drop/calendars"_s;
    IcalCalendarStore fresh(defaults, {{drop, u"d"_s, u"Mivra"_s, false}});
    fresh.setSettleTime(50);
    QList<QUrl> urls;
    fresh.openFolder = [&](const QUrl& u) {
        urls << u;
        return true;
    };
    EXPECT_TRUE(fresh.calendars().isEmpty());
    QSignalSpy changed(&fresh, &CalendarStore::changed);
    fresh.openSettings();
    EXPECT_TRUE(QFileInfo(drop).isDir());
    EXPECT_EQ(urls, QList<QUrl>{QUrl::fromLocalFile(drop)});
    // A file dropped there is a calendar.
    writeFile(drop + u"/export.ics"_s, readFile(root() + u"/holidays.ics"_s));
    EXPECT_TRUE(changed.wait(3000));
    ASSERT_EQ(fresh.calendars().size(), 1);
    EXPECT_EQ(fresh.calendars().first().title, u"export"_s);
}

TEST_F(Store, ABurstOfWritesIsToldOnce) {
    store->calendars(); // starts watching the calendars found
    QSignalSpy changed(store.get(), &CalendarStore::changed);
    for (int i = 0; i < 300; ++i)
        writeFile(root() + u"/work/sync-"_s + QString::number(i) + u".ics"_s,
                  readFile(root() + u"/work/coffee.ics"_s));
    ASSERT_TRUE(changed.wait(3000));
    QTest::qWait(400);
    EXPECT_EQ(changed.count(), 1);

    // A plain file edited in place is noticed too.
    changed.clear();
    QByteArray shared = readFile(root() + u"/Shared.ics"_s);
    ASSERT_TRUE(writeFile(root() + u"/Shared.ics"_s, shared.replace("Lunch", "Brunch")));
    EXPECT_TRUE(changed.wait(3000));
}

// Every store reads an invitation's answer the same way: work in progress or done is accepted.
TEST(IcalParse, TheUsersAnswerIsReadAsEveryStoreReadsIt) {
    const struct {
        const char* partstat;
        Participation expected;
    } cases[] = {{"ACCEPTED", Participation::accepted},   {"IN-PROCESS", Participation::accepted},
                 {"COMPLETED", Participation::accepted},  {"DECLINED", Participation::declined},
                 {"TENTATIVE", Participation::tentative}, {"DELEGATED", Participation::pending},
                 {"NEEDS-ACTION", Participation::pending}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.partstat);
        const QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:a\r\n"
                                "DTSTART:20260302T090000Z\r\nDTEND:20260302T100000Z\r\n"
                                "ATTENDEE;PARTSTAT=" +
                                QByteArray(c.partstat) +
                                ":mailto:me@example.org\r\n"
                                "END:VEVENT\r\nEND:VCALENDAR\r\n";
        const IcalFile file = parseIcal(text, QTimeZone::utc());
        ASSERT_EQ(file.events.size(), 1u);
        EXPECT_EQ(file.events[0].participationOf({u"me@example.org"_s}), c.expected);
        EXPECT_EQ(participationFromPartstat(c.partstat), c.expected);
    }
}
