// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar files read by the reader process: hostile files are skipped and remembered, the rest
// is read, and nothing waits on the reader.
#include "fakes/fakes.h"
#include "platform/linux/calendarreaderstore.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray calendar(const QByteArray& body) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Mivra//Tests//EN\r\n" + body + "END:VCALENDAR\r\n";
}
QByteArray event(const char* uid, const QByteArray& title, const QDateTime& start,
                 const QByteArray& extra = {}) {
    const auto utc = [](const QDateTime& t) {
        return t.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"_s).toLatin1();
    };
    return "BEGIN:VEVENT\r\nUID:" + QByteArray(uid) +
           "\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:" + utc(start) + "\r\nDTEND:" + utc(start.addSecs(3600)) +
           "\r\nSUMMARY:" + title + "\r\n" + extra + "END:VEVENT\r\n";
}

struct Reader {
    CalendarReaderStore& store;
    QList<StoreCalendar> calendars() {
        // The first answer is the list known so far; a new one is told by `changed`.
        QList<StoreCalendar> list = store.calendars();
        bool told = false;
        auto c = QObject::connect(&store, &CalendarStore::changed, [&] { told = true; });
        // The list is asked for again until two answers agree.
        for (int i = 0; i < 20; ++i) {
            told = false;
            QList<StoreCalendar> again = store.calendars();
            std::optional<QList<StoreEvent>> sync;
            store.events({}, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc(),
                         [&](QList<StoreEvent> e) { sync = std::move(e); });
            EXPECT_TRUE(waitUntil([&] { return sync.has_value(); }));
            list = store.calendars();
            if (!told) break;
        }
        QObject::disconnect(c);
        return list;
    }
    QList<StoreEvent> events(const QStringList& ids) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        std::optional<QList<StoreEvent>> out;
        store.events(ids, now.addSecs(-3600), now.addDays(14),
                     [&](QList<StoreEvent> e) { out = std::move(e); });
        EXPECT_FALSE(out) << "the caller never waits for the reader";
        EXPECT_TRUE(waitUntil([&] { return out.has_value(); }, 120000));
        return out.value_or(QList<StoreEvent>{});
    }
};

QStringList titles(const QList<StoreEvent>& events) {
    QStringList out;
    for (const StoreEvent& e : events)
        out << e.title;
    out.sort();
    return out;
}
} // namespace

TEST(CalendarReader, HostileFilesAreSkippedRememberedAndTheRestIsRead) {
    QTemporaryDir dir;
    const QString work = dir.path() + u"/root/work"_s;
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(7200);
    writeFile(work + u"/good.ics"_s, calendar(event("good", "Good meeting", soon)));
    // A rule that never matches: the library searches for its next occurrence for ever.
    writeFile(work + u"/never.ics"_s,
              calendar(event("never", "Never", soon, "RRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30\r\n")));
    // A zone whose rule starts in year 1 and changes every second.
    writeFile(work + u"/zone.ics"_s,
              calendar("BEGIN:VTIMEZONE\r\nTZID:Evil\r\nBEGIN:STANDARD\r\nDTSTART:00010101T000000\r\n"
                       "RRULE:FREQ=SECONDLY\r\nTZOFFSETFROM:+0000\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\n"
                       "END:VTIMEZONE\r\nBEGIN:VEVENT\r\nUID:zone\r\nDTSTAMP:20260101T000000Z\r\n"
                       "DTSTART;TZID=Evil:" +
                       soon.toString(u"yyyyMMdd'T'HHmmss"_s).toLatin1() +
                       "\r\nSUMMARY:Zoned\r\nEND:VEVENT\r\n"));
    // Beyond the size limit: never read, whatever it holds.
    {
        QFile big(work + u"/big.ics"_s);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(kMaxCalendarFileBytes + 1));
    }
    // A pipe where the calendar's name should be: opening it would block.
    ASSERT_EQ(::mkfifo(QFile::encodeName(work + u"/displayname"_s).constData(), 0600), 0);

    MemoryDefaults defaults;
    CalendarReaderStore store(defaults, {{dir.path() + u"/root"_s, u"t"_s, u"Tests"_s, false}},
                              QStringLiteral(MIVRA_CALENDAR_READER));
    store.setFileBudget(500);
    Reader reader{store};
    QList<StoreCalendar> list = reader.calendars();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].title, u"work"_s);

    EXPECT_EQ(titles(reader.events({list[0].id})), QStringList{u"Good meeting"_s});
    QStringList skipped;
    for (const auto& f : store.skippedFiles())
        skipped << QFileInfo(f.path).fileName();
    skipped.sort();
    EXPECT_EQ(skipped, (QStringList{u"never.ics"_s, u"zone.ics"_s}));
    list = reader.calendars();
    EXPECT_EQ(list.value(0).skipped, (QStringList{u"big.ics"_s, u"never.ics"_s, u"zone.ics"_s}));

    // Remembered: the next refresh neither reads them again nor needs a new reader.
    const qint64 pid = store.readerPid();
    EXPECT_EQ(titles(reader.events({list[0].id})), QStringList{u"Good meeting"_s});
    EXPECT_EQ(store.readerPid(), pid);

    // A skipped file that changes is another file: it is read again.
    writeFile(work + u"/.never.tmp"_s, calendar(event("never", "Fixed", soon)));
    ASSERT_EQ(::rename(QFile::encodeName(work + u"/.never.tmp"_s).constData(),
                       QFile::encodeName(work + u"/never.ics"_s).constData()),
              0);
    EXPECT_TRUE(waitUntil([&] {
        return titles(reader.events({list[0].id})) == QStringList{u"Fixed"_s, u"Good meeting"_s};
    }));
}

TEST(CalendarReader, AMissingReaderAnswersWithNothing) {
    QTemporaryDir dir;
    MemoryDefaults defaults;
    CalendarReaderStore store(defaults, {{dir.path(), u"t"_s, u"Tests"_s, false}},
                              dir.path() + u"/no-reader"_s);
    Reader reader{store};
    EXPECT_TRUE(reader.calendars().isEmpty());
    EXPECT_TRUE(reader.events({u"t:x"_s}).isEmpty());
}
