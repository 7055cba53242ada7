// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/panels/statssummary.h"

#include "ui/panels/panelkit.h"

#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class TimerModel;

// The stats panel's texts in the current language, figures included.
struct StatsTexts {
    Q_GADGET
    QML_VALUE_TYPE(statsTexts)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString emptyTitle MEMBER emptyTitle)
    Q_PROPERTY(QString emptyLine MEMBER emptyLine)
    Q_PROPERTY(QString takesValue MEMBER takesValue)
    Q_PROPERTY(QString takesLabel MEMBER takesLabel)
    Q_PROPERTY(QString focusedValue MEMBER focusedValue)
    Q_PROPERTY(QString focusedLabel MEMBER focusedLabel)
    Q_PROPERTY(QString daysValue MEMBER daysValue)
    Q_PROPERTY(QString daysLabel MEMBER daysLabel)
    Q_PROPERTY(QString streak MEMBER streak)
    Q_PROPERTY(QString bestStreak MEMBER bestStreak)
    Q_PROPERTY(QString chartLabel MEMBER chartLabel)
    Q_PROPERTY(QString bestDay MEMBER bestDay)
    Q_PROPERTY(QString average MEMBER average)
public:
    QString title, emptyTitle, emptyLine, takesValue, takesLabel, focusedValue, focusedLabel, daysValue,
        daysLabel, streak, bestStreak, chartLabel, bestDay, average;
};

// The stats panel's face: the summary of the engine's history over 14 days, as texts and bars.
class StatsPanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(StatsTexts texts READ texts NOTIFY changed)
    Q_PROPERTY(bool empty READ empty NOTIFY changed)
    Q_PROPERTY(bool streakActive READ streakActive NOTIFY changed)
    // One map per column: id, weekday, takes, isToday, height, countText.
    Q_PROPERTY(QVariantList bars READ bars NOTIFY changed)
public:
    static constexpr int kDays = 14;

    explicit StatsPanelModel(QObject* parent = nullptr) : PanelModel(parent) {}
    explicit StatsPanelModel(TimerModel& engine, QObject* parent = nullptr);

    const StatsSummary& summary() const { return m_summary; }
    StatsTexts texts() const;
    bool empty() const { return m_summary.lifetimeTakes < 1; }
    bool streakActive() const { return m_summary.currentStreak >= 1; }
    QVariantList bars() const;

protected:
    void attach(TimerModel& engine) override;

private:
    void rebuild();

    StatsSummary m_summary;
};
