// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/panels/statssummary.h"

#include "ui/panels/panelkit.h"

#include <QtQml/qqmlregistration.h>
#include <QVariantList>
#include <QVariantMap>

class TimerModel;

// The stats panel's face: the summary of the engine's history over 14 days, as texts and bars.
class StatsPanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariantMap texts READ texts NOTIFY changed)
    Q_PROPERTY(bool empty READ empty NOTIFY changed)
    Q_PROPERTY(bool streakActive READ streakActive NOTIFY changed)
    // One map per column: id, weekday, takes, isToday, height, countText.
    Q_PROPERTY(QVariantList bars READ bars NOTIFY changed)
public:
    static constexpr int kDays = 14;

    explicit StatsPanelModel(QObject* parent = nullptr) : PanelModel(parent) {}
    explicit StatsPanelModel(TimerModel& engine, QObject* parent = nullptr);

    const StatsSummary& summary() const { return m_summary; }
    QVariantMap texts() const;
    bool empty() const { return m_summary.lifetimeTakes < 1; }
    bool streakActive() const { return m_summary.currentStreak >= 1; }
    QVariantList bars() const;

protected:
    void attach(TimerModel& engine) override;

private:
    void rebuild();

    StatsSummary m_summary;
};
