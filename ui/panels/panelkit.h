// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/timermodel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <algorithm>

class LoginItem;
class Workspace;

// An integer stepper's range and step.
struct StepRange {
    qint64 lo = 0, hi = 0, step = 1;

    // One press up (+1) or down (-1): moves by the step from the value as it is, even one off the
    // step's grid, and stops at the range ends.
    qint64 stepped(qint64 value, int direction) const {
        return std::clamp(value + (direction < 0 ? -step : step), lo, hi);
    }
};

// What a stepper row shows: label, value, its text ("25 min", or the bare number without a
// suffix), the range and whether each button can still move.
QVariantMap stepperRow(const QString& label, qint64 value, const QString& suffix, const StepRange& range);

// The platform services the panels use beside the engine; the shell sets them once at start.
struct PanelSeams {
    LoginItem* loginItem = nullptr;
    Workspace* workspace = nullptr;
    static PanelSeams& shared();
};

// A side panel's C++ face. The panel's QML makes one and hands it the engine; every text it shows
// and every decision it takes lives here, and every change goes through the engine.
class PanelModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* engine READ engineObject WRITE setEngineObject NOTIFY engineChanged)
public:
    using QObject::QObject;

    QObject* engineObject() const;
    void setEngineObject(QObject* engine);
    void setEngine(TimerModel* engine);
    TimerModel* engine() const { return m_engine; }

signals:
    void engineChanged();
    // Anything shown may have changed: texts, values, lists.
    void changed();

protected:
    // Connects to what the panel watches on the engine (and to the language).
    virtual void attach(TimerModel& engine) = 0;

    QPointer<TimerModel> m_engine;
};
