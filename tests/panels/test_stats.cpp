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

TEST(StatsSummary, EmptyHistoryGivesZerosAndFourteenEmptyBars) {
    const StatsSummary s = StatsSummary::build({}, 14, kToday);
    EXPECT_EQ(s.lifetimeTakes, 0);
    EXPECT_EQ(s.shootingDays, 0);
    EXPECT_EQ(s.currentStreak, 0);
    EXPECT_EQ(s.bestStreak, 0);
    EXPECT_EQ(s.bestDayTakes, 0);
    EXPECT_EQ(s.avgPerShootingDay, 0.0);
    ASSERT_EQ(s.bars.size(), 14);
    for (const DayBar& b : s.bars) EXPECT_EQ(b.takes, 0);
    EXPECT_TRUE(s.bars.last().isToday);
    EXPECT_EQ(s.bars.last().id, u"2026-03-18"_s);
    EXPECT_EQ(s.bars.first().id, u"2026-03-05"_s);
    EXPECT_EQ(std::count_if(s.bars.begin(), s.bars.end(), [](const DayBar& b) { return b.isToday; }), 1);
}

TEST(StatsSummary, StreaksAndFigures) {
    struct Case {
        const char* name;
        QList<DayStat> history;
        qint64 current, best, shootingDays, bestDay;
        double average;
    };
    const Case cases[] = {
        {"today only", {day(0, 3)}, 1, 1, 1, 3, 3.0},
        {"yesterday and the day before, none today", {day(2, 1), day(1, 2)}, 2, 2, 2, 2, 1.5},
        {"and then a take today", {day(2, 1), day(1, 2), day(0, 1)}, 3, 3, 3, 2, 4.0 / 3},
        {"today at zero keeps yesterday's streak", {day(1, 2), day(0, 0)}, 1, 1, 1, 2, 2.0},
        {"a zero-take gap splits the runs", {day(5, 1), day(4, 1), day(3, 1), day(2, 0), day(1, 4)}, 1, 3, 4, 4, 7.0 / 4},
        {"a missing day splits the runs", {day(6, 2), day(5, 2), day(3, 2)}, 0, 2, 3, 2, 2.0},
        {"two days ago alone is no current streak", {day(2, 5)}, 0, 1, 1, 5, 5.0},
        {"zero-take records count nowhere but sums", {day(0, 0, 600), day(1, 0)}, 0, 0, 0, 0, 0.0},
        {"records far outside the window still count", {day(400, 2), day(399, 2), day(398, 2), day(0, 1)}, 1, 3, 4, 2, 7.0 / 4},
        {"order of records does not matter", {day(0, 1), day(2, 1), day(1, 1)}, 3, 3, 3, 1, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StatsSummary s = StatsSummary::build(c.history, 14, kToday);
        EXPECT_EQ(s.currentStreak, c.current);
        EXPECT_EQ(s.bestStreak, c.best);
        EXPECT_EQ(s.shootingDays, c.shootingDays);
        EXPECT_EQ(s.bestDayTakes, c.bestDay);
        EXPECT_DOUBLE_EQ(s.avgPerShootingDay, c.average);
    }
}

TEST(StatsSummary, DuplicateDatesFirstWinsForLookupsBothInSums) {
    const StatsSummary s = StatsSummary::build({day(0, 2, 100), day(0, 7, 50)}, 14, kToday);
    EXPECT_EQ(s.lifetimeTakes, 9);
    EXPECT_EQ(s.lifetimeFocusedSeconds, 150);
    EXPECT_EQ(s.shootingDays, 2);
    EXPECT_EQ(s.bars.last().takes, 2);
    EXPECT_EQ(s.bestDayTakes, 7);
    EXPECT_EQ(s.bestStreak, 1) << "the same key twice restarts the run";

    // A zero first record hides a later shooting record of the same day from the streak.
    const StatsSummary hidden = StatsSummary::build({day(0, 0), day(0, 3)}, 14, kToday);
    EXPECT_EQ(hidden.currentStreak, 0);
    EXPECT_EQ(hidden.bars.last().takes, 0);
}

TEST(StatsSummary, UnparsableDatesCountInSumsOnly) {
    const QList<DayStat> history{{u"yesterday"_s, 4, 60}, {u"2026-3-17"_s, 2, 0}, day(1, 1)};
    const StatsSummary s = StatsSummary::build(history, 14, kToday);
    EXPECT_EQ(s.lifetimeTakes, 7);
    EXPECT_EQ(s.shootingDays, 3);
    EXPECT_DOUBLE_EQ(s.avgPerShootingDay, 7.0 / 3);
    EXPECT_EQ(s.bestStreak, 1);
    EXPECT_EQ(s.currentStreak, 1);
    EXPECT_EQ(s.bars[12].takes, 1);
}

TEST(StatsSummary, WeekdayLettersAreEnglishAndFollowTheDates) {
    const StatsSummary s = StatsSummary::build({}, 7, kToday);
    QString letters;
    for (const DayBar& b : s.bars) letters += b.weekday;
    EXPECT_EQ(letters, u"TFSSMTW"_s); // Thursday 12 March to Wednesday 18 March
}

TEST(StatsSummary, ADaylightSavingChangeKeepsOneBarPerDay) {
    // Europe moves its clocks on 29 March 2026: the window across it has 14 distinct, consecutive days.
    const QTimeZone paris("Europe/Paris");
    const QDateTime lateNight(QDate(2026, 4, 2), QTime(23, 30), paris);
    const QDate today = lateNight.toTimeZone(paris).date();
    const StatsSummary s = StatsSummary::build({{u"2026-03-29"_s, 1, 0}, {u"2026-03-28"_s, 1, 0}}, 14, today);
    ASSERT_EQ(s.bars.size(), 14);
    for (int i = 1; i < s.bars.size(); ++i)
        EXPECT_EQ(dateOfKey(s.bars[i - 1].id).daysTo(dateOfKey(s.bars[i].id)), 1) << s.bars[i].id.toStdString();
    EXPECT_EQ(s.bars.last().id, u"2026-04-02"_s);
    EXPECT_EQ(s.bestStreak, 2);
}

TEST(StatsSummary, DurationText) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0m"}, {59, "0m"}, {3599, "59m"}, {3600, "1h"}, {3660, "1h 1m"}, {7500, "2h 5m"}, {7200, "2h"}, {90061, "25h 1m"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(durationText(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(StatsSummary, BarHeightsScaleWithAFloor) {
    EXPECT_EQ(chartScale({}), 1);
    EXPECT_EQ(chartScale({DayBar{{}, {}, 1, false}}), 1);
    EXPECT_EQ(chartScale({DayBar{{}, {}, 3, false}, DayBar{{}, {}, 50, true}}), 50);
    EXPECT_DOUBLE_EQ(barHeight(1, 1), 84.0);
    EXPECT_DOUBLE_EQ(barHeight(3, 3), 84.0);
    EXPECT_DOUBLE_EQ(barHeight(1, 50), 4.0);
    EXPECT_DOUBLE_EQ(barHeight(25, 50), 42.0);
    EXPECT_DOUBLE_EQ(barHeight(0, 50), 0.0);
}

TEST(StatsPanel, TextsFollowTheHistoryAndTheLanguage) {
    EngineRig rig;
    rig.clock.set(QDateTime(kToday, QTime(12, 0), QTimeZone::utc()));
    rig.writeData(u"history.json"_s, R"([{"date":"2026-03-17","takes":1,"focusedSeconds":1500},
                                         {"date":"2026-03-18","takes":1,"focusedSeconds":2160}])");
    TimerModel& engine = rig.start(Lang::en);
    StatsPanelModel panel(engine);
    EXPECT_FALSE(panel.empty());
    QVariantMap t = panel.texts();
    EXPECT_EQ(t[u"streak"_s], u"2-day streak"_s);
    EXPECT_EQ(t[u"focusedValue"_s], u"1h 1m"_s);
    EXPECT_EQ(t[u"bestDay"_s], u"Best day 1 take"_s);
    EXPECT_EQ(t[u"average"_s], u"avg 1.0/day"_s);
    const QVariantMap today = panel.bars().last().toMap();
    EXPECT_EQ(today[u"countText"_s], u"1"_s);
    EXPECT_EQ(today[u"height"_s].toDouble(), 84.0);
    EXPECT_EQ(panel.bars().first().toMap()[u"countText"_s], u" "_s);

    int redraws = 0;
    QObject::connect(&panel, &StatsPanelModel::changed, [&] { ++redraws; });
    rig.loc->setLang(Lang::fr);
    EXPECT_GE(redraws, 1);
    t = panel.texts();
    EXPECT_EQ(t[u"streak"_s], u"série de 2 jours"_s);
    EXPECT_EQ(t[u"bestDay"_s], u"Meilleure journée 1 mivra"_s);
    EXPECT_EQ(t[u"average"_s], u"moy 1.0/jour"_s);
    EXPECT_EQ(panel.bars().last().toMap()[u"weekday"_s], u"W"_s);
}

TEST(StatsPanel, EmptyStateAndATakeLandingToday) {
    EngineRig rig;
    TimerModel& engine = rig.start(Lang::fr);
    StatsPanelModel panel(engine);
    EXPECT_TRUE(panel.empty());
    EXPECT_FALSE(panel.streakActive());
    EXPECT_EQ(panel.texts()[u"bestDay"_s], u"Meilleure journée 0 mivras"_s);

    engine.startTake(1, false);
    rig.ticks(60);
    EXPECT_FALSE(panel.empty());
    EXPECT_TRUE(panel.streakActive());
    EXPECT_EQ(panel.texts()[u"streak"_s], u"série de 1 jours"_s);
    EXPECT_EQ(panel.bars().last().toMap()[u"takes"_s].toLongLong(), 1);
}
