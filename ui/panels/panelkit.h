#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <algorithm>

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

// Calls `f` whenever the interface language changes.
template <class F> void onLanguageChange(QObject* receiver, F f);

#include "engine/loc.h"

template <class F> void onLanguageChange(QObject* receiver, F f) {
    if (Loc* loc = Loc::shared()) QObject::connect(loc, &Loc::langChanged, receiver, f);
}
