// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/statspanel.h"
#include "ui/panels/statssummary.h"

#include "fakes/enginerig.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QDate kToday(2026, 3, 18); // a Wednesday

DayStat day(int daysAgo, qint64 takes, qint64 seconds = 0) {
    return DayStat{dayKeyOf(kToday.addDays(-daysAgo)), takes, seconds};
}
} // namespace

TEST(StatsSummary, StreaksAndFigures) {
    struct Case {
        const char* name;
        QList<DayStat> history;
        qint64 current, best, shootingDays, bestDay, lifetime, todayBar;
        double average;
    };
    const Case cases[] = {
        {"empty history", {}, 0, 0, 0, 0, 0, 0, 0.0},
        {"today only", {day(0, 3)}, 1, 1, 1, 3, 3, 3, 3.0},
        {"yesterday and the day before, none today", {day(2, 1), day(1, 2)}, 2, 2, 2, 2, 3, 0, 1.5},
        {"and then a take today", {day(2, 1), day(1, 2), day(0, 1)}, 3, 3, 3, 2, 4, 1, 4.0 / 3},
        {"today at zero keeps yesterday's streak", {day(1, 2), day(0, 0)}, 1, 1, 1, 2, 2, 0, 2.0},
        {"a zero-take gap splits the runs",
         {day(5, 1), day(4, 1), day(3, 1), day(2, 0), day(1, 4)},
         1,
         3,
         4,
         4,
         7,
         0,
         7.0 / 4},
        {"a missing day splits the runs", {day(6, 2), day(5, 2), day(3, 2)}, 0, 2, 3, 2, 6, 0, 2.0},
        {"two days ago alone is no current streak", {day(2, 5)}, 0, 1, 1, 5, 5, 0, 5.0},
        {"zero-take records count nowhere but sums", {day(0, 0, 600), day(1, 0)}, 0, 0, 0, 0, 0, 0, 0.0},
        {"records far outside the window still count",
         {day(400, 2), day(399, 2), day(398, 2), day(0, 1)},
         1,
         3,
         4,
         2,
         7,
         1,
         7.0 / 4},
        {"order of records does not matter", {day(0, 1), day(2, 1), day(1, 1)}, 3, 3, 3, 1, 3, 1, 1.0},
        // Duplicate dates: the first wins for lookups, both count in sums, and the same key restarts the run.
        {"duplicate dates", {day(0, 2, 100), day(0, 7, 50)}, 1, 1, 2, 7, 9, 2, 4.5},
        {"a zero first record hides a later one", {day(0, 0), day(0, 3)}, 0, 1, 1, 3, 3, 0, 3.0},
        {"unparsable dates count in sums only",
         {{u"yesterday"_s, 4, 60}, {u"2026-3-17"_s, 2, 0}, day(1, 1)},
         1,
         1,
         3,
         4,
         7,
         0,
         7.0 / 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StatsSummary s = StatsSummary::build(c.history, 14, kToday);
        EXPECT_EQ(s.currentStreak, c.current);
        EXPECT_EQ(s.bestStreak, c.best);
        EXPECT_EQ(s.shootingDays, c.shootingDays);
        EXPECT_EQ(s.bestDayTakes, c.bestDay);
        EXPECT_EQ(s.lifetimeTakes, c.lifetime);
        EXPECT_DOUBLE_EQ(s.avgPerShootingDay, c.average);
        ASSERT_EQ(s.bars.size(), 14);
        EXPECT_EQ(s.bars.last().takes, c.todayBar);
        EXPECT_EQ(std::count_if(s.bars.begin(), s.bars.end(), [](const DayBar& b) { return b.isToday; }), 1);
        EXPECT_TRUE(s.bars.last().isToday);
    }
    EXPECT_EQ(StatsSummary::build({day(0, 2, 100), day(0, 7, 50)}, 14, kToday).lifetimeFocusedSeconds, 150);
}

TEST(StatsSummary, BarsAreConsecutiveDaysEvenAcrossADaylightSavingChange) {
    // Europe moves its clocks on 29 March 2026.
    const QTimeZone paris("Europe/Paris");
    const QDate aroundChange = QDateTime(QDate(2026, 4, 2), QTime(23, 30), paris).toTimeZone(paris).date();
    const StatsSummary s =
        StatsSummary::build({{u"2026-03-29"_s, 1, 0}, {u"2026-03-28"_s, 1, 0}}, 14, aroundChange);
    ASSERT_EQ(s.bars.size(), 14);
    for (int i = 1; i < s.bars.size(); ++i)
        EXPECT_EQ(dateOfKey(s.bars[i - 1].id).daysTo(dateOfKey(s.bars[i].id)), 1)
            << s.bars[i].id.toStdString();
    EXPECT_EQ(s.bars.last().id, u"2026-04-02"_s);
    EXPECT_EQ(s.bestStreak, 2);

    QString letters;
    for (const DayBar& b : StatsSummary::build({}, 7, kToday).bars)
        letters += b.weekday;
    EXPECT_EQ(letters, u"TFSSMTW"_s); // Thursday 12 March to Wednesday 18 March
}

TEST(StatsSummary, DurationTextAndBarHeights) {
    const std::pair<qint64, const char*> texts[] = {
        {0, "0m"}, {59, "0m"}, {3599, "59m"}, {3600, "1h"}, {3660, "1h 1m"}, {7200, "2h"}, {90061, "25h 1m"},
    };
    for (const auto& [seconds, text] : texts)
        EXPECT_EQ(durationText(seconds), QString::fromUtf8(text)) << seconds;
    EXPECT_EQ(chartScale({}), 1);
    EXPECT_EQ(chartScale({DayBar{{}, {}, 3, false}, DayBar{{}, {}, 50, true}}), 50);
    const std::tuple<qint64, qint64, double> heights[] = {
        {1, 1, 84.0}, {1, 50, 4.0}, {25, 50, 42.0}, {0, 50, 0.0}};
    for (const auto& [takes, scale, height] : heights)
        EXPECT_DOUBLE_EQ(barHeight(takes, scale), height) << takes;
}

TEST(StatsPanel, FollowsTheHistoryATakeLandingTodayAndTheLanguage) {
    EngineRig rig;
    rig.clock.set(QDateTime(kToday, QTime(12, 0), QTimeZone::utc()));
    rig.writeData(u"history.json"_s, R"([{"date":"2026-03-16","takes":1,"focusedSeconds":1500}])");
    TimerModel& engine = rig.start(Lang::en);
    StatsPanelModel panel(engine);
    EXPECT_FALSE(panel.streakActive());
    EXPECT_EQ(panel.bars().last().toMap()[u"countText"_s], u" "_s);

    engine.startTake(1, false);
    rig.ticks(60);
    EXPECT_TRUE(panel.streakActive());
    EXPECT_EQ(panel.texts().streak, u"1-day streak"_s);
    EXPECT_EQ(panel.bars().last().toMap()[u"takes"_s].toLongLong(), 1);
    EXPECT_EQ(panel.bars().last().toMap()[u"height"_s].toDouble(), 84.0);
    int redraws = 0;
    QObject::connect(&panel, &StatsPanelModel::changed, [&] { ++redraws; });
    rig.loc->setLang(Lang::fr);
    EXPECT_GE(redraws, 1);
    EXPECT_EQ(panel.texts().average, u"moy 1.0/jour"_s);
}
