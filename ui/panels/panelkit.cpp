// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/panelkit.h"

#include "engine/loc.h"
#include "engine/timermodel.h"

QVariantMap stepperRow(const QString& label, qint64 value, const QString& suffix, const StepRange& range) {
    return {
        {QStringLiteral("label"), label},
        {QStringLiteral("value"), value},
        {QStringLiteral("suffix"), suffix},
        {QStringLiteral("text"), suffix.isEmpty() ? QString::number(value) : QString(QString::number(value) + u' ' + suffix)},
        {QStringLiteral("from"), range.lo},
        {QStringLiteral("to"), range.hi},
        {QStringLiteral("step"), range.step},
        {QStringLiteral("canDown"), value > range.lo},
        {QStringLiteral("canUp"), value < range.hi},
    };
}

PanelSeams& PanelSeams::shared() {
    static PanelSeams seams;
    return seams;
}

QObject* PanelModel::engineObject() const { return m_engine.data(); }

void PanelModel::setEngineObject(QObject* engine) { setEngine(qobject_cast<TimerModel*>(engine)); }

void PanelModel::setEngine(TimerModel* engine) {
    if (engine == m_engine) return;
    if (m_engine) m_engine->disconnect(this);
    m_engine = engine;
    if (Loc* loc = Loc::shared()) {
        loc->disconnect(this);
        connect(loc, &Loc::langChanged, this, &PanelModel::changed);
    }
    if (engine) attach(*engine);
    emit engineChanged();
    emit changed();
}
