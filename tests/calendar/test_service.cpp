// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar service on a fake store and clock: join links, the texts in both languages, the
// refresh (filters, order, publication), access and the list of calendars.
#include "calendar/calendarservice.h"
#include "calendar/joinlinks.h"
#include "engine/loc.h"
#include "fakes/fakes.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QUrl url(const char16_t* s) {
    return QUrl(QString::fromUtf16(s));
}

UpcomingEvent upcoming(const QDateTime& start, qint64 minutes, const QString& title = u"Standup"_s) {
    UpcomingEvent e;
    e.title = title;
    e.start = start;
    e.end = start.addSecs(minutes * 60);
    return e;
}

struct LangScope {
    MemoryDefaults defaults;
    Loc loc{defaults, {u"en-US"_s}};
    explicit LangScope(Lang l) { loc.setLang(l); }
};
} // namespace

TEST(JoinLink, CandidatesAreWalkedForAListedHost) {
    struct Case {
        const char* name;
        QUrl eventUrl;
        QString location, notes;
        std::optional<QUrl> expected;
    };
    const QList<Case> cases{
        {"a listed host only in the notes beats the event's unlisted URL",
         url(u"https://meet.example.org/room"),
         {},
         u"Dial in: https://acme.zoom.us/j/123?pwd=x."_s,
         url(u"https://acme.zoom.us/j/123?pwd=x")},
        {"the location comes before the notes",
         {},
         u"https://meet.google.com/abc-defg-hij"_s,
         u"or https://teams.microsoft.com/l/meetup"_s,
         url(u"https://meet.google.com/abc-defg-hij")},
        {"a look-alike host without the dot is no match",
         url(u"https://example.org/page"),
         {},
         u"https://notzoom.us/j/1 https://zoom.us.evil.example/j/2"_s,
         url(u"https://example.org/page")},
        {"no listed host: the event's own URL wins",
         url(u"https://intranet.example/call"),
         u"Room 4 https://map.example/4"_s,
         {},
         url(u"https://intranet.example/call")},
        {"no listed host and no URL: the first link found",
         {},
         u"see www.example.com/room, thanks"_s,
         {},
         url(u"http://www.example.com/room")},
        {"a bare host with a path is a link",
         {},
         u"(meet.google.com/xyz-abcd-efg)"_s,
         {},
         url(u"http://meet.google.com/xyz-abcd-efg")},
        {"hosts compare in lower case",
         url(u"https://ACME.Zoom.US/j/9"),
         {},
         {},
         url(u"https://acme.zoom.us/j/9")},
        {"a non-web URL is no candidate", url(u"mailto:team@example.com"), u"Room 101"_s,
         u"ftp://files.example/x"_s, std::nullopt},
        {"no candidate, no link", {}, {}, u"Also www."_s, std::nullopt},
        {"brackets and punctuation stay out",
         {},
         {},
         u"Call (https://a.example/x)."_s,
         url(u"https://a.example/x")},
        {"balanced brackets stay in",
         {},
         {},
         u"https://b.example/wiki/Foo_(bar), then"_s,
         url(u"https://b.example/wiki/Foo_(bar)")},
        {"a closing mark stays out",
         {},
         {},
         u"see https://c.example/?q=1!"_s,
         url(u"https://c.example/?q=1")},
        {"links in markup are found between the quotes",
         {},
         {},
         u"<a href=\"https://teams.live.com/meet/42\">Join</a>"_s,
         url(u"https://teams.live.com/meet/42")},
    };
    for (const Case& c : cases) {
        const auto got = detectJoinURL(c.eventUrl, c.location, c.notes);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
        if (got) {
            EXPECT_EQ(got->toString(), c.expected->toString()) << c.name;
        }
    }
    for (const QString& host : meetingHosts()) // every listed host matches, with its subdomains
        EXPECT_TRUE(isMeetingHost(host) && isMeetingHost(u"eu."_s + host.toUpper())) << qPrintable(host);
}

TEST(ColorText, SrgbComponentsInUpperCaseHex) {
    EXPECT_EQ(colorText(QColor(0x1B, 0xAD, 0xF8)), u"#1BADF8"_s);
    EXPECT_EQ(colorText(QColor::fromRgbF(0.5f, 0.0f, 1.0f)), u"#8000FF"_s); // 127.5 rounds up
    EXPECT_EQ(colorText(QColor::fromHsv(0, 255, 255)), u"#FF0000"_s);
    EXPECT_EQ(colorText(QColor()), std::nullopt);
}

TEST(EventTexts, LongAndShortFormsInBothLanguages) {
    const QTimeZone paris("Europe/Paris");
    // Saturday 7 March 2026, 10:00 in Paris.
    const QDateTime now(QDate(2026, 3, 7), QTime(10, 0), paris);
    struct Case {
        const char* name;
        QDateTime start;
        qint64 lengthMin;
        Lang lang;
        QString longText, shortText;
    };
    const auto at = [&](int days, int h, int m) {
        return QDateTime(now.date().addDays(days), QTime(h, m), paris);
    };
    const QList<Case> cases{
        {"45 seconds", now.addSecs(45), 30, Lang::en, u"in 1 min"_s, u"in 1m"_s},
        {"31 seconds", now.addSecs(31), 30, Lang::en, u"in 1 min"_s, u"in 1m"_s},
        {"30 seconds", now.addSecs(30), 30, Lang::en, u"now"_s, u"now"_s},
        {"30 seconds, French", now.addSecs(30), 30, Lang::fr, u"là"_s, u"là"_s},
        {"in progress", now.addSecs(-60), 30, Lang::en, u"in progress"_s, u"now"_s},
        {"in progress, French", now.addSecs(-60), 30, Lang::fr, u"en cours"_s, u"là"_s},
        {"ended a minute ago", now.addSecs(-120), 1, Lang::en, u"now"_s, u"now"_s},
        {"59 minutes", now.addSecs(59 * 60), 30, Lang::fr, u"dans 59 min"_s, u"dans 59m"_s},
        {"59 minutes and a second", now.addSecs(59 * 60 + 1), 30, Lang::en, u"at 10:59 AM"_s, u"10:59am"_s},
        {"this afternoon", at(0, 13, 30), 30, Lang::fr, u"à 1:30 PM"_s, u"1:30pm"_s},
        {"tomorrow", at(1, 9, 5), 30, Lang::en, u"tomorrow at 9:05 AM"_s, u"tmw 9:05am"_s},
        {"tomorrow, French", at(1, 9, 5), 30, Lang::fr, u"demain à 9:05 AM"_s, u"dem 9:05am"_s},
        {"Tuesday, three days ahead", at(3, 9, 5), 30, Lang::en, u"Tue at 9:05 AM"_s, u"Tue 9:05am"_s},
        {"Tuesday, French", at(3, 9, 5), 30, Lang::fr, u"Tue à 9:05 AM"_s, u"Tue 9:05am"_s},
        {"just after midnight, given in UTC", QDateTime(QDate(2026, 3, 7), QTime(23, 30), QTimeZone::utc()),
         30, Lang::en, u"tomorrow at 12:30 AM"_s, u"tmw 12:30am"_s},
    };
    for (const Case& c : cases) {
        LangScope lang(c.lang);
        const UpcomingEvent e = upcoming(c.start, c.lengthMin);
        EXPECT_EQ(e.relativeText(now), c.longText) << c.name;
        EXPECT_EQ(e.shortRelative(now), c.shortText) << c.name;
    }
}

TEST(EventTexts, StatusLabelCutsLongTitles) {
    const QDateTime now(QDate(2026, 3, 2), QTime(10, 0), QTimeZone::utc());
    struct Case {
        QString title;
        bool withTitle;
        int maxLength;
        qint64 startMin;
        Lang lang;
        QString label;
    };
    const QList<Case> cases{
        {u"Quarterly planning review"_s, true, 18, 10, Lang::en,
         u"Quarterly plannin… · in 10m"_s}, // 25 characters
        {u"Quarterly planning review"_s, false, 18, 10, Lang::en, u"in 10m"_s},
        {u"Exactly eighteen c"_s, true, 18, 10, Lang::en, u"Exactly eighteen c · in 10m"_s},
        {u"𝄞𝄞𝄞𝄞"_s, true, 3, 10, Lang::en,
         u"𝄞𝄞… · in 10m"_s}, // outside the basic plane: counted once, never split
        {u"Long"_s, true, 0, 10, Lang::en, u"L… · in 10m"_s},
        {u"Long"_s, true, 18, -5, Lang::fr, u"Long · là"_s}, // in progress reads "now"
    };
    for (const Case& c : cases) {
        LangScope lang(c.lang);
        EXPECT_EQ(
            upcoming(now.addSecs(c.startMin * 60), 30, c.title).statusLabel(c.withTitle, c.maxLength, now),
            c.label);
    }
}

namespace {
struct Service : ::testing::Test {
    LangScope lang{Lang::en};
    FakeClock clock;
    FakeCalendarStore store;
    std::unique_ptr<CalendarService> service;
    int changes = 0;

    void SetUp() override {
        store.status = CalendarAccess::fullAccess;
        store.calendarList = {{u"work"_s, u"Work"_s, QColor(0x1B, 0xAD, 0xF8), u"Mivra"_s},
                              {u"home"_s, u"Home"_s, QColor(), u"Mivra"_s}};
        service = std::make_unique<CalendarService>(store, clock);
        service->onChange = [this] { ++changes; };
    }
    QDateTime now() const { return clock.now(); }
    StoreEvent event(const QString& id, qint64 startMin, qint64 lengthMin, const QString& cal = u"work"_s) {
        const QDateTime start = now().addSecs(startMin * 60);
        return {.id = id,
                .calendarId = cal,
                .title = id,
                .start = start,
                .end = start.addSecs(lengthMin * 60),
                .url = {},
                .location = {},
                .notes = {}};
    }
    QString currentId() const { return service->currentEvent() ? service->currentEvent()->id : QString(); }
    QString nextId() const { return service->nextEvent() ? service->nextEvent()->id : QString(); }
};
} // namespace

TEST_F(Service, CurrentAndNextOfTheUnmutedCalendars) {
    // All-day, cancelled and declined events are left out on the fixture calendars.
    store.eventList = {event(u"later-start"_s, -10, 60), event(u"ended"_s, -30, 30),
                       event(u"long-running"_s, -90, 120), event(u"next"_s, 20, 30),
                       event(u"muted"_s, 1, 10, u"home"_s)};
    service->configure(true, {u"home"_s});
    EXPECT_EQ(currentId(), u"long-running"_s); // started 90 minutes ago, still on, started first
    EXPECT_EQ(nextId(), u"next"_s);
    EXPECT_EQ(service->nextEvent()->calendarTitle, u"Work"_s);
    EXPECT_EQ(service->nextEvent()->calendarColorHex, u"#1BADF8"_s);
    // The window runs from an hour back to fourteen days ahead.
    EXPECT_EQ(store.lastFrom, now().addSecs(-3600));
    EXPECT_EQ(store.lastTo, now().addDays(14));
}

TEST_F(Service, EqualStartsKeepTheStoreOrder) {
    store.eventList = {event(u"b"_s, 10, 30), event(u"a"_s, 10, 30), event(u"c"_s, 5, 30)};
    service->configure(true, {});
    EXPECT_EQ(nextId(), u"c"_s);
    store.eventList.removeLast();
    service->refreshEvents();
    EXPECT_EQ(nextId(), u"b"_s);
}

TEST_F(Service, MissingTitlesAndIdentifiersAreFilledIn) {
    store.eventList = {event(QString(), 10, 30)}; // neither identifier nor title
    service->configure(true, {});
    ASSERT_TRUE(service->nextEvent());
    EXPECT_EQ(service->nextEvent()->title, u"Untitled"_s);
    const QString first = nextId();
    EXPECT_FALSE(QUuid::fromString(first).isNull());
    lang.loc.setLang(Lang::fr);
    service->refreshEvents();
    EXPECT_NE(nextId(), first); // a fresh identifier at each refresh
    EXPECT_EQ(service->nextEvent()->title, u"Sans titre"_s);
}

TEST_F(Service, PublishesOnlyChangesButTellsEveryTime) {
    store.eventList = {event(u"a"_s, 10, 30)};
    QSignalSpy next(service.get(), &CalendarService::nextEventChanged);
    QSignalSpy current(service.get(), &CalendarService::currentEventChanged);
    service->configure(true, {});
    service->activate(); // a second activation installs nothing twice
    const int fetches = store.fetches;
    service->refreshEvents();
    store.touch(); // a change in the store refreshes at once
    EXPECT_EQ(store.fetches, fetches + 2);
    EXPECT_EQ(next.count(), 1);
    EXPECT_EQ(current.count(), 0);
    EXPECT_EQ(changes, store.fetches); // told after every answer
    store.eventList[0].title = u"renamed"_s;
    service->refreshEvents();
    EXPECT_EQ(next.count(), 2);
    EXPECT_EQ(service->nextEvent()->title, u"renamed"_s);
    EXPECT_EQ(service->property("nextEvent").value<UpcomingEvent>().title, u"renamed"_s);
    EXPECT_FALSE(service->property("currentEvent").isValid());
}

TEST_F(Service, WithoutAccessNothingIsFetchedUntilTheConsentArrivesOnALaterTurn) {
    store.eventList = {event(u"a"_s, 10, 30)};
    for (CalendarAccess status : {CalendarAccess::notDetermined, CalendarAccess::restricted,
                                  CalendarAccess::denied, CalendarAccess::writeOnly}) {
        store.status = status;
        CalendarService s(store, clock);
        s.configure(true, {});
        s.refreshEvents();
        EXPECT_FALSE(s.nextEvent()) << int(status);
        EXPECT_TRUE(s.allCalendars().isEmpty()) << int(status);
        EXPECT_FALSE(s.observing()) << int(status);
    }
    EXPECT_EQ(store.fetches, 0);

    store.status = CalendarAccess::notDetermined;
    service = std::make_unique<CalendarService>(store, clock);
    service->onChange = [this] { ++changes; };
    QSignalSpy status(service.get(), &CalendarService::statusChanged);
    service->requestAccess();
    EXPECT_EQ(service->status(), CalendarAccess::notDetermined);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(service->status(), CalendarAccess::fullAccess);
    EXPECT_EQ(status.count(), 1);
    EXPECT_TRUE(service->observing());
    EXPECT_EQ(nextId(), u"a"_s);
    EXPECT_GE(changes, 1);

    store.grantOnRequest = false; // a refusal is told too
    store.status = CalendarAccess::denied;
    service->requestAccess();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(service->status(), CalendarAccess::denied);
    EXPECT_FALSE(service->nextEvent());
}

TEST_F(Service, SwitchedOffOrAllMutedNothingIsPublished) {
    store.eventList = {event(u"a"_s, 10, 30)};
    service->configure(true, {});
    ASSERT_TRUE(service->nextEvent());
    service->configure(false, {});
    EXPECT_FALSE(service->nextEvent());
    EXPECT_TRUE(service->observing()); // stays installed; refreshes publish nothing while off
    store.touch();
    EXPECT_FALSE(service->nextEvent());
    service->configure(true, {});
    EXPECT_TRUE(service->nextEvent());
    service->configure(true, {u"work"_s, u"home"_s}); // all muted
    EXPECT_FALSE(service->nextEvent());
}

TEST_F(Service, AnOlderAnswerNeverOverwritesANewerOne) {
    service->configure(true, {});
    store.holdAnswers = true;
    store.eventList = {event(u"old"_s, 10, 30)};
    service->refreshEvents();
    store.eventList = {event(u"new"_s, 10, 30)};
    service->refreshEvents();
    ASSERT_EQ(store.held.size(), 2);
    store.held[1]();
    store.held[0]();
    EXPECT_EQ(nextId(), u"new"_s);

    // Switching off while a fetch is on its way: the late answer publishes nothing.
    service->refreshEvents();
    service->configure(false, {});
    store.held.last()();
    EXPECT_FALSE(service->nextEvent());

    // The answer of a service already gone is dropped.
    service->configure(true, {});
    service.reset();
    store.held.last()();
}

TEST_F(Service, CalendarsSortBySourceThenTitleIgnoringCase) {
    store.calendarList = {{u"1"_s, u"birthdays"_s, QColor(), u"Work account"_s},
                          {u"2"_s, u"Zeta"_s, QColor(), u"mivra"_s},
                          {u"3"_s, u"alpha"_s, QColor(Qt::red), u"Mivra"_s},
                          {u"4"_s, u"Beta"_s, QColor(), u"Mivra"_s},
                          {u"5"_s, u"Chores"_s, QColor(), u"calendars"_s}};
    service->configure(true, {u"3"_s});
    QStringList order;
    for (const CalendarInfo& c : service->allCalendars())
        order << c.id;
    EXPECT_EQ(order, (QStringList{u"5"_s, u"3"_s, u"4"_s, u"2"_s, u"1"_s})); // muted ones listed too
    EXPECT_EQ(service->allCalendars()[1].colorHex, u"#FF0000"_s);
    service->openPrivacySettings();
    EXPECT_EQ(store.settingsOpened, 1);
}
