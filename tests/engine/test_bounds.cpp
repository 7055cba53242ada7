// SPDX-License-Identifier: GPL-3.0-or-later
// Stored numbers at the ends of the 64-bit range in every numeric field of every store and of the
// day counters: nothing derived from them overflows or changes sign, a valid value is kept as it
// is, and a file whose numbers had to be brought within bounds survives beside the rewrite. The
// sanitizer run of the suite turns any overflow on the way into a failure.
#include "fakes/enginerig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QList<QByteArray> kExtremes = {
    "-9223372036854775808", "-1", "0", "1", "150000000000000000", "9223372036854775807",
    "18446744073709551615"};

// Where a number is kept: a file with "%" in its place, or a day counter of the defaults.
const QByteArray kBlock =
    R"([{"id": "7C9E6679-7425-40DE-944B-E07FC1F90AE7", "enabled": true, "lockGate": true,
    "lockKind": "timer", )";
const QList<QPair<QString, QByteArray>> kPlaces = {
    {u"settings.json"_s, R"({"allowanceEnabled": true, "focusMin": %})"},
    {u"settings.json"_s, R"({"allowanceEnabled": true, "shortMin": %})"},
    {u"settings.json"_s, R"({"allowanceEnabled": true, "longMin": %})"},
    {u"settings.json"_s, R"({"allowanceEnabled": true, "reel": %})"},
    {u"settings.json"_s, R"({"allowanceEnabled": true, "allowanceMin": %})"},
    {u"settings.json"_s, R"({"allowanceEnabled": true, "meetingWarnMinutes": %})"},
    {u"schedules.json"_s,
     kBlock + R"("weekdays": [%], "startHour": 9, "startMinute": 0, "durationMin": 25}])"},
    {u"schedules.json"_s,
     kBlock + R"("weekdays": [2], "startHour": %, "startMinute": 0, "durationMin": 25}])"},
    {u"schedules.json"_s,
     kBlock + R"("weekdays": [2], "startHour": 9, "startMinute": %, "durationMin": 25}])"},
    {u"schedules.json"_s,
     kBlock + R"("weekdays": [2], "startHour": 9, "startMinute": 0, "durationMin": %}])"},
    {u"history.json"_s, R"([{"date": "2026-03-02", "takes": %, "focusedSeconds": 0}])"},
    {u"history.json"_s, R"([{"date": "2026-03-02", "takes": 0, "focusedSeconds": %}])"},
    {u"mivra.takes"_s, {}},
    {u"mivra.focused"_s, {}},
    {u"mivra.allowanceUsed"_s, {}},
    {u"mivra.day"_s, {}},
};

void expectSound(EngineRig& rig, const std::string& what) {
    const TimerModel& e = *rig.engine;
    EXPECT_TRUE(e.remaining() >= 0 && e.takesToday() >= 0 && e.focusedSecondsToday() >= 0 &&
                e.allowanceUsedSeconds() >= 0 && e.allowanceLeft() >= 0)
        << what;
    for (const DayStat& d : e.history())
        EXPECT_TRUE(d.takes >= 0 && d.focusedSeconds >= 0) << what;
    EXPECT_FALSE(QString(e.clockText() + e.focusedText()).contains(u'-')) << what;
    // A block always ends after now, never at the epoch.
    const QByteArray file = rig.lockupFile();
    const qsizetype at = file.indexOf("#expires ") + 9;
    if (at >= 9) {
        EXPECT_GT(file.mid(at, file.indexOf('\n', at) - at).toLongLong(), rig.clock.now().toSecsSinceEpoch())
            << what;
    }
}

// Everything the engine derives from its numbers: the open set, takes and their breaks, the next
// day, and a relaunch.
void exercise(EngineRig& rig, const std::string& what) {
    TimerModel& e = *rig.engine;
    expectSound(rig, what);
    e.openSet();
    rig.liveTicks(5);
    e.closeSet();
    expectSound(rig, what);
    // A scheduled take runs for its own length.
    if (!e.schedules().isEmpty())
        e.startTake(e.schedules()[0].durationMin, false);
    else
        e.rollOrResume();
    for (int i = 0; i < 3; ++i) {
        expectSound(rig, what);
        e.phaseEnded();
        expectSound(rig, what);
        e.rollOrResume();
    }
    rig.clock.advance(24 * 3600);
    rig.liveTicks(20);
    expectSound(rig, what);
    rig.start();
    expectSound(rig, what);
}
} // namespace

TEST(Bounds, NoStoredNumberOverflowsOrChangesSign) {
    for (const auto& [where, pattern] : kPlaces) {
        for (const QByteArray& n : kExtremes) {
            EngineRig rig;
            const QByteArray text = QByteArray(pattern).replace('%', n);
            const std::string what = where.toStdString() + " " + (text.isEmpty() ? n : text).toStdString();
            rig.installHelper();
            bool inRange = false;
            const qint64 value = n.toLongLong(&inRange);
            if (!text.isEmpty())
                rig.writeData(where, text);
            else
                rig.defaults.setValue(where, inRange ? QVariant(value) : QVariant(QString::fromLatin1(n)));
            if (text.isEmpty() && where != u"mivra.day"_s)
                rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
            if (where != u"settings.json"_s)
                rig.writeData(u"settings.json"_s, R"({"allowanceEnabled": true})");
            rig.start();
            // A valid value is kept as it is; one brought within bounds is kept aside too.
            const bool valid = n == "0" || n == "1";
            EXPECT_TRUE(text.isEmpty() || n == "-1" || rig.asideFiles(where).isEmpty() == valid) << what;
            EXPECT_TRUE(where != u"schedules.json"_s || rig.engine->schedules().size() == 1) << what;
            exercise(rig, what);
        }
    }
}

TEST(Bounds, SettingsFromTheInterfaceAreBoundedToo) {
    EngineRig rig;
    rig.installHelper();
    TimerModel& e = rig.start();
    e.editSettings([](Settings& s) {
        s.focusMin = std::numeric_limits<qint64>::max();
        s.allowanceMin = std::numeric_limits<qint64>::min();
        s.allowanceEnabled = true;
    });
    EXPECT_EQ(rig.readData(u"settings.json"_s), storeText(e.settings()));
    exercise(rig, "edited settings");
    rig.engine->startTake(std::numeric_limits<qint64>::min(), false);
    EXPECT_EQ(rig.engine->remaining(), 0);
    rig.engine->startTake(std::numeric_limits<qint64>::max(), false);
    expectSound(rig, "a scheduled take of any length");
}
