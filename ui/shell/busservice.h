// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Mivra's D-Bus interface: the engine's state as read-only properties and the popover's controls
// as methods, under the same gate. Served on the session bus only.
#include "ui/shell/bustypes.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QPoint>
#include <QVariantMap>

#include <functional>
#include <optional>

class TimerModel;

// What the shell lends the interface.
struct BusHooks {
    // Opens the popover, next to the given point on screen when there is one.
    std::function<void(std::optional<QPoint>)> showPopover;
    // The tray's title for the current state.
    std::function<QString()> statusTitle;
    // Leaves the application now: the gate has allowed it and the block is already released.
    // Runs one turn of the event loop after the call that asked for it has been answered.
    std::function<void()> quit;
};

class MivraBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.oriflan.Mivra1")
    Q_PROPERTY(QString Phase READ phase)
    Q_PROPERTY(bool Running READ running)
    Q_PROPERTY(qlonglong Remaining READ remaining)
    Q_PROPERTY(qlonglong PhaseLength READ phaseLength)
    Q_PROPERTY(QString ClockText READ clockText)
    Q_PROPERTY(QString StatusTitle READ statusTitle)
    Q_PROPERTY(QString PhaseTitle READ phaseTitle)
    Q_PROPERTY(bool GateLocked READ gateLocked)
    Q_PROPERTY(QString LockKind READ lockKind)
    Q_PROPERTY(QString PendingLock READ pendingLock)
    Q_PROPERTY(bool BlockingActive READ blockingActive)
    Q_PROPERTY(qlonglong TakesToday READ takesToday)
    Q_PROPERTY(qlonglong FocusedSeconds READ focusedSeconds)
    Q_PROPERTY(qlonglong AllowanceLeft READ allowanceLeft)
    Q_PROPERTY(bool OpenSetActive READ openSetActive)
    Q_PROPERTY(BusLockup ActiveLockup READ activeLockup)
    Q_PROPERTY(BusMeeting CurrentMeeting READ currentMeeting)
    Q_PROPERTY(BusMeeting NextMeeting READ nextMeeting)
    Q_PROPERTY(QString Language READ language)

public:
    MivraBus(TimerModel& engine, BusHooks hooks, QObject* parent = nullptr);
    ~MivraBus() override;

    // Serves the object on `connection` (the shell has claimed the name on it). False when the
    // path is taken.
    bool attach(QDBusConnection connection);

    // Looks for changed properties one turn of the event loop later; many calls in one turn
    // give at most one PropertiesChanged.
    void refresh();
    // The same for the named properties only: what the clock's steps can change.
    void refresh(std::initializer_list<const char*> properties);

    // Every property by its D-Bus name, as a client's GetAll reads it.
    QVariantMap snapshot() const;

    QString phase() const;
    bool running() const;
    qlonglong remaining() const;
    qlonglong phaseLength() const;
    QString clockText() const;
    QString statusTitle() const;
    QString phaseTitle() const;
    bool gateLocked() const;
    QString lockKind() const;
    QString pendingLock() const;
    bool blockingActive() const;
    qlonglong takesToday() const;
    qlonglong focusedSeconds() const;
    qlonglong allowanceLeft() const;
    bool openSetActive() const;
    BusLockup activeLockup() const;
    BusMeeting currentMeeting() const;
    BusMeeting nextMeeting() const;
    QString language() const;

public slots:
    void RollOrResume();
    void Pause();
    bool Cut(const QString& password);
    void SkipBreak();
    void OpenSet();
    void CloseSet();
    void SetPendingLock(const QString& kind);
    void SelectLockup(const QString& id);
    void ShowPopover();
    bool Quit(const QString& password);

signals:
    // After each PropertiesChanged, with what it carried (not part of the bus interface).
    void announced(const QVariantMap& changed);

private:
    void flush();
    // Answers the current call with a refusal; outside a call it does nothing.
    void refuse(const QString& message);
    void invalid(const QString& message);

    TimerModel& m_engine;
    BusHooks m_hooks;
    std::optional<QDBusConnection> m_connection;
    QVariantMap m_sent;
    quint32 m_dirty = 0; // properties to look at, one bit each by their index
    bool m_flushQueued = false;
};
