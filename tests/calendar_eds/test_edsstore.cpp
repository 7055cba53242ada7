// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar server store against a real server: the source registry and the calendar factory
// run on the private session bus this binary is started on, with every file in a temporary home.
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

#include "calendar/calendarservice.h"
#include "fakes/fakes.h"
#include "platform/linux/edscalendarstore.h"
#include "platform/linux/mergedcalendarstore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString kRegistry = u"/usr/libexec/evolution-source-registry"_s;
const QString kFactory = u"/usr/libexec/evolution-calendar-factory"_s;
const char* kAccount = "mivra-test-account";
const char* kCalendar = "mivra-test-rushes";

bool onBus(const QString& prefix) {
    const QStringList names = QDBusConnection::sessionBus().interface()->registeredServiceNames().value();
    return std::any_of(names.begin(), names.end(), [&](const QString& n) { return n.startsWith(prefix); });
}

QString stamp(const QDateTime& t) {
    return t.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
}

// Every file of the server and of its clients goes to a temporary home. The variables that point
// there are set before main, while the process has one thread: the library's threads (the first
// test starts them) read the environment, and setting it under them is a data race: it ended this
// test once, within its set-up's first 80 ms.
struct PrivateHome {
    QTemporaryDir home;
    PrivateHome() {
        for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            const QString dir = home.path() + u'/' + QString::fromLatin1(var);
            QDir().mkpath(dir);
            qputenv(var, dir.toUtf8());
        }
        qputenv("GSETTINGS_BACKEND", "memory");
    }
};
const PrivateHome privateHome;

// The running server and a writing client of its own, shared by the tests in order.
struct Server {
    QProcess registryProcess, factoryProcess;
    ESourceRegistry* registry = nullptr;
    ECalClient* writer = nullptr;
    QString problem;
    QDateTime now = QDateTime::currentDateTimeUtc();

    void start() {
        for (QProcess* p : {&registryProcess, &factoryProcess}) {
            p->setStandardOutputFile(QProcess::nullDevice());
            p->setStandardErrorFile(QProcess::nullDevice());
        }
        registryProcess.start(kRegistry, {});
        if (!waitUntil([] { return onBus(u"org.gnome.evolution.dataserver.Sources"_s); }))
            return fail(nullptr, "the source registry did not come up");
        factoryProcess.start(kFactory, {u"--keep-running"_s});
        if (!waitUntil([] { return onBus(u"org.gnome.evolution.dataserver.Calendar"_s); }))
            return fail(nullptr, "the calendar factory did not come up");
        GError* error = nullptr;
        registry = e_source_registry_new_sync(nullptr, &error);
        if (!registry) return fail(error);

        const auto commit = [&](ESource* source) {
            const bool ok = e_source_registry_commit_source_sync(registry, source, nullptr, &error);
            g_object_unref(source);
            return ok;
        };
        // An account holding the person's address, and a local calendar under it.
        ESource* account = e_source_new_with_uid(kAccount, nullptr, nullptr);
        e_source_set_display_name(account, "Studio account");
        e_source_mail_identity_set_address(
            E_SOURCE_MAIL_IDENTITY(e_source_get_extension(account, E_SOURCE_EXTENSION_MAIL_IDENTITY)),
            "me@example.org");
        if (!commit(account)) return fail(error);
        ESource* source = e_source_new_with_uid(kCalendar, nullptr, nullptr);
        e_source_set_display_name(source, "Rushes");
        e_source_set_parent(source, kAccount);
        auto* cal = E_SOURCE_SELECTABLE(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
        e_source_backend_set_backend_name(E_SOURCE_BACKEND(cal), "local");
        e_source_selectable_set_color(cal, "#1badf8");
        if (!commit(source)) return fail(error);
        source = nullptr;
        waitUntil([&] { return (source = e_source_registry_ref_source(registry, kCalendar)) != nullptr; },
                  5000);
        if (!source) return fail(nullptr);
        writer = E_CAL_CLIENT(
            e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), nullptr, &error));
        g_object_unref(source);
        if (!writer) return fail(error);
    }

    void fail(GError* error, const char* what = "the calendar did not reach the registry") {
        problem = QString::fromUtf8(error ? error->message : what);
        g_clear_error(&error);
    }

    void add(const QString& vevent, ECalObjModType detached = E_CAL_OBJ_MOD_ALL) {
        ICalComponent* comp = i_cal_component_new_from_string(vevent.toUtf8().constData());
        ASSERT_TRUE(comp) << vevent.toStdString();
        GError* error = nullptr;
        const bool ok = detached == E_CAL_OBJ_MOD_THIS
                            ? e_cal_client_modify_object_sync(writer, comp, E_CAL_OBJ_MOD_THIS,
                                                              E_CAL_OPERATION_FLAG_NONE, nullptr, &error)
                            : e_cal_client_create_object_sync(writer, comp, E_CAL_OPERATION_FLAG_NONE,
                                                              nullptr, nullptr, &error);
        g_object_unref(comp);
        EXPECT_TRUE(ok) << (error ? error->message : "");
        g_clear_error(&error);
    }

    QString event(const QString& uid, const QString& summary, int fromMin, int toMin,
                  const QString& extra = {}) {
        return u"BEGIN:VEVENT\r\nUID:"_s + uid + u"\r\nSUMMARY:"_s + summary + u"\r\nDTSTART:"_s +
               stamp(now.addSecs(fromMin * 60)) + u"\r\nDTEND:"_s + stamp(now.addSecs(toMin * 60)) +
               u"\r\n"_s + extra + u"END:VEVENT\r\n"_s;
    }

    void stop() {
        for (QProcess* p : {&factoryProcess, &registryProcess}) {
            p->kill();
            p->waitForFinished(3000);
        }
    }

    ~Server() {
        if (writer) g_object_unref(writer);
        if (registry) g_object_unref(registry);
        stop();
    }
};

Server* server = nullptr;

// Before the server runs: not offered, and a store made anyway answers at once, empty.
TEST(NoServer, NotOfferedAndAStoreMadeAnywayAnswersEmpty) {
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus (run through dbus-run-session)";
    EXPECT_FALSE(EdsCalendarStore::serverAvailable());
    MemoryDefaults defaults;
    EdsCalendarStore store(defaults);
    EXPECT_TRUE(store.calendars().isEmpty());
    bool answered = false;
    store.events({u"anything"_s}, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc().addDays(1),
                 [&](QList<StoreEvent> e) { answered = e.isEmpty(); });
    EXPECT_TRUE(answered);
}

struct ServerStore : ::testing::Test {
    static void SetUpTestSuite() {
        if (!QFileInfo(kRegistry).isExecutable() || !QFileInfo(kFactory).isExecutable() ||
            !QDBusConnection::sessionBus().isConnected())
            return;
        server = new Server;
        server->start();
        if (!server->problem.isEmpty()) return;
        const struct {
            const char16_t *uid, *summary;
            int from, to;
            const char16_t* extra;
        } items[] = {
            {u"standup", u"Standup", -10, 20,
             u"URL:https://meet.google.com/abc-defg-hij\r\nLOCATION:Stage 4\r\n"
             u"ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.org\r\n"},
            {u"review", u"Review", 40, 70, u"DESCRIPTION:Notes on the cut\r\n"},
            {u"dropped", u"Dropped", 20, 30, u"STATUS:CANCELLED\r\n"},
            {u"declined", u"Declined", 25, 35,
             u"ATTENDEE;PARTSTAT=ACCEPTED:mailto:someone@example.org\r\nATTENDEE;PARTSTAT=DECLINED:mailto:ME@"
             u"Example.org\r\n"},
        };
        for (const auto& i : items)
            server->add(server->event(QString::fromUtf16(i.uid), QString::fromUtf16(i.summary), i.from, i.to,
                                      QString::fromUtf16(i.extra)));
        // A daily series of five; the second moved an hour later, the third removed.
        const QDateTime first = server->now.addSecs(3 * 3600);
        server->add(
            server->event(u"daily"_s, u"Dailies"_s, 180, 210,
                          u"RRULE:FREQ=DAILY;COUNT=5\r\nEXDATE:"_s + stamp(first.addDays(2)) + u"\r\n"_s));
        server->add(server->event(u"daily"_s, u"Dailies (moved)"_s, 180 + 1440 + 60, 210 + 1440 + 60,
                                  u"RECURRENCE-ID:"_s + stamp(first.addDays(1)) + u"\r\n"_s),
                    E_CAL_OBJ_MOD_THIS);
    }
    static void TearDownTestSuite() { delete std::exchange(server, nullptr); }
    void SetUp() override {
        if (!server)
            GTEST_SKIP() << "no calendar server here (" << kRegistry.toStdString() << ") or no session bus";
        ASSERT_TRUE(server->problem.isEmpty()) << server->problem.toStdString();
        defaults.setValue(u"mivra.calendarAccess"_s, 3);
        clock.set(server->now);
        files.status = CalendarAccess::fullAccess;
        files.calendarList = {{u"home"_s, u"Home"_s, {}, u"Calendars"_s}};
    }
    // The files store's one meeting, `minutes` ahead.
    void filesMeetingIn(int minutes) {
        const QDateTime start = server->now.addSecs(minutes * 60);
        files.eventList = {{.id = u"f1"_s,
                            .calendarId = u"home"_s,
                            .title = u"From files"_s,
                            .start = start,
                            .end = start.addSecs(600),
                            .url = {},
                            .location = {},
                            .notes = {}}};
    }

    // The store's calendars once the registry is connected.
    QList<StoreCalendar> calendars(EdsCalendarStore& store) {
        store.calendars();
        EXPECT_TRUE(waitUntil([&] { return store.isConnected(); }));
        return store.calendars();
    }
    QList<StoreEvent> fetch(CalendarStore& store, const QStringList& ids) {
        std::optional<QList<StoreEvent>> got;
        store.events(ids, server->now.addSecs(-3600), server->now.addDays(14),
                     [&](QList<StoreEvent> e) { got = e; });
        EXPECT_TRUE(waitUntil([&] { return got.has_value(); }, EdsCalendarStore::answerTimeoutMs() + 30000));
        return got.value_or(QList<StoreEvent>{});
    }
    static const StoreEvent* find(const QList<StoreEvent>& events, const QString& title) {
        auto it =
            std::find_if(events.begin(), events.end(), [&](const StoreEvent& e) { return e.title == title; });
        return it == events.end() ? nullptr : &*it;
    }

    MemoryDefaults defaults;
    FakeCalendarStore files;
    FakeClock clock;
    const QString serverCalendar = MergedCalendarStore::serverId(QString::fromLatin1(kCalendar));
};

TEST_F(ServerStore, ReadsCalendarsAndOccurrencesWithTheirDetails) {
    EdsCalendarStore store(defaults);
    EXPECT_TRUE(EdsCalendarStore::serverAvailable());
    EXPECT_TRUE(store.calendars().isEmpty()) << "nothing is at hand before the registry answers";
    const QList<StoreCalendar> all = calendars(store);
    auto it = std::find_if(all.begin(), all.end(),
                           [](const StoreCalendar& c) { return c.id == QLatin1StringView(kCalendar); });
    ASSERT_NE(it, all.end());
    EXPECT_EQ(it->title, u"Rushes"_s);
    EXPECT_EQ(it->source, u"Studio account"_s);
    EXPECT_EQ(it->color, QColor(0x1b, 0xad, 0xf8));

    const QList<StoreEvent> events = fetch(store, {QString::fromLatin1(kCalendar)});
    const StoreEvent* standup = find(events, u"Standup"_s);
    ASSERT_TRUE(standup);
    EXPECT_EQ(standup->calendarId, QLatin1StringView(kCalendar));
    EXPECT_EQ(standup->id, u"standup"_s);
    EXPECT_EQ(standup->start, server->now.addSecs(-600).addMSecs(-server->now.time().msec()));
    EXPECT_EQ(standup->url, QUrl(u"https://meet.google.com/abc-defg-hij"_s));
    EXPECT_EQ(standup->location, u"Stage 4"_s);
    EXPECT_EQ(standup->participation, Participation::accepted);
    EXPECT_FALSE(standup->cancelled);
    const StoreEvent* review = find(events, u"Review"_s);
    ASSERT_TRUE(review);
    EXPECT_EQ(review->notes, u"Notes on the cut"_s);
    EXPECT_EQ(review->participation, Participation::none) << "no attendee list";
    ASSERT_TRUE(find(events, u"Dropped"_s) && find(events, u"Declined"_s));
    EXPECT_TRUE(find(events, u"Dropped"_s)->cancelled);
    EXPECT_EQ(find(events, u"Declined"_s)->participation, Participation::declined)
        << "the person's attendee is found whatever the letter case, not the first attendee";

    // The series: its moved occurrence in place of the original, the removed one absent.
    QList<QDateTime> starts;
    for (const StoreEvent& e : events)
        if (e.id == u"daily"_s) starts.append(e.start);
    std::sort(starts.begin(), starts.end());
    const QDateTime first = QDateTime::fromSecsSinceEpoch(server->now.addSecs(3 * 3600).toSecsSinceEpoch());
    EXPECT_EQ(starts,
              (QList<QDateTime>{first, first.addDays(1).addSecs(3600), first.addDays(3), first.addDays(4)}));
    EXPECT_TRUE(find(events, u"Dailies (moved)"_s));
}

TEST_F(ServerStore, TheServiceShowsTheMeetingInProgressAndTheNextAndFollowsChanges) {
    EdsCalendarStore eds(defaults);
    filesMeetingIn(50);
    MergedCalendarStore merged(files, eds);
    CalendarService service(merged, clock);
    service.configure(true, {});
    const auto title = [](const std::optional<UpcomingEvent>& e) { return e ? e->title : QString(); };
    // Dropped (cancelled, +20 min) and Declined (+25 min) come before Review and are left out.
    ASSERT_TRUE(waitUntil([&] { return title(service.nextEvent()) == u"Review"_s; }))
        << title(service.nextEvent()).toStdString();
    EXPECT_EQ(title(service.currentEvent()), u"Standup"_s);
    EXPECT_EQ(service.currentEvent()->calendarTitle, u"Rushes"_s);
    EXPECT_EQ(service.currentEvent()->joinURL, QUrl(u"https://meet.google.com/abc-defg-hij"_s));

    // Added while watching: the server's change is told, so it is shown without waiting for the
    // periodic refresh.
    ASSERT_TRUE(waitUntil([&] { return eds.isWatching(); }));
    QSignalSpy told(&eds, &CalendarStore::changed);
    server->add(server->event(u"pickup"_s, u"Pickup"_s, 30, 35));
    EXPECT_TRUE(waitUntil([&] { return title(service.nextEvent()) == u"Pickup"_s; }));
    EXPECT_GE(told.count(), 1);

    // Muted, the server's calendar no longer counts; the files' meeting is next.
    service.configure(true, {serverCalendar});
    EXPECT_TRUE(waitUntil([&] { return title(service.nextEvent()) == u"From files"_s; }));
    EXPECT_FALSE(service.currentEvent());
    const QList<CalendarInfo> listed = service.allCalendars();
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const CalendarInfo& c) {
        return c.id == serverCalendar;
    })) << "muted ones stay listed";
}

// Last: the server goes away for good.
TEST_F(ServerStore, TheServerStoppingLeavesTheFilesWorking) {
    EdsCalendarStore eds(defaults);
    calendars(eds);
    filesMeetingIn(5);
    MergedCalendarStore merged(files, eds);
    const QStringList ids{u"home"_s, serverCalendar};
    ASSERT_TRUE(find(fetch(merged, ids), u"Review"_s));
    CalendarService service(merged, clock);
    service.configure(true, {});
    ASSERT_TRUE(waitUntil([&] { return service.currentEvent().has_value(); }));

    server->stop();
    ASSERT_TRUE(waitUntil([&] { return !find(fetch(merged, ids), u"Review"_s); }));
    const QList<StoreEvent> after = fetch(merged, ids);
    EXPECT_TRUE(find(after, u"From files"_s));
    EXPECT_FALSE(find(after, u"Review"_s));
    // Asked again, with the server still gone: still an answer, still no crash.
    EXPECT_TRUE(find(fetch(merged, ids), u"From files"_s));
    service.refreshEvents();
    EXPECT_TRUE(waitUntil([&] {
        return !service.currentEvent() && service.nextEvent() &&
               service.nextEvent()->title == u"From files"_s;
    }));
}

} // namespace
