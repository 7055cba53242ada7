// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's hot paths: one tick (with the delivery of the change it announces), and a start-up
// with a ten-year history and fifty large lockups.
#include "fakes/enginerig.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {
// A running take far from its end, with a listener for the change announcements.
struct RunningEngine {
    EngineRig rig;
    TimerModel& e = rig.start();
    qint64 announcements = 0;

    RunningEngine() {
        e.timer().stop();
        e.editSettings([](Settings& s) { s.focusMin = 1000000; });
        e.rollOrResume();
        e.onChange = [this] { ++announcements; };
        QCoreApplication::sendPostedEvents();
    }
};

// A tick as the timer gives it, then the turn of the event loop that delivers its announcement.
// Every twentieth tick also checks for a new day.
void Tick(benchmark::State& state) {
    RunningEngine r;
    for (auto _ : state) {
        r.e.tick();
        QCoreApplication::sendPostedEvents();
    }
    if (r.announcements < state.iterations()) state.SkipWithError("a tick went unannounced");
}
BENCHMARK(Tick);

// The engine's own part of a tick: ticks within one turn share the announcement already waiting,
// so none of them posts another.
void TickWhileAnAnnouncementWaits(benchmark::State& state) {
    RunningEngine r;
    r.e.notifyChange();
    for (auto _ : state)
        r.e.tick();
    QCoreApplication::sendPostedEvents();
}
BENCHMARK(TickWhileAnAnnouncementWaits);

// The part of a tick that is Qt's: posting the queued announcement and delivering it.
void ChangeAnnouncement(benchmark::State& state) {
    RunningEngine r;
    for (auto _ : state) {
        r.e.notifyChange();
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(ChangeAnnouncement);

// The day check of every twentieth tick, on a day that goes on.
void DayCheck(benchmark::State& state) {
    RunningEngine r;
    for (auto _ : state)
        r.e.checkDayRollover();
}
BENCHMARK(DayCheck);

// A data folder with 3,650 days of history and 50 lockups of 200 sites each.
struct LargeData {
    EngineRig rig;
    QByteArray history;

    LargeData() {
        QList<DayStat> days;
        QDate day(2016, 3, 2);
        for (int i = 0; i < 3650; ++i, day = day.addDays(1))
            days.append(DayStat{day.toString(u"yyyy-MM-dd"_s), i % 9, (i % 9) * 1500});
        QList<Lockup> lockups;
        for (int l = 0; l < 50; ++l) {
            Lockup lockup{QUuid::createUuid(), u"Lockup "_s + QString::number(l), {}, {}};
            for (int s = 0; s < 200; ++s)
                lockup.sites << u"site%1.example%2.com"_s.arg(s).arg(l);
            lockup.apps << BlockedApp{QUuid::createUuid(), u"App"_s, u"org.example.App"_s};
            lockups << lockup;
        }
        history = storeText(days);
        rig.writeData(u"history.json"_s, history);
        rig.writeData(u"lockups.json"_s, storeText(lockups));
        rig.installHelper();
    }
    void stop() {
        rig.engine.reset();
        QCoreApplication::sendPostedEvents();
    }
};

// A relaunch on a day already recorded: every store is read, decoded and found up to date.
void StartUpWithTenYearsOfHistory(benchmark::State& state) {
    LargeData data;
    data.rig.start(); // the first launch of the day records it
    data.stop();
    for (auto _ : state) {
        data.rig.start();
        state.PauseTiming();
        data.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(StartUpWithTenYearsOfHistory)->Unit(benchmark::kMillisecond);

// The first launch of a day: the same, and a new record written to history.json, synced to disk.
void FirstStartOfTheDayWithTenYearsOfHistory(benchmark::State& state) {
    LargeData data;
    for (auto _ : state) {
        data.rig.start();
        state.PauseTiming();
        data.stop();
        data.rig.writeData(u"history.json"_s, data.history);
        state.ResumeTiming();
    }
}
BENCHMARK(FirstStartOfTheDayWithTenYearsOfHistory)->Unit(benchmark::kMillisecond);

// Rolling a take with one lockup of N sites (the file written), then cutting it (the file emptied).
void RollAndCutATake(benchmark::State& state) {
    EngineRig rig;
    Lockup lockup{QUuid::createUuid(), u"Large"_s, {}, {}};
    for (int s = 0; s < state.range(0); ++s)
        lockup.sites << u"site%1.example.com"_s.arg(s);
    rig.writeData(u"lockups.json"_s, storeText(QList<Lockup>{lockup}));
    rig.installHelper();
    TimerModel& e = rig.start();
    e.timer().stop();
    e.selectLockup(lockup.id);
    for (auto _ : state) {
        e.rollOrResume();
        e.cutTake(std::nullopt);
        QCoreApplication::sendPostedEvents();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(RollAndCutATake)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond)->Complexity();

// The lockup file's text for N sites, and writing it.
void WriteTheLockupFile(benchmark::State& state) {
    EngineRig rig;
    rig.installHelper();
    QStringList sites;
    for (int s = 0; s < state.range(0); ++s)
        sites << u"site%1.example.com"_s.arg(s);
    TimerModel& e = rig.start();
    const QDateTime expiry = QDateTime::currentDateTimeUtc().addSecs(1500);
    for (auto _ : state)
        e.blocker().apply(sites, expiry, true);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(WriteTheLockupFile)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
