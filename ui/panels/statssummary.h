// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QDate>
#include <QList>
#include <QString>

// One column of the stats chart.
struct DayBar {
    QString id;      // the day key, "yyyy-MM-dd"
    QString weekday; // narrow English weekday letter
    qint64 takes = 0;
    bool isToday = false;

    bool operator==(const DayBar&) const = default;
};

// The shooting record drawn from the day history.
struct StatsSummary {
    qint64 lifetimeTakes = 0;
    qint64 lifetimeFocusedSeconds = 0;
    qint64 shootingDays = 0;
    qint64 currentStreak = 0;
    qint64 bestStreak = 0;
    qint64 bestDayTakes = 0;
    double avgPerShootingDay = 0.0;
    QList<DayBar> bars; // oldest first, today last

    // Pure: reads nothing but its arguments. `today` is the current local date.
    static StatsSummary build(const QList<DayStat>& history, int days, QDate today);
};

// Height of the chart's bar area, in points.
inline constexpr double kChartHeight = 84.0;

// The lifetime focused time: "59m", "1h", "1h 5m".
QString durationText(qint64 seconds);
// The chart scale: the largest bar, never under 1.
qint64 chartScale(const QList<DayBar>& bars);
// A bar's filled height: proportional to the scale, at least 4 points for any take, 0 for none.
double barHeight(qint64 takes, qint64 scale);

// Day keys in and out: "yyyy-MM-dd"; an invalid date for text that is not one.
QString dayKeyOf(QDate date);
QDate dateOfKey(const QString& key);
