#include "ui/panels/panelkit.h"

QVariantMap stepperRow(const QString& label, qint64 value, const QString& suffix, const StepRange& range) {
    return {
        {QStringLiteral("label"), label},
        {QStringLiteral("value"), value},
        {QStringLiteral("text"), suffix.isEmpty() ? QString::number(value) : QString(QString::number(value) + u' ' + suffix)},
        {QStringLiteral("from"), range.lo},
        {QStringLiteral("to"), range.hi},
        {QStringLiteral("step"), range.step},
        {QStringLiteral("canDown"), value > range.lo},
        {QStringLiteral("canUp"), value < range.hi},
    };
}
