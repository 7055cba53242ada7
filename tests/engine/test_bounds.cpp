// Stored numbers at the ends of the 64-bit range in every numeric field of every store and of the
// day counters: nothing derived from them overflows or changes sign, a valid value is kept as it
// is, and a file whose numbers had to be brought within bounds survives beside the rewrite. The
// sanitizer run of the suite turns any overflow on the way into a failure.
#include "fakes/enginerig.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QList<QByteArray> kExtremes = {"-9223372036854775808", "-1", "0", "1", "150000000000000000",
                                     "9223372036854775807", "18446744073709551615"};

// Where a number is kept: a file with "%" in its place, or a day counter of the defaults.
struct Place {
    QString where;
    QByteArray text;
};

// The text of `where` with the number under test at `at` and plain values elsewhere.
Place place(const QString& where, QByteArray text, const QByteArray& at) {
    for (const char* p : {"<W>", "<H>", "<M>", "<D>", "<T>", "<F>"})
        text.replace(p, p == at ? "%" : qstrcmp(p, "<D>") == 0 ? "25" : qstrcmp(p, "<W>") == 0 ? "2" : "0");
    return {where, text};
}

QList<Place> places() {
    QList<Place> out;
    for (const char* key : {"focusMin", "shortMin", "longMin", "reel", "allowanceMin", "meetingWarnMinutes"})
        out.append({u"settings.json"_s, R"({"allowanceEnabled": true, ")" + QByteArray(key) + R"(": %})"});
    const QByteArray block = R"([{"id": "7C9E6679-7425-40DE-944B-E07FC1F90AE7", "enabled": true, "lockGate": true,
        "lockKind": "timer", "weekdays": [<W>], "startHour": <H>, "startMinute": <M>, "durationMin": <D>}])";
    for (const char* at : {"<W>", "<H>", "<M>", "<D>"}) out.append(place(u"schedules.json"_s, block, at));
    const QByteArray day = R"([{"date": "2026-03-02", "takes": <T>, "focusedSeconds": <F>}])";
    for (const char* at : {"<T>", "<F>"}) out.append(place(u"history.json"_s, day, at));
    for (const QString& key : {u"mivra.takes"_s, u"mivra.focused"_s, u"mivra.allowanceUsed"_s, u"mivra.day"_s})
        out.append({key, {}});
    return out;
}

void expectSound(EngineRig& rig, const std::string& what) {
    const TimerModel& e = *rig.engine;
    EXPECT_GE(e.remaining(), 0) << what;
    EXPECT_GE(e.takesToday(), 0) << what;
    EXPECT_GE(e.focusedSecondsToday(), 0) << what;
    EXPECT_GE(e.allowanceUsedSeconds(), 0) << what;
    EXPECT_GE(e.allowanceLeft(), 0) << what;
    for (const DayStat& d : e.history()) EXPECT_TRUE(d.takes >= 0 && d.focusedSeconds >= 0) << what;
    EXPECT_FALSE(QString(e.clockText() + e.focusedText()).contains(u'-')) << what;
    // A block always ends after now, never at the epoch.
    const QByteArray file = rig.lockupFile();
    const qsizetype at = file.indexOf("#expires ") + 9;
    if (at >= 9) {
        EXPECT_GT(file.mid(at, file.indexOf('\n', at) - at).toLongLong(), rig.clock.now().toSecsSinceEpoch()) << what;
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
    if (!e.schedules().isEmpty()) e.startTake(e.schedules()[0].durationMin, false);
    else e.rollOrResume();
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
    for (const Place& place : places()) {
        for (const QByteArray& n : kExtremes) {
            EngineRig rig;
            const QByteArray text = QByteArray(place.text).replace('%', n);
            const std::string what = place.where.toStdString() + " " + (text.isEmpty() ? n : text).toStdString();
            rig.installHelper();
            if (place.text.isEmpty()) {
                bool inRange = false;
                const qint64 value = n.toLongLong(&inRange);
                rig.defaults.setValue(u"mivra.day"_s, u"2026-03-02"_s);
                rig.defaults.setValue(place.where, inRange ? QVariant(value) : QVariant(QString::fromLatin1(n)));
            } else {
                rig.writeData(place.where, text);
            }
            if (place.where != u"settings.json"_s) rig.writeData(u"settings.json"_s, R"({"allowanceEnabled": true})");
            rig.start();
            // A valid value is kept as it is; one brought within bounds is also kept aside.
            if (!place.text.isEmpty()) {
                if (n != "-1") {
                    EXPECT_EQ(rig.asideFiles(place.where).isEmpty(), n == "0" || n == "1") << what;
                }
                if (place.where == u"schedules.json"_s) {
                    EXPECT_EQ(rig.engine->schedules().size(), 1) << what;
                }
            }
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
