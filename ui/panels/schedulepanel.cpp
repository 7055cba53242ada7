// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/schedulepanel.h"

#include "engine/loc.h"
#include "engine/timermodel.h"
#include "ui/panels/panelkit.h"

#include <algorithm>

namespace {
// A card's stepper rows, in the order the card shows them.
using CardStepper = StepperSpec<ScheduleBlock>;

const CardStepper kCardSteppers[] = {
    {u"startHour", u"Start hour", u"Heure de début", false, {0, 23, 1}, &ScheduleBlock::startHour},
    {u"startMinute", u"Start minute", u"Minute de début", false, {0, 55, 5}, &ScheduleBlock::startMinute},
    {u"durationMin", u"Duration", u"Durée", true, {5, 240, 5}, &ScheduleBlock::durationMin},
};
} // namespace

SchedulePanelModel::SchedulePanelModel(QObject* parent) : PanelModel(parent) {
    connect(this, &PanelModel::changed, this, &SchedulePanelModel::showSteppers);
}

SchedulePanelModel::SchedulePanelModel(TimerModel& engine, QObject* parent) : SchedulePanelModel(parent) {
    setEngine(&engine);
}

void SchedulePanelModel::showSteppers() const {
    const QList<ScheduleBlock> blocks = m_engine ? m_engine->schedules() : QList<ScheduleBlock>();
    QHash<QString, QList<Stepper*>> kept;
    for (const ScheduleBlock& b : blocks) {
        const QString id = uuidText(b.id);
        QList<Stepper*> rows = m_steppers.take(id);
        for (qsizetype i = 0; i < qsizetype(std::size(kCardSteppers)); ++i) {
            const CardStepper& f = kCardSteppers[i];
            if (rows.size() <= i) {
                auto* row = new Stepper(const_cast<SchedulePanelModel*>(this));
                row->setName(QString::fromUtf16(f.field));
                row->setSuffix(f.minutes ? QStringLiteral("min") : QString());
                row->setRange(f.range);
                // The stepper has kept the value in its range: it is stored as it comes.
                auto* self = const_cast<SchedulePanelModel*>(this);
                connect(row, &Stepper::modified, self, [self, id, member = f.member](qint64 next) {
                    self->edit(id, [&](ScheduleBlock& block) { block.*member = next; });
                });
                rows.append(row);
            }
            rows[i]->setLabel(pick(QString::fromUtf16(f.en), QString::fromUtf16(f.fr)));
            rows[i]->setValue(b.*f.member);
        }
        kept.insert(id, rows);
    }
    // Later: the cards that show them go when QML reads the new list.
    for (const QList<Stepper*>& gone : std::as_const(m_steppers))
        for (Stepper* row : gone)
            row->deleteLater();
    m_steppers = kept;
}

void SchedulePanelModel::attach(TimerModel& engine) {
    connect(&engine, &TimerModel::schedulesChanged, this, &SchedulePanelModel::changed);
    connect(&engine, &TimerModel::lockupsChanged, this, &SchedulePanelModel::changed);
}

ScheduleTexts SchedulePanelModel::texts() const {
    ScheduleTexts t;
    t.title = pick(QStringLiteral("CALL SHEET"), QStringLiteral("FEUILLE DE SERVICE"));
    t.add = pick(QStringLiteral("Add"), QStringLiteral("Ajouter"));
    t.empty = pick(QStringLiteral("No scheduled takes. Add one to auto-roll on a weekly rhythm."),
                   QStringLiteral("Aucune mivra programmée. Ajoutes-en une pour tourner automatiquement sur "
                                  "un rythme hebdomadaire."));
    t.lockup = pick(QStringLiteral("Lockup"), QStringLiteral("Périmètre"));
    t.lock = pick(QStringLiteral("Lock the gate"), QStringLiteral("Verrouiller la barrière"));
    return t;
}

QStringList SchedulePanelModel::weekdayLetters() {
    return pick(QStringLiteral("S,M,T,W,T,F,S"), QStringLiteral("D,L,M,M,J,V,S")).split(u',');
}

QStringList SchedulePanelModel::lockNames() const {
    return {pick(QStringLiteral("Open"), QStringLiteral("Ouvert")),
            pick(QStringLiteral("Timer"), QStringLiteral("Minuteur")),
            pick(QStringLiteral("Password"), QStringLiteral("Mot de passe"))};
}

QStringList SchedulePanelModel::lockupNames() const {
    QStringList out;
    if (m_engine)
        for (const Lockup& l : m_engine->lockups())
            out.append(l.name);
    return out;
}

int SchedulePanelModel::lockupIndex(const ScheduleBlock& b, const QList<Lockup>& lockups) {
    if (!b.lockupID) return lockups.isEmpty() ? -1 : 0; // shown, not stored
    for (int i = 0; i < lockups.size(); ++i)
        if (lockups[i].id == *b.lockupID) return i;
    return -1;
}

int SchedulePanelModel::lockIndex(const ScheduleBlock& b) {
    if (!b.lockGate) return 0;
    switch (b.lockKind) {
    case LockKind::timer:
        return 1;
    case LockKind::password:
        return 2;
    case LockKind::none:
        return 0;
    }
    return 0;
}

QVariantList SchedulePanelModel::cards() const {
    QVariantList out;
    if (!m_engine) return out;
    const QStringList letters = weekdayLetters();
    showSteppers();
    for (const ScheduleBlock& b : m_engine->schedules()) {
        QVariantList days;
        for (int d = 1; d <= 7; ++d)
            days.append(QVariantMap{{QStringLiteral("letter"), letters.value(d - 1)},
                                    {QStringLiteral("on"), b.weekdays.contains(d)}});
        QVariantMap steppers;
        for (Stepper* row : m_steppers.value(uuidText(b.id)))
            steppers.insert(row->name(), QVariant::fromValue(row));
        out.append(QVariantMap{
            {QStringLiteral("id"), uuidText(b.id)},
            {QStringLiteral("enabled"), b.enabled},
            {QStringLiteral("timeText"), QStringLiteral("%1:%2")
                                             .arg(b.startHour, 2, 10, QChar(u'0'))
                                             .arg(b.startMinute, 2, 10, QChar(u'0'))},
            {QStringLiteral("lengthText"),
             QString(QStringLiteral("· ") + QString::number(b.durationMin) + u'm')},
            {QStringLiteral("days"), days},
            {QStringLiteral("steppers"), steppers},
            {QStringLiteral("lockupIndex"), lockupIndex(b, m_engine->lockups())},
            {QStringLiteral("lockIndex"), lockIndex(b)},
        });
    }
    return out;
}

template <class F> void SchedulePanelModel::edit(const QString& id, F change) {
    const std::optional<QUuid> uuid = uuidFromText(id);
    if (!m_engine || !uuid) return;
    QList<ScheduleBlock> list = m_engine->schedules();
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const ScheduleBlock& b) { return b.id == *uuid; });
    if (it == list.end()) return;
    change(*it);
    m_engine->setSchedules(list);
}

void SchedulePanelModel::add() {
    if (m_engine) m_engine->addSchedule();
}

void SchedulePanelModel::remove(const QString& id) {
    if (const std::optional<QUuid> uuid = uuidFromText(id); uuid && m_engine) m_engine->deleteSchedule(*uuid);
}

void SchedulePanelModel::setEnabled(const QString& id, bool on) {
    edit(id, [&](ScheduleBlock& b) { b.enabled = on; });
}

void SchedulePanelModel::toggleWeekday(const QString& id, int weekday) {
    if (weekday < 1 || weekday > 7) return;
    edit(id, [&](ScheduleBlock& b) {
        if (b.weekdays.contains(weekday))
            b.weekdays.removeAll(weekday);
        else
            b.weekdays.insert(std::lower_bound(b.weekdays.begin(), b.weekdays.end(), weekday), weekday);
    });
}

void SchedulePanelModel::step(const QString& id, const QString& field, int direction) {
    for (Stepper* row : m_steppers.value(id))
        if (row->name() == field) row->press(direction);
}

void SchedulePanelModel::chooseLockup(const QString& id, int index) {
    if (!m_engine || index < 0 || index >= m_engine->lockups().size()) return;
    const QUuid lockup = m_engine->lockups()[index].id;
    edit(id, [&](ScheduleBlock& b) { b.lockupID = lockup; });
}

void SchedulePanelModel::chooseLock(const QString& id, int index) {
    if (index < 0 || index > 2) return;
    edit(id, [&](ScheduleBlock& b) {
        if (index == 0) {
            b.lockGate = false; // the kind is kept for when the gate is locked again
            return;
        }
        b.lockGate = true;
        b.lockKind = index == 1 ? LockKind::timer : LockKind::password;
    });
}
