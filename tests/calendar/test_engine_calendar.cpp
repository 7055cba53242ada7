// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's calendar duties on fakes: the service wired at start-up and by settings, the warning
// before the next meeting, and the weekly scheduled takes.
#include "calendar/calendarservice.h"
#include "calendar/scheduledtakes.h"
#include "fakes/enginerig.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct CalendarRig : ::testing::Test {
    EngineRig rig;
    TimerModel* e = nullptr;

    void SetUp() override {
        rig.calendarStore.status = CalendarAccess::fullAccess;
        rig.calendarStore.calendarList = {{u"work"_s, u"Work"_s, QColor(), u"Mivra"_s},
                                          {u"home"_s, u"Home"_s, QColor(), u"Mivra"_s}};
    }
    void start(Lang lang = Lang::en) {
        e = &rig.start(lang);
        e->timer().stop(); // the tests tick by hand
    }
    StoreEvent meeting(const QString& id, qint64 startSecs, const QString& cal = u"work"_s) {
        const QDateTime start = rig.clock.now().addSecs(startSecs);
        return {.id = id,
                .calendarId = cal,
                .title = id,
                .start = start,
                .end = start.addSecs(1800),
                .url = {},
                .location = {},
                .notes = {}};
    }
    void refresh() { e->calendar().refreshEvents(); }
    QStringList bodies() const {
        QStringList out;
        for (const auto& p : rig.notifier.posts)
            out << p.body;
        return out;
    }
};
} // namespace

TEST_F(CalendarRig, StartUpConfiguresFromSettingsAndRefreshes) {
    rig.writeData(u"settings.json"_s, R"({"mutedCalendarIDs": ["work"]})");
    rig.calendarStore.eventList = {meeting(u"w"_s, 600), meeting(u"h"_s, 900, u"home"_s)};
    start();
    EXPECT_EQ(e->calendar().muted(), QSet<QString>{u"work"_s});
    ASSERT_TRUE(e->calendar().nextEvent());
    EXPECT_EQ(e->calendar().nextEvent()->id, u"h"_s);
    EXPECT_TRUE(e->calendar().observing());

    // A publication is announced to the shell on a later turn.
    int changes = 0;
    e->onChange = [&] { ++changes; };
    QCoreApplication::sendPostedEvents();
    changes = 0;
    refresh();
    EXPECT_EQ(changes, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(changes, 1);

    e->editSettings([](Settings& s) { s.mutedCalendarIDs = {u"home"_s}; });
    EXPECT_EQ(e->calendar().nextEvent()->id, u"w"_s);
    e->editSettings([](Settings& s) { s.calendarEnabled = false; });
    EXPECT_FALSE(e->calendar().nextEvent());
    EXPECT_FALSE(e->calendar().isEnabled());
}

TEST_F(CalendarRig, LeadTimeEdgesAndSwitches) {
    // An empty body: no warning. No join link, no hint.
    struct Case {
        const char* name;
        qint64 leadMin, startSecs;
        QString body;
        bool calendarOn = true, warningsOn = true;
        QString notes = {};
    };
    const QList<Case> cases{
        {"4 min 10 s gives 5, with the hint", 5, 250, u"Starts in 5 min. Join link's in the slate."_s, true,
         true, u"https://acme.zoom.us/j/1"_s},
        {"lead 0 acts as 1, too early", 0, 61, {}},
        {"lead 0 acts as 1", 0, 60, u"Starts in 1 min."_s},
        {"negative lead acts as 1", -5, 45, u"Starts in 1 min."_s},
        {"found late, 2 minutes away", 10, 120, u"Starts in 2 min."_s},
        {"just outside the window", 5, 301, {}},
        {"a second away", 5, 1, u"Starts in 1 min."_s},
        {"in progress", 5, -60, {}},
        {"a huge lead never overflows", INT64_MAX / 2, 86400, u"Starts in 1440 min."_s},
        {"warnings off", 5, 120, {}, true, false},
        {"calendar off", 5, 120, {}, false, true},
    };
    for (const Case& c : cases) {
        rig.notifier.posts.clear();
        rig.calendarStore.eventList = {meeting(QString::fromLatin1(c.name), c.startSecs)};
        rig.calendarStore.eventList[0].notes = c.notes;
        start();
        e->editSettings([&](Settings& s) {
            s.meetingWarnMinutes = c.leadMin;
            s.calendarEnabled = c.calendarOn;
            s.meetingWarnEnabled = c.warningsOn;
        });
        rig.ticks(2);
        EXPECT_EQ(bodies(), c.body.isEmpty() ? QStringList() : QStringList{c.body}) << c.name;
    }
}

TEST_F(CalendarRig, MovedOrInterleavedMeetingsAreWarnedAgain) {
    // The review has no identifier: every refresh gives it a fresh one, and it is still warned once.
    const auto review = [&](qint64 secs) {
        StoreEvent m = meeting(u"review"_s, secs);
        m.id.clear();
        return m;
    };
    const auto step = [&](QList<StoreEvent> events) {
        rig.calendarStore.eventList = std::move(events);
        refresh();
        rig.ticks(1);
    };
    rig.calendarStore.eventList = {review(240)};
    start(Lang::fr);
    rig.ticks(1);
    EXPECT_EQ(rig.notifier.posts.last().title, u"Attention — review"_s);
    EXPECT_EQ(rig.notifier.posts.last().body, u"Commence dans 4 min."_s);
    EXPECT_EQ(rig.sound.plays, 1);
    EXPECT_EQ(e->lastWarnedMeeting(), e->calendar().nextEvent()->warnKey());
    const QList<StoreEvent> same = rig.calendarStore.eventList;
    step(same);
    step(same);
    EXPECT_EQ(rig.notifier.posts.size(), 1);

    // Moved later, then back inside the window: a new start is a new key.
    step({review(3600)});
    EXPECT_EQ(rig.notifier.posts.size(), 1);
    step({review(200)});
    EXPECT_EQ(rig.notifier.posts.size(), 2);

    // A closer meeting is warned on its own; going back to the first warns it again.
    const StoreEvent moved = rig.calendarStore.eventList.first();
    step({moved, meeting(u"call"_s, 100)});
    EXPECT_EQ(rig.notifier.posts.last().title, u"Attention — call"_s);
    step({moved});
    EXPECT_EQ(rig.notifier.posts.last().title, u"Attention — review"_s);
    EXPECT_EQ(rig.notifier.posts.size(), 4);
}

TEST_F(CalendarRig, LockedTakeStillGetsTheWarningAndGoesOn) {
    rig.calendarStore.eventList = {meeting(u"sync"_s, 180)};
    start();
    e->setPendingLock(LockKind::timer);
    e->rollOrResume();
    ASSERT_TRUE(e->gateLocked());
    const qint64 before = e->remaining();
    rig.ticks(1);
    EXPECT_EQ(rig.notifier.posts.size(), 1);
    EXPECT_TRUE(e->running() && e->phase() == Phase::rolling);
    EXPECT_EQ(e->remaining(), before - 1);
}

namespace {
ScheduleBlock block(QList<int> weekdays, int hour, int minute, qint64 duration = 50) {
    return {.id = QUuid::createUuid(),
            .weekdays = std::move(weekdays),
            .startHour = hour,
            .startMinute = minute,
            .durationMin = duration,
            .lockupID = {},
            .lockGate = false,
            .lockKind = LockKind::none};
}

struct Schedules : CalendarRig {
    void SetUp() override {
        CalendarRig::SetUp();
        rig.calendarStore.status = CalendarAccess::notDetermined;
        // Monday 2 March 2026, 08:29:50 in Paris.
        rig.clock.setZone(QTimeZone("Europe/Paris"));
        rig.clock.set(QDateTime(QDate(2026, 3, 2), QTime(8, 29, 50), QTimeZone("Europe/Paris")));
        start();
    }
    int callTimes() const {
        return std::count_if(rig.notifier.posts.begin(), rig.notifier.posts.end(),
                             [](const auto& p) { return p.title == u"Call time."_s; });
    }
    // The checks of one minute, every twenty seconds from its start.
    void checkMinute() {
        for (int i = 0; i < 3; ++i) {
            e->checkScheduledTakes();
            rig.clock.advance(20);
        }
    }
};
} // namespace

TEST_F(Schedules, FiresOnceInItsMinuteWithTheBlocksLength) {
    e->setSchedules({block({2}, 8, 30, 50)});
    e->checkScheduledTakes(); // 08:29:50
    EXPECT_EQ(e->phase(), Phase::standby);
    rig.clock.advance(10);
    e->checkScheduledTakes();
    EXPECT_EQ(rig.notifier.posts.last().body, u"Scheduled take — the set is closing."_s);
    EXPECT_TRUE(e->running() && e->phase() == Phase::rolling);
    EXPECT_EQ(e->remaining(), 50 * 60);
    EXPECT_EQ(e->lastFiredMinute(), u"2026-03-02T07:30"_s); // the minute in UTC
    // Stopped at once, the take does not start again in the same minute.
    EXPECT_TRUE(e->cutTake(std::nullopt));
    rig.clock.advance(20);
    checkMinute();
    EXPECT_EQ(e->phase(), Phase::standby);
    EXPECT_EQ(callTimes(), 1);
}

TEST_F(Schedules, FirstMatchWinsAndOthersNeverFire) {
    ScheduleBlock off = block({2}, 8, 30, 10);
    off.enabled = false;
    e->setSchedules({off, block({}, 8, 30, 20), block({1, 3, 4, 5, 6, 7}, 8, 30, 30), block({2}, 8, 31, 40),
                     block({2, 3}, 8, 30, 45), block({2}, 8, 30, 55)});
    rig.clock.advance(10);
    checkMinute();
    EXPECT_EQ(callTimes(), 1);
    EXPECT_EQ(e->remaining(), 45 * 60);
}

TEST_F(Schedules, BarredWhileBusyAndFiresWhenTheBarLiftsInTime) {
    e->setSchedules({block({2}, 8, 30, 50)});
    e->editSettings([](Settings& s) {
        s.allowanceEnabled = true;
        s.focusMin = 25;
    });
    struct Bar {
        const char* name;
        std::function<void()> raise, lift;
    };
    const QList<Bar> bars{
        {"a running take", [&] { e->rollOrResume(); }, [&] { e->cutTake(std::nullopt); }},
        {"a paused take",
         [&] {
             e->rollOrResume();
             e->pause();
         },
         [&] { e->cutTake(std::nullopt); }},
        {"a setup",
         [&] {
             e->startTake(0, false);
             e->tick();
         },
         [&] { e->skipBreak(); }},
        {"the open set", [&] { e->openSet(); }, [&] { e->closeSet(); }},
    };
    QDate monday(2026, 3, 2);
    for (const Bar& bar : bars) {
        rig.notifier.posts.clear();
        rig.clock.set(QDateTime(monday, QTime(8, 30), QTimeZone("Europe/Paris")));
        monday = monday.addDays(7);
        bar.raise();
        const Phase phase = e->phase();
        e->checkScheduledTakes();
        EXPECT_EQ(callTimes(), 0) << bar.name;
        EXPECT_EQ(e->phase(), phase) << bar.name;
        bar.lift();
        rig.clock.advance(20);
        e->checkScheduledTakes();
        EXPECT_EQ(callTimes(), 1) << bar.name;
        EXPECT_EQ(e->remaining(), 50 * 60) << bar.name;
        e->cutTake(std::nullopt);
    }
}

TEST_F(Schedules, GateAndLockupOfTheBlock) {
    const QUuid other = e->lockups().at(1).id;
    ScheduleBlock unlocked = block({2}, 8, 30);
    unlocked.lockKind = LockKind::password;
    unlocked.lockupID = other;
    e->setPendingLock(LockKind::timer);
    e->setSchedules({unlocked});
    rig.clock.advance(10);
    e->checkScheduledTakes();
    EXPECT_EQ(e->pendingLock(), LockKind::none);
    EXPECT_FALSE(e->gateLocked());
    EXPECT_EQ(e->lockupInEffect()->id, other);
    // The switch persists: it is in the settings file and outlives the take.
    EXPECT_TRUE(
        rig.readData(u"settings.json"_s).contains(other.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
    while (e->phase() == Phase::rolling)
        e->tick();
    EXPECT_EQ(e->settings().activeLockupID, other);

    e->skipBreak();
    ScheduleBlock locked = block({2}, 9, 0);
    locked.lockGate = true;
    locked.lockKind = LockKind::timer;
    e->setSchedules({locked});
    rig.clock.set(QDateTime(QDate(2026, 3, 2), QTime(9, 0), QTimeZone("Europe/Paris")));
    e->checkScheduledTakes();
    EXPECT_TRUE(e->gateLocked() && e->lockKind() == LockKind::timer);
    EXPECT_EQ(e->settings().activeLockupID, other); // no lockup named: left alone
}

TEST_F(Schedules, TheRepeatedAutumnHourFiresTwice) {
    // 25 October 2026, a Sunday: 02:30 happens at 00:30 and again at 01:30 UTC.
    e->setSchedules({block({1}, 2, 30, 5)});
    for (int utcHour : {0, 1}) {
        rig.clock.set(QDateTime(QDate(2026, 10, 25), QTime(utcHour, 30, 5), QTimeZone::utc()));
        e->checkScheduledTakes();
        EXPECT_EQ(e->phase(), Phase::rolling) << utcHour;
        e->cutTake(std::nullopt);
    }
    EXPECT_EQ(callTimes(), 2);
}

TEST_F(Schedules, AZoneTheSystemCannotResolveReadsAsUtcAsTheDayLedgerDoes) {
    rig.clock.setZone(QTimeZone("Nowhere/Atlantis"));
    e->setSchedules({block({2}, 9, 0, 5)});
    rig.clock.set(QDateTime(QDate(2026, 3, 2), QTime(9, 0, 5), QTimeZone::utc()));
    e->checkScheduledTakes();
    EXPECT_EQ(e->phase(), Phase::rolling);
    EXPECT_EQ(e->dayKey(), u"2026-03-02"_s);
}

TEST_F(Schedules, TheTickChecksEveryTwentiethTickAfterTheDay) {
    e->setSchedules({block({2}, 8, 30)});
    rig.clock.advance(10);
    rig.ticks(19);
    EXPECT_EQ(callTimes(), 0);
    rig.ticks(1);
    EXPECT_EQ(callTimes(), 1);
}
