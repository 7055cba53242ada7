// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/statssummary.h"

#include <QHash>
#include <QLocale>

#include <algorithm>

QString dayKeyOf(QDate date) {
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QDate dateOfKey(const QString& key) {
    // Only the exact ten-character form: the parser alone would also take "2026-3-2".
    if (key.size() != 10) return {};
    return QDate::fromString(key, QStringLiteral("yyyy-MM-dd"));
}

StatsSummary StatsSummary::build(const QList<DayStat>& history, int days, QDate today) {
    StatsSummary s;
    QHash<QString, const DayStat*> byKey;
    QStringList shootingKeys;
    qint64 shootingTakes = 0;
    for (const DayStat& d : history) {
        if (!byKey.contains(d.date)) byKey.insert(d.date, &d); // the first record of a day wins
        s.lifetimeTakes += d.takes;
        s.lifetimeFocusedSeconds += d.focusedSeconds;
        s.bestDayTakes = std::max(s.bestDayTakes, d.takes);
        if (d.takes > 0) {
            ++s.shootingDays;
            shootingTakes += d.takes;
            shootingKeys.append(d.date);
        }
    }
    if (s.shootingDays > 0) s.avgPerShootingDay = double(shootingTakes) / double(s.shootingDays);

    const auto takesOn = [&byKey](QDate day) -> qint64 {
        const DayStat* d = byKey.value(dayKeyOf(day));
        return d ? d->takes : 0;
    };

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    for (int i = days - 1; i >= 0; --i) {
        const QDate day = today.addDays(-i);
        if (!day.isValid()) continue;
        s.bars.append(DayBar{dayKeyOf(day), english.dayName(day.dayOfWeek(), QLocale::NarrowFormat),
                             takesOn(day), i == 0});
    }

    // A day without takes yet today does not break a streak that ran through yesterday.
    QDate day = today;
    if (takesOn(today) <= 0) {
        const QDate yesterday = today.addDays(-1);
        if (yesterday.isValid()) day = yesterday;
    }
    while (day.isValid() && takesOn(day) > 0) {
        ++s.currentStreak;
        day = day.addDays(-1);
    }

    std::sort(shootingKeys.begin(), shootingKeys.end());
    qint64 run = 0;
    QDate previous;
    for (const QString& key : shootingKeys) {
        const QDate date = dateOfKey(key);
        if (!date.isValid()) continue;
        run = previous.isValid() && previous.daysTo(date) == 1 ? run + 1 : 1;
        s.bestStreak = std::max(s.bestStreak, run);
        previous = date;
    }
    return s;
}

QString durationText(qint64 seconds) {
    const qint64 minutes = seconds / 60;
    if (seconds > 3599) {
        const qint64 hours = minutes / 60, rest = minutes % 60;
        if (rest == 0) return QString::number(hours) + u'h';
        return QString::number(hours) + QStringLiteral("h ") + QString::number(rest) + u'm';
    }
    return QString::number(minutes) + u'm';
}

qint64 chartScale(const QList<DayBar>& bars) {
    qint64 scale = 1;
    for (const DayBar& b : bars)
        scale = std::max(scale, b.takes);
    return scale;
}

double barHeight(qint64 takes, qint64 scale) {
    if (takes <= 0) return 0.0;
    return std::max(4.0, kChartHeight * double(takes) / double(std::max<qint64>(scale, 1)));
}
