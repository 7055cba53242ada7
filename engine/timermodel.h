// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "blocking/blockingpolicy.h"
#include "engine/records.h"
#include "engine/stores.h"
#include "platform/platform.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>

class AppMonitor;
class Blocker;
class CalendarService;

// The engine: phases and the one-second tick, the stores, the day ledger, the gate, allowance mode,
// and applying what the blocking policy answers. Lives on the GUI thread for the whole life of the
// application.
class TimerModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Mivra::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(qint64 remaining READ remaining NOTIFY remainingChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(qint64 takesToday READ takesToday NOTIFY takesTodayChanged)
    Q_PROPERTY(qint64 focusedSecondsToday READ focusedSecondsToday NOTIFY focusedSecondsTodayChanged)
    Q_PROPERTY(QList<DayStat> history READ history NOTIFY historyChanged)
    Q_PROPERTY(QList<Lockup> lockups READ lockups WRITE setLockups NOTIFY lockupsChanged)
    Q_PROPERTY(QList<ScheduleBlock> schedules READ schedules WRITE setSchedules NOTIFY schedulesChanged)
    Q_PROPERTY(bool gateLocked READ gateLocked NOTIFY gateLockedChanged)
    Q_PROPERTY(Mivra::LockKind lockKind READ lockKind NOTIFY lockKindChanged)
    Q_PROPERTY(Mivra::LockKind pendingLock READ pendingLock WRITE setPendingLock NOTIFY pendingLockChanged)
    Q_PROPERTY(bool openSetActive READ openSetActive NOTIFY openSetActiveChanged)
    Q_PROPERTY(qint64 allowanceUsedSeconds READ allowanceUsedSeconds NOTIFY allowanceUsedSecondsChanged)
    Q_PROPERTY(Settings settings READ settings WRITE setSettings NOTIFY settingsValueChanged)
    // A locked take holds sites or applications that the lockups and settings no longer ask for.
    Q_PROPERTY(bool blockHeld READ blockHeld NOTIFY heldChanged)

    // Derived texts, in the current language.
    Q_PROPERTY(QString phaseTitle READ phaseTitle NOTIFY textsChanged)
    Q_PROPERTY(QString phaseSubtitle READ phaseSubtitle NOTIFY textsChanged)
    Q_PROPERTY(QString primaryLabel READ primaryLabel NOTIFY textsChanged)
    Q_PROPERTY(QString clockText READ clockText NOTIFY textsChanged)
    Q_PROPERTY(QString focusedText READ focusedText NOTIFY textsChanged)
    Q_PROPERTY(qint64 allowanceLeft READ allowanceLeft NOTIFY allowanceLeftChanged)
    // One line while a locked take holds what the lockups and settings no longer ask for; else empty.
    Q_PROPERTY(QString heldText READ heldText NOTIFY textsChanged)
    // A store could not be written (disk full, read-only folder, quota): its file keeps its previous
    // content, memory keeps the value, and every later save writes it again until one succeeds.
    Q_PROPERTY(bool saveFailed READ saveFailed NOTIFY saveFailedChanged)

public:
    explicit TimerModel(const Platform& platform, QObject* parent = nullptr);
    ~TimerModel() override;

    // Observable state.
    Phase phase() const { return m_phase; }
    qint64 remaining() const { return m_remaining; }
    bool running() const { return m_running; }
    qint64 takesToday() const { return m_takesToday; }
    qint64 focusedSecondsToday() const { return m_focusedSecondsToday; }
    const QList<DayStat>& history() const { return m_history; }
    const QList<Lockup>& lockups() const { return m_lockups; }
    const QList<ScheduleBlock>& schedules() const { return m_schedules; }
    bool gateLocked() const { return m_gateLocked; }
    LockKind lockKind() const { return m_lockKind; }
    LockKind pendingLock() const { return m_pendingLock; }
    bool openSetActive() const { return m_openSetActive; }
    qint64 allowanceUsedSeconds() const { return m_allowanceUsedSeconds; }
    const Settings& settings() const { return m_settings; }
    bool blockHeld() const { return m_blockHeld; }
    // What a locked take has blocked so far: while the gate is locked the block only grows.
    const QStringList& heldSites() const { return m_held.sites; }
    const QList<BlockedApp>& heldApps() const { return m_held.apps; }

    Blocker& blocker() { return *m_blocker; }
    AppMonitor& appMonitor() { return *m_appMonitor; }
    CalendarService& calendar() { return *m_calendar; }
    QTimer& timer() { return m_timer; } // the one-second timer: tests stop it and tick by hand
    // What the last blocking sync handed to the blocker: the sites, the block page, the expiry's
    // 30-second bucket. The sites are the lockup's own list, shared, so comparing them costs nothing
    // while the lockup is unchanged.
    struct BlockingSignature {
        QStringList sites;
        bool blockPage = false;
        qint64 bucket = 0;
        bool operator==(const BlockingSignature&) const = default;
    };
    const std::optional<BlockingSignature>& lastSig() const { return m_lastSig; }
    const QString& activeDay() const { return m_activeDay; }

    // Told of state changes, one turn of the event loop later.
    std::function<void()> onChange;
    // Told the name of each application the monitor held.
    std::function<void(const QString&)> onAppHeld;

    // Stores.
    QString dataDirectory() const;
    void setSettings(const Settings& s); // assigns and runs settingsChanged()
    // Changes settings through `edit` and runs settingsChanged(), as a view's binding does.
    void editSettings(const std::function<void(Settings&)>& edit);
    void settingsChanged();
    void setLockups(const QList<Lockup>& list);
    void setSchedules(const QList<ScheduleBlock>& list);
    void addLockup(const QString& name);
    void selectLockup(QUuid id);
    void deleteLockup(QUuid id); // by value: callers may pass an element's own id
    void addSchedule();
    void deleteSchedule(QUuid id);

    // Session timer.
    void tick();
    void rollOrResume();
    void pause();
    void startTake(qint64 minutes, bool useFocusLength);
    void phaseEnded();
    void breakEnded(bool announce);
    void skipBreak();
    void resetToStandby();
    qint64 phaseLength() const;
    void notifyChange();
    void notify(const QString& title, const QString& body, bool sound);

    QString phaseTitle() const;
    QString phaseSubtitle() const;
    QString primaryLabel() const;
    QString clockText() const;
    QString focusedText() const;
    QString heldText() const;
    bool saveFailed() const { return !m_unsaved.isEmpty(); }
    // Writes again every store whose last write failed (the application calls it as it leaves).
    void retryFailedSaves();
    // The one line the popover shows while saveFailed holds, in the current language.
    QString saveFailedText() const;

    // Day ledger.
    QString dayKey() const;
    void loadDay();
    void saveDay();
    void recordToday();
    void checkDayRollover();

    // Calendar: the warning before the next meeting (every tick) and the weekly scheduled takes
    // (every twentieth tick).
    void checkMeetingWarning();
    void checkScheduledTakes();
    const QString& lastWarnedMeeting() const { return m_lastWarnedMeeting; }
    const QString& lastFiredMinute() const { return m_lastFiredMinute; }

    // Gate.
    static QString hashPassword(const QString& password);
    bool gateAllows(const std::optional<QString>& password) const;
    bool cutTake(const std::optional<QString>& password);
    bool authorizeQuit(const std::optional<QString>& password);
    void setPassword(const QString& password);
    void setPendingLock(LockKind kind);

    // Allowance.
    qint64 allowanceLeft() const;
    void openSet();
    void closeSet();

    // Blocking: what follows from the state is the blocking policy's (blocking/blockingpolicy.h);
    // the engine asks it and applies the answer.
    const Lockup* lockupInEffect() const;
    bool blockingActive() const;
    std::optional<QDateTime> blockExpiry() const;
    void syncBlocking(bool force);
    void releaseBlocking();

signals:
    void phaseChanged();
    void remainingChanged();
    void runningChanged();
    void takesTodayChanged();
    void focusedSecondsTodayChanged();
    void historyChanged();
    void lockupsChanged();
    void schedulesChanged();
    void gateLockedChanged();
    void lockKindChanged();
    void pendingLockChanged();
    void openSetActiveChanged();
    void allowanceUsedSecondsChanged();
    void settingsValueChanged();
    void textsChanged();
    void saveFailedChanged();
    void allowanceLeftChanged();
    // Every blocking sync, with its `force`.
    void blockingSynced(bool force);
    void heldChanged();
    // Every tick, once its work is done: what shows the time follows it.
    void ticked();

private:
    template <class T> void assign(T& field, const T& value, void (TimerModel::*signal)());
    void setPhase(Phase p);
    void setRemaining(qint64 r);
    void setRunning(bool r);
    void setTakesToday(qint64 n);
    void setFocusedSecondsToday(qint64 n);
    void setGate(bool locked, LockKind kind);
    void setOpenSetActive(bool on);
    void setAllowanceUsedSeconds(qint64 n);
    void writeLockups();
    // Writes one store, and again every store whose last write failed.
    void save(const QString& fileName);
    QByteArray storeTextOf(const QString& fileName) const;
    void writeSchedules();
    void loadSettings();
    void loadStores();
    void loadHistory();
    void spendAllowance();
    // Where the take stands, for the blocking policy.
    TakeState takeState() const;
    void followTakeEnd();
    // A locked take is kept in "take.json" so that it outlives the application.
    void saveTake();
    void restoreTake();
    void countMissedTake(const QDateTime& endedAt);
    void appHeld(const QString& name);
    // A store that could not be decoded is kept aside before its fallback is written.
    template <class T, class D>
    QList<T> readList(const QString& fileName, D decode, const std::function<QList<T>()>& fallback);

    Platform m_platform;
    StoreDirectory m_store;
    QSet<QString> m_unsaved; // stores whose last write failed

    Phase m_phase = Phase::standby;
    qint64 m_remaining = 1500;
    bool m_running = false;
    qint64 m_takesToday = 0;
    qint64 m_focusedSecondsToday = 0;
    QList<DayStat> m_history;
    QList<Lockup> m_lockups;
    QList<ScheduleBlock> m_schedules;
    bool m_gateLocked = false;
    LockKind m_lockKind = LockKind::none;
    LockKind m_pendingLock = LockKind::none;
    bool m_openSetActive = false;
    qint64 m_allowanceUsedSeconds = 0;
    Settings m_settings;

    Blocker* m_blocker = nullptr;
    AppMonitor* m_appMonitor = nullptr;
    CalendarService* m_calendar = nullptr;
    QTimer m_timer;
    qint64 m_housekeeping = 0;
    std::optional<BlockingSignature> m_lastSig;
    QString m_activeDay;
    bool m_changePending = false;
    QString m_lastWarnedMeeting;
    QString m_lastFiredMinute;
    qint64 m_lastBucket = 0; // the expiry's 30-second bucket as last synced
    bool m_loading = true;   // no blocking sync until the stores and a kept take are loaded
    bool m_blockHeld = false;
    HeldBlock m_held; // what a locked take has blocked so far
};
