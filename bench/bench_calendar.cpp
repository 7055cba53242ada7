// SPDX-License-Identifier: GPL-3.0-or-later
// The file calendar store with 10,000 items in one collection: the first load, and the refresh of
// every thirty seconds when nothing changed (through the calendar service, as the timer runs it).
#include "calendar/calendarservice.h"
#include "calendar/ical/icalstore.h"
#include "fakes/fakes.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
const QDateTime kNow(QDate(2026, 3, 4), QTime(9, 0), QTimeZone::utc());

QByteArray stamp(const QDateTime& t) {
    return t.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"_s).toLatin1();
}

// One folder of items spread over two years around now, as a busy work calendar holds them: single
// meetings, one in fifty a series in a named zone (weekly, or daily for a few weeks), a third with
// attendees and a meeting link.
struct Collection {
    QTemporaryDir dir;
    QString root() const { return dir.path() + u"/calendars"_s; }

    explicit Collection(int items) {
        const QString folder = root() + u"/work"_s;
        writeFile(folder + u"/displayname"_s, "Work\n");
        for (int i = 0; i < items; ++i) {
            const QDateTime start = kNow.addSecs((i % 730 - 365) * 12 * 3600 + (i % 7) * 900);
            QByteArray ev =
                "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nBEGIN:VEVENT\r\nUID:item-" +
                QByteArray::number(i) + "\r\nSUMMARY:Meeting " + QByteArray::number(i) + "\r\n";
            if (i % 50 == 0) {
                ev += "DTSTART;TZID=Europe/Paris:" + start.toString(u"yyyyMMdd'T'HHmmss"_s).toLatin1() +
                      "\r\nDURATION:PT45M\r\n" +
                      (i % 100 == 0 ? "RRULE:FREQ=WEEKLY\r\n" : "RRULE:FREQ=DAILY;COUNT=30\r\n");
            } else {
                ev += "DTSTART:" + stamp(start) + "\r\nDTEND:" + stamp(start.addSecs(1800)) + "\r\n";
            }
            if (i % 3 == 0)
                ev += "ATTENDEE;PARTSTAT=ACCEPTED:mailto:me@example.com\r\n"
                      "ATTENDEE;PARTSTAT=NEEDS-ACTION:mailto:other@example.com\r\n"
                      "DESCRIPTION:Join at https://acme.zoom.us/j/" +
                      QByteArray::number(i) + "\r\n";
            ev += "LOCATION:Room " + QByteArray::number(i % 40) + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
            writeFile(folder + u"/item-"_s + QString::number(i) + u".ics"_s, ev);
        }
    }
    QList<CalendarRoot> roots() const { return {{root(), u"b"_s, u"Bench"_s, false}}; }
};

Collection& tenThousand() {
    static Collection c(10000);
    return c;
}

// Collections of other sizes, made once each.
Collection& collectionOf(int items) {
    if (items == 10000) return tenThousand();
    static std::map<int, std::unique_ptr<Collection>> made;
    std::unique_ptr<Collection>& c = made[items];
    if (!c) c = std::make_unique<Collection>(items);
    return *c;
}

// A new store reads every item once.
void FirstLoad(benchmark::State& state) {
    Collection& c = tenThousand();
    MemoryDefaults defaults;
    for (auto _ : state) {
        IcalCalendarStore store(defaults, c.roots());
        const QList<StoreCalendar> cals = store.calendars();
        qsizetype found = 0;
        store.events({cals.first().id}, kNow.addSecs(-3600), kNow.addDays(14),
                     [&](QList<StoreEvent> events) { found = events.size(); });
        if (store.filesParsed() != 10000) state.SkipWithError("not every item was read");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(FirstLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// The thirty-second refresh: the clock moves on, no file changed, the same meetings come back.
void RefreshNothingChanged(benchmark::State& state) {
    Collection& c = tenThousand();
    MemoryDefaults defaults;
    defaults.setValue(u"mivra.calendarAccess"_s, 3);
    IcalCalendarStore store(defaults, c.roots());
    FakeClock clock(kNow, QTimeZone("Europe/Paris"));
    CalendarService service(store, clock);
    service.configure(true, {});
    const qint64 parsed = store.filesParsed();
    for (auto _ : state) {
        clock.advance(30);
        service.refreshEvents();
    }
    if (store.filesParsed() != parsed) state.SkipWithError("an unchanged item was read again");
    if (!service.nextEvent()) state.SkipWithError("no next meeting");
}
BENCHMARK(RefreshNothingChanged)->Unit(benchmark::kMillisecond);

// A refresh after an item was added: every item's size and time checked, one file read.
void RefreshAfterOneItemAdded(benchmark::State& state) {
    Collection& c = collectionOf(int(state.range(0)));
    MemoryDefaults defaults;
    defaults.setValue(u"mivra.calendarAccess"_s, 3);
    IcalCalendarStore store(defaults, c.roots());
    FakeClock clock(kNow, QTimeZone("Europe/Paris"));
    CalendarService service(store, clock);
    service.configure(true, {});
    const QByteArray item = readFile(c.root() + u"/work/item-1.ics"_s);
    int added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(c.root() + u"/work/added-"_s + QString::number(added++) + u".ics"_s, item);
        state.ResumeTiming();
        clock.advance(30);
        service.refreshEvents();
    }
    for (int i = 0; i < added; ++i)
        QFile::remove(c.root() + u"/work/added-"_s + QString::number(i) + u".ics"_s);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(RefreshAfterOneItemAdded)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// The store's two parts of that refresh on their own: listing the calendars, and the events of the
// window (every item's size and time checked, nothing read).
void StoreCalendars(benchmark::State& state) {
    MemoryDefaults defaults;
    IcalCalendarStore store(defaults, tenThousand().roots());
    for (auto _ : state)
        benchmark::DoNotOptimize(store.calendars());
}
BENCHMARK(StoreCalendars)->Unit(benchmark::kMillisecond);

void StoreEvents(benchmark::State& state) {
    MemoryDefaults defaults;
    IcalCalendarStore store(defaults, tenThousand().roots());
    const QString id = store.calendars().first().id;
    QDateTime now = kNow;
    qsizetype found = 0;
    store.events({id}, now.addSecs(-3600), now.addDays(14), [&](QList<StoreEvent> e) { found = e.size(); });
    for (auto _ : state) {
        now = now.addSecs(30);
        store.events({id}, now.addSecs(-3600), now.addDays(14),
                     [&](QList<StoreEvent> e) { found = e.size(); });
    }
    state.counters["events"] = static_cast<double>(found);
}
BENCHMARK(StoreEvents)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
