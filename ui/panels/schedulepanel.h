// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include "ui/panels/panelkit.h"

#include <QHash>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class TimerModel;

// The schedule panel's texts in the current language.
struct ScheduleTexts {
    Q_GADGET
    QML_VALUE_TYPE(scheduleTexts)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString add MEMBER add)
    Q_PROPERTY(QString empty MEMBER empty)
    Q_PROPERTY(QString lockup MEMBER lockup)
    Q_PROPERTY(QString lock MEMBER lock)
public:
    QString title, add, empty, lockup, lock;
};

// The schedule panel's face: one card per scheduled take, edited through the engine.
class SchedulePanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(ScheduleTexts texts READ texts NOTIFY changed)
    // One map per block, in list order: id, enabled, timeText, lengthText, days (seven maps of
    // letter and on, Sunday first), steppers (the Stepper rows by field: startHour, startMinute,
    // durationMin), lockupIndex, lockIndex.
    Q_PROPERTY(QVariantList cards READ cards NOTIFY changed)
    Q_PROPERTY(QStringList lockupNames READ lockupNames NOTIFY changed)
    Q_PROPERTY(QStringList lockNames READ lockNames NOTIFY changed)

public:
    explicit SchedulePanelModel(QObject* parent = nullptr);
    explicit SchedulePanelModel(TimerModel& engine, QObject* parent = nullptr);

    ScheduleTexts texts() const;
    QVariantList cards() const;
    QStringList lockupNames() const;
    QStringList lockNames() const;

    // The weekday letters in the current language, Sunday first.
    static QStringList weekdayLetters();
    // The lockup picker's position for a block: its lockup, else the first one when it names
    // none; -1 when it names a lockup that is gone or there are none.
    static int lockupIndex(const ScheduleBlock& b, const QList<Lockup>& lockups);
    // The lock picker's position: 0 open, 1 timer, 2 password.
    static int lockIndex(const ScheduleBlock& b);

    Q_INVOKABLE void add();
    Q_INVOKABLE void remove(const QString& id);
    Q_INVOKABLE void setEnabled(const QString& id, bool on);
    Q_INVOKABLE void toggleWeekday(const QString& id, int weekday);
    // One press of a card's stepper: "startHour", "startMinute" or "durationMin".
    void step(const QString& id, const QString& field, int direction);
    Q_INVOKABLE void chooseLockup(const QString& id, int index);
    Q_INVOKABLE void chooseLock(const QString& id, int index);

protected:
    void attach(TimerModel& engine) override;

private:
    // Keeps one stepper row per card field, showing the engine's blocks. Run by cards() too: QML
    // reads the cards on `changed` before any C++ slot connected to it runs.
    void showSteppers() const;
    template <class F> void edit(const QString& id, F change);

    mutable QHash<QString, QList<Stepper*>> m_steppers; // by block id
};
