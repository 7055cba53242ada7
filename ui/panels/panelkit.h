// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/timermodel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

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

// A stepper row over one integer field of a record: its name, its label in both languages, whether
// it counts minutes (suffix "min") and its range.
template <class Record> struct StepperSpec {
    const char16_t* field = nullptr;
    const char16_t* en = nullptr;
    const char16_t* fr = nullptr;
    bool minutes = false;
    StepRange range;
    qint64 Record::*member = nullptr;
};

// An integer setting as a stepper row shows it: label, value, its text ("25 min", or the bare
// number without a suffix), the range and whether each button can still move. A press asks for one
// step; the value it gives, kept in the range here and nowhere else, goes out through `modified`,
// and the owner answers by storing it and setting the value it now holds.
class Stepper : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The field it edits ("focusMin"): names the row for tests and the accessibility tree.
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY changed)
    Q_PROPERTY(QString label READ label WRITE setLabel NOTIFY changed)
    // QML writes no 64-bit integers: the numbers go out as int, which every range here fits; the
    // row itself shows `text`, made from the full value.
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY changed)
    Q_PROPERTY(QString suffix READ suffix WRITE setSuffix NOTIFY changed)
    Q_PROPERTY(int from READ from WRITE setFrom NOTIFY changed)
    Q_PROPERTY(int to READ to WRITE setTo NOTIFY changed)
    Q_PROPERTY(int step READ step WRITE setStep NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(bool canDown READ canDown NOTIFY changed)
    Q_PROPERTY(bool canUp READ canUp NOTIFY changed)
public:
    using QObject::QObject;

    QString name() const { return m_name; }
    QString label() const { return m_label; }
    qint64 value() const { return m_value; }
    QString suffix() const { return m_suffix; }
    qint64 from() const { return m_range.lo; }
    qint64 to() const { return m_range.hi; }
    qint64 step() const { return m_range.step; }
    QString text() const;
    bool canDown() const { return m_value > m_range.lo; }
    bool canUp() const { return m_value < m_range.hi; }
    void setName(const QString& name) { set(m_name, name); }
    void setLabel(const QString& label) { set(m_label, label); }
    void setValue(qint64 value) { set(m_value, value); }
    void setSuffix(const QString& suffix) { set(m_suffix, suffix); }
    void setFrom(qint64 lo) { set(m_range.lo, lo); }
    void setTo(qint64 hi) { set(m_range.hi, hi); }
    void setStep(qint64 step) { set(m_range.step, step); }
    void setRange(const StepRange& range);

    // One press up (+1) or down (-1): emits `modified` with the stepped value when it moves.
    Q_INVOKABLE void press(int direction);

signals:
    void changed();
    void modified(qint64 value);

private:
    template <class T> void set(T& field, const T& value) {
        if (field == value) return;
        field = value;
        emit changed();
    }

    QString m_name, m_label, m_suffix;
    qint64 m_value = 0;
    StepRange m_range;
};

// An on/off setting as a switch row shows it; `set` asks for a state, `toggled` carries it to the
// owner, which stores it and sets the state it now holds.
class SettingSwitch : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by a panel's model")
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString label READ label NOTIFY changed)
    Q_PROPERTY(bool on READ isOn NOTIFY changed)
public:
    SettingSwitch(const QString& name, QObject* parent) : QObject(parent), m_name(name) {}

    QString name() const { return m_name; }
    QString label() const { return m_label; }
    bool isOn() const { return m_on; }
    void show(const QString& label, bool on);

    Q_INVOKABLE void set(bool on) { emit toggled(on); }

signals:
    void changed();
    void toggled(bool on);

private:
    QString m_name, m_label;
    bool m_on = false;
};

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
