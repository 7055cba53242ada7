// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/panelkit.h"

#include "engine/loc.h"
#include "engine/timermodel.h"
#include "ui/style.h"

QString Stepper::text() const {
    return Style::stepperText(m_value, m_suffix);
}

void Stepper::setRange(const StepRange& range) {
    if (range.lo == m_range.lo && range.hi == m_range.hi && range.step == m_range.step) return;
    m_range = range;
    emit changed();
}

void Stepper::press(int direction) {
    const qint64 next = m_range.stepped(m_value, direction);
    if (next != m_value) emit modified(next);
}

void SettingSwitch::show(const QString& label, bool on) {
    if (label == m_label && on == m_on) return;
    m_label = label;
    m_on = on;
    emit changed();
}

PanelSeams& PanelSeams::shared() {
    static PanelSeams seams;
    return seams;
}

QObject* PanelModel::engineObject() const {
    return m_engine.data();
}

void PanelModel::setEngineObject(QObject* engine) {
    setEngine(qobject_cast<TimerModel*>(engine));
}

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
