// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/statspanel.h"

#include "engine/loc.h"
#include "engine/timermodel.h"
#include "ui/panels/panelkit.h"

StatsPanelModel::StatsPanelModel(TimerModel& engine, QObject* parent) : PanelModel(parent) {
    setEngine(&engine);
}

void StatsPanelModel::attach(TimerModel& engine) {
    connect(&engine, &TimerModel::historyChanged, this, &StatsPanelModel::rebuild);
    connect(&engine, &TimerModel::takesTodayChanged, this, &StatsPanelModel::rebuild);
    rebuild();
}

void StatsPanelModel::rebuild() {
    if (!m_engine) return;
    m_summary = StatsSummary::build(m_engine->history(), kDays, dateOfKey(m_engine->dayKey()));
    emit changed();
}

StatsTexts StatsPanelModel::texts() const {
    const StatsSummary& s = m_summary;
    const QString n = QString::number(s.currentStreak);
    const QString best = QString::number(s.bestDayTakes);
    const QString noun = s.bestDayTakes == 1 ? pick(QStringLiteral("take"), QStringLiteral("mivra"))
                                             : pick(QStringLiteral("takes"), QStringLiteral("mivras"));
    const QString avgFormat = pick(QStringLiteral("avg %1/day"), QStringLiteral("moy %1/jour"));
    StatsTexts t;
    t.title = pick(QStringLiteral("THE DAILIES"), QStringLiteral("LES RUSHES"));
    t.emptyTitle = pick(QStringLiteral("No dailies yet."), QStringLiteral("Aucun rush pour l'instant."));
    t.emptyLine = pick(QStringLiteral("Roll your first take — your shooting record builds here."),
                       QStringLiteral("Tourne ta première mivra — ton carnet de tournage se bâtit ici."));
    t.takesValue = QString::number(s.lifetimeTakes);
    t.takesLabel = pick(QStringLiteral("takes"), QStringLiteral("mivras"));
    t.focusedValue = durationText(s.lifetimeFocusedSeconds);
    t.focusedLabel = pick(QStringLiteral("focused"), QStringLiteral("concentré"));
    t.daysValue = QString::number(s.shootingDays);
    t.daysLabel = pick(QStringLiteral("days shot"), QStringLiteral("jours tournés"));
    t.streak =
        pick(n + QStringLiteral("-day streak"), QStringLiteral("série de ") + n + QStringLiteral(" jours"));
    t.bestStreak =
        QString(pick(QStringLiteral("best "), QStringLiteral("record ")) + QString::number(s.bestStreak));
    t.chartLabel = pick(QStringLiteral("LAST 14 DAYS"), QStringLiteral("14 DERNIERS JOURS"));
    t.bestDay =
        QString(pick(QStringLiteral("Best day "), QStringLiteral("Meilleure journée ")) + best + u' ' + noun);
    t.average = avgFormat.arg(s.avgPerShootingDay, 0, 'f', 1);
    return t;
}

QVariantList StatsPanelModel::bars() const {
    const qint64 scale = chartScale(m_summary.bars);
    QVariantList out;
    for (const DayBar& b : m_summary.bars) {
        out.append(QVariantMap{
            {QStringLiteral("id"), b.id},
            {QStringLiteral("weekday"), b.weekday},
            {QStringLiteral("takes"), b.takes},
            {QStringLiteral("isToday"), b.isToday},
            {QStringLiteral("height"), barHeight(b.takes, scale)},
            {QStringLiteral("countText"),
             b.isToday && b.takes >= 1 ? QString::number(b.takes) : QStringLiteral(" ")},
        });
    }
    return out;
}
