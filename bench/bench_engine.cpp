// The engine's hot paths: one tick (with the delivery of the change it announces), and a start-up
// with a ten-year history and fifty large lockups.
#include "fakes/enginerig.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {
void Tick(benchmark::State& state) {
    EngineRig rig;
    TimerModel& e = rig.start();
    e.timer().stop();
    e.editSettings([](Settings& s) { s.focusMin = 1000000; });
    e.rollOrResume();
    for (auto _ : state) {
        e.tick();
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(Tick);

void StartUpWithTenYearsOfHistory(benchmark::State& state) {
    EngineRig rig;
    Json history = Json::array();
    QDate day(2016, 3, 2);
    for (int i = 0; i < 3650; ++i, day = day.addDays(1))
        history.push_back(toJson(DayStat{day.toString(u"yyyy-MM-dd"_s), i % 9, (i % 9) * 1500}));
    QList<Lockup> lockups;
    for (int l = 0; l < 50; ++l) {
        Lockup lockup{QUuid::createUuid(), u"Lockup "_s + QString::number(l), {}, {}};
        for (int s = 0; s < 200; ++s) lockup.sites << u"site%1.example%2.com"_s.arg(s).arg(l);
        lockup.apps << BlockedApp{QUuid::createUuid(), u"App"_s, u"org.example.App"_s};
        lockups << lockup;
    }
    rig.writeData(u"history.json"_s, storeText(history));
    rig.writeData(u"lockups.json"_s, storeText(toJson(lockups)));
    rig.installHelper();
    for (auto _ : state) {
        rig.start();
        state.PauseTiming();
        rig.engine.reset();
        QCoreApplication::sendPostedEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(StartUpWithTenYearsOfHistory)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
