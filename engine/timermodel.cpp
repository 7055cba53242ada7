// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/timermodel.h"

#include "blocking/appmonitor.h"
#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "calendar/meetingwarning.h"
#include "calendar/scheduledtakes.h"
#include "engine/loc.h"
#include "engine/userzone.h"
#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/notifier.h"
#include "platform/sleepwatch.h"
#include "platform/sound.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPointer>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
QString dayKeyOf(const QDateTime& local) {
    return local.toString(u"yyyy-MM-dd"_s);
}

const QString kSettingsFile = u"settings.json"_s;
const QString kLockupsFile = u"lockups.json"_s;
const QString kSchedulesFile = u"schedules.json"_s;
const QString kHistoryFile = u"history.json"_s;
const QString kTakeFile = u"take.json"_s;

const QString kDayKey = u"mivra.day"_s;
const QString kTakesKey = u"mivra.takes"_s;
const QString kFocusedKey = u"mivra.focused"_s;
const QString kAllowanceKey = u"mivra.allowanceUsed"_s;
} // namespace

TimerModel::TimerModel(const Platform& platform, QObject* parent)
    : QObject(parent), m_platform(platform), m_store(platform.dataDirectory, platform.clock) {
    m_blocker = new Blocker(m_platform.rootLayout, m_store.path() + u"/install"_s, m_platform.runner, this);
    m_blocker->refresh();
    m_appMonitor = new AppMonitor(m_platform.workspace, this);
    m_calendar = new CalendarService(m_platform.calendarStore, m_platform.clock, this);

    for (auto signal : {&TimerModel::phaseChanged, &TimerModel::remainingChanged, &TimerModel::runningChanged,
                        &TimerModel::focusedSecondsTodayChanged})
        connect(this, signal, this, &TimerModel::textsChanged);
    if (Loc* loc = Loc::shared()) connect(loc, &Loc::langChanged, this, &TimerModel::textsChanged);

    loadSettings();
    loadStores();
    loadHistory();
    loadDay();
    recordToday();
    setRemaining(m_settings.focusMin * 60);

    QPointer<TimerModel> self(this);
    m_appMonitor->onHold = [self](const QString& name) {
        if (self) self->appHeld(name);
    };

    m_timer.setInterval(1000);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TimerModel::tick);
    m_timer.start();
    if (m_platform.sleepWatch)
        connect(m_platform.sleepWatch, &SleepWatch::resumed, this, &TimerModel::followTakeEnd);

    // A locked take the application did not see end is taken up before the first sync, so the
    // block it holds is never lifted in between.
    restoreTake();
    m_loading = false;
    syncBlocking(true);

    m_calendar->onChange = [self] {
        if (self) self->notifyChange();
    };
    m_calendar->configure(m_settings.calendarEnabled, QSet<QString>(m_settings.mutedCalendarIDs.begin(),
                                                                    m_settings.mutedCalendarIDs.end()));
    if (m_calendar->status() == CalendarAccess::fullAccess) m_calendar->refreshEvents();
}

TimerModel::~TimerModel() {
    m_timer.stop();
    m_appMonitor->onHold = nullptr;
    m_calendar->onChange = nullptr;
}

template <class T> void TimerModel::assign(T& field, const T& value, void (TimerModel::*signal)()) {
    if (field == value) return;
    field = value;
    emit(this->*signal)();
}

void TimerModel::setPhase(Phase p) {
    assign(m_phase, p, &TimerModel::phaseChanged);
}
void TimerModel::setRemaining(qint64 r) {
    assign(m_remaining, r, &TimerModel::remainingChanged);
}
void TimerModel::setRunning(bool r) {
    assign(m_running, r, &TimerModel::runningChanged);
}
void TimerModel::setTakesToday(qint64 n) {
    assign(m_takesToday, n, &TimerModel::takesTodayChanged);
}
void TimerModel::setFocusedSecondsToday(qint64 n) {
    assign(m_focusedSecondsToday, n, &TimerModel::focusedSecondsTodayChanged);
}
void TimerModel::setGate(bool locked, LockKind kind) {
    // What a locked take has held belongs to that take alone.
    m_held = {};
    assign(m_gateLocked, locked, &TimerModel::gateLockedChanged);
    assign(m_lockKind, kind, &TimerModel::lockKindChanged);
}
void TimerModel::setOpenSetActive(bool on) {
    assign(m_openSetActive, on, &TimerModel::openSetActiveChanged);
}
void TimerModel::setAllowanceUsedSeconds(qint64 n) {
    if (m_allowanceUsedSeconds == n) return;
    m_allowanceUsedSeconds = n;
    emit allowanceUsedSecondsChanged();
    emit allowanceLeftChanged();
}
void TimerModel::setPendingLock(LockKind kind) {
    assign(m_pendingLock, kind, &TimerModel::pendingLockChanged);
}

// ---------------------------------------------------------------------------------------------
// Stores

QString TimerModel::dataDirectory() const {
    return m_store.path();
}

void TimerModel::loadSettings() {
    const auto file = m_store.read(kSettingsFile);
    if (file.status == StoreDirectory::Status::missing) return;
    const SettingsDecode d = decodeSettings(file.json);
    // Whatever will not survive the canonical rewrite is kept aside first.
    if (file.status == StoreDirectory::Status::undecodable || !d.decoded || d.hadBadKey)
        m_store.keepAside(kSettingsFile);
    if (!d.decoded) return; // the defaults are written once the lockups are known
    m_settings = d.settings;
    emit settingsValueChanged();
    settingsChanged();
}

template <class T, class D>
QList<T> TimerModel::readList(const QString& fileName, D decode, const std::function<QList<T>()>& fallback) {
    const auto file = m_store.read(fileName);
    if (file.status == StoreDirectory::Status::ok) {
        bool bounded = false;
        if (auto list = decode(file.json, &bounded)) {
            // Numbers brought within bounds will not survive the rewrite: the original is kept.
            if (bounded) m_store.keepAside(fileName);
            return *list;
        }
    }
    if (file.status != StoreDirectory::Status::missing) m_store.keepAside(fileName);
    return fallback();
}

void TimerModel::loadStores() {
    setLockups(readList<Lockup>(kLockupsFile, decodeLockups, seedLockups));
    setSchedules(
        readList<ScheduleBlock>(kSchedulesFile, decodeSchedules, [] { return QList<ScheduleBlock>(); }));
    if (!m_settings.activeLockupID) {
        if (!m_lockups.isEmpty()) m_settings.activeLockupID = m_lockups.first().id;
        emit settingsValueChanged();
        settingsChanged();
    }
}

void TimerModel::loadHistory() {
    m_history = readList<DayStat>(kHistoryFile, decodeHistory, [] { return QList<DayStat>(); });
    emit historyChanged();
}

void TimerModel::setSettings(const Settings& s) {
    m_settings = s;
    emit settingsValueChanged();
    settingsChanged();
}

void TimerModel::editSettings(const std::function<void(Settings&)>& edit) {
    Settings s = m_settings;
    edit(s);
    setSettings(s);
}

void TimerModel::settingsChanged() {
    if (boundNumbers(m_settings)) emit settingsValueChanged();
    save(kSettingsFile);
    if (m_phase == Phase::standby && !m_running) setRemaining(m_settings.focusMin * 60);
    emit allowanceLeftChanged();
    syncBlocking(true);
    m_calendar->configure(m_settings.calendarEnabled, QSet<QString>(m_settings.mutedCalendarIDs.begin(),
                                                                    m_settings.mutedCalendarIDs.end()));
}

QByteArray TimerModel::storeTextOf(const QString& fileName) const {
    if (fileName == kSettingsFile) return storeText(m_settings);
    if (fileName == kLockupsFile) return storeText(m_lockups);
    if (fileName == kSchedulesFile) return storeText(m_schedules);
    return storeText(m_history);
}

void TimerModel::save(const QString& fileName) {
    m_unsaved.insert(fileName);
    retryFailedSaves();
}

void TimerModel::retryFailedSaves() {
    const bool failedBefore = saveFailed();
    const QStringList pending(m_unsaved.begin(), m_unsaved.end());
    for (const QString& name : pending)
        if (m_store.writeText(name, storeTextOf(name))) m_unsaved.remove(name);
    if (saveFailed() != failedBefore) emit saveFailedChanged();
}

QString TimerModel::saveFailedText() const {
    if (!saveFailed()) return {};
    return pick(u"Not saved: the disk is full or read-only."_s,
                u"Non enregistré : disque plein ou en lecture seule."_s);
}

void TimerModel::writeLockups() {
    save(kLockupsFile);
}

void TimerModel::writeSchedules() {
    save(kSchedulesFile);
}

void TimerModel::setLockups(const QList<Lockup>& list) {
    m_lockups = list;
    emit lockupsChanged();
    writeLockups();
    syncBlocking(true);
}

void TimerModel::setSchedules(const QList<ScheduleBlock>& list) {
    m_schedules = list;
    emit schedulesChanged();
    writeSchedules();
}

void TimerModel::addLockup(const QString& name) {
    Lockup l;
    l.id = QUuid::createUuid();
    l.name = name;
    QList<Lockup> list = m_lockups;
    list.append(l);
    setLockups(list);
    m_settings.activeLockupID = l.id;
    emit settingsValueChanged();
    settingsChanged();
}

void TimerModel::selectLockup(QUuid id) {
    m_settings.activeLockupID = id;
    emit settingsValueChanged();
    settingsChanged();
}

void TimerModel::deleteLockup(QUuid id) {
    QList<Lockup> list = m_lockups;
    list.removeIf([&](const Lockup& l) { return l.id == id; });
    setLockups(list);
    if (m_settings.activeLockupID == id) {
        if (m_lockups.isEmpty())
            m_settings.activeLockupID.reset();
        else
            m_settings.activeLockupID = m_lockups.first().id;
        emit settingsValueChanged();
        settingsChanged();
    }
}

void TimerModel::addSchedule() {
    ScheduleBlock b;
    b.id = QUuid::createUuid();
    b.enabled = true;
    b.weekdays = {2, 3, 4, 5, 6};
    b.startHour = 9;
    b.startMinute = 0;
    b.durationMin = m_settings.focusMin;
    if (const Lockup* l = lockupInEffect()) b.lockupID = l->id;
    b.lockGate = true;
    b.lockKind = LockKind::timer;
    QList<ScheduleBlock> list = m_schedules;
    list.append(b);
    setSchedules(list);
}

void TimerModel::deleteSchedule(QUuid id) {
    QList<ScheduleBlock> list = m_schedules;
    list.removeIf([&](const ScheduleBlock& b) { return b.id == id; });
    setSchedules(list);
}

// ---------------------------------------------------------------------------------------------
// Session timer

void TimerModel::tick() {
    if (m_running) {
        if (m_remaining >= 1) setRemaining(m_remaining - 1);
        if (m_remaining <= 0) phaseEnded();
        notifyChange();
    }
    followTakeEnd();
    if (m_openSetActive) spendAllowance();
    ++m_housekeeping;
    if (m_housekeeping % 20 == 0) {
        checkDayRollover();
        checkScheduledTakes();
    }
    checkMeetingWarning();
    emit ticked();
}

// The written expiry follows the take's end: a pause, a suspend or a clock change moves it, and
// the lockup is written again as soon as the expiry's 30-second bucket moves. Every tick looks, and
// so does a wake from sleep, at once.
void TimerModel::followTakeEnd() {
    if (m_loading || !blockingActive()) return;
    if (expiryBucket(blockExpiry()) != m_lastBucket) syncBlocking(false);
}

void TimerModel::rollOrResume() {
    if (m_phase == Phase::standby) {
        startTake(0, true);
        return;
    }
    setRunning(true);
    notifyChange();
}

void TimerModel::pause() {
    setRunning(false);
    notifyChange();
}

void TimerModel::startTake(qint64 minutes, bool useFocusLength) {
    setPhase(Phase::rolling);
    if (useFocusLength) minutes = m_settings.focusMin;
    setRemaining(std::clamp<qint64>(minutes, 0, kMaxMinutes) * 60);
    setGate(m_pendingLock != LockKind::none, m_pendingLock);
    setRunning(true);
    syncBlocking(false);
    notifyChange();
}

void TimerModel::phaseEnded() {
    if (m_phase == Phase::setup || m_phase == Phase::wrap) {
        breakEnded(true);
        return;
    }
    if (m_phase == Phase::rolling) {
        setTakesToday(m_takesToday + 1);
        setFocusedSecondsToday(m_focusedSecondsToday + phaseLength());
        saveDay();
        recordToday();
        setGate(false, LockKind::none);
        const qint64 reel = std::max<qint64>(m_settings.reel, 1);
        const bool fullReel = m_takesToday % reel == 0;
        const QString n = QString::number(m_takesToday);
        notify(pick(u"Cut! Take "_s + n + u" printed."_s, u"Coupez ! Mivra "_s + n + u" imprimée."_s),
               fullReel ? pick(u"A full reel — time to wrap."_s, u"Une bobine complète — on emballe."_s)
                        : pick(u"Nice take. Reset for the next."_s,
                               u"Belle mivra. On replace pour la suivante."_s),
               true);
        setPhase(fullReel ? Phase::wrap : Phase::setup);
        setRemaining((fullReel ? m_settings.longMin : m_settings.shortMin) * 60);
        setRunning(m_settings.autoStartBreaks);
    }
    syncBlocking(false);
    notifyChange();
}

void TimerModel::breakEnded(bool announce) {
    if (announce)
        notify(pick(u"Back to one."_s, u"On reprend à un."_s),
               pick(u"Standby — roll when you're ready."_s, u"En attente — tourne quand t'es prêt."_s), true);
    setPhase(Phase::standby);
    setRemaining(m_settings.focusMin * 60);
    setRunning(m_settings.autoStartTakes);
    if (m_running)
        startTake(0, true);
    else
        syncBlocking(false);
    notifyChange();
}

void TimerModel::skipBreak() {
    if (m_phase == Phase::setup || m_phase == Phase::wrap) breakEnded(false);
}

void TimerModel::resetToStandby() {
    setRunning(false);
    setPhase(Phase::standby);
    setRemaining(m_settings.focusMin * 60);
    syncBlocking(false);
    notifyChange();
}

qint64 TimerModel::phaseLength() const {
    switch (m_phase) {
    case Phase::setup:
        return m_settings.shortMin * 60;
    case Phase::wrap:
        return m_settings.longMin * 60;
    default:
        return m_settings.focusMin * 60;
    }
}

void TimerModel::notifyChange() {
    // One announcement waits at a time: it runs after the current operation and tells of every
    // change made before it runs. It is marked done before onChange runs, so a change made from
    // there is announced again.
    if (m_changePending) return;
    m_changePending = true;
    QPointer<TimerModel> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self) return;
            self->m_changePending = false;
            if (self->onChange) self->onChange();
        },
        Qt::QueuedConnection);
}

void TimerModel::notify(const QString& title, const QString& body, bool sound) {
    if (sound && m_settings.soundOn) m_platform.sound.play();
    m_platform.notifier.post(title, body);
}

QString TimerModel::phaseTitle() const {
    switch (m_phase) {
    case Phase::standby:
        return pick(u"STANDBY"_s, u"EN ATTENTE"_s);
    case Phase::rolling:
        return pick(u"ROLLING"_s, u"ÇA TOURNE"_s);
    case Phase::setup:
        return pick(u"SETUP"_s, u"RÉGLAGE"_s);
    case Phase::wrap:
        return pick(u"THAT'S A WRAP"_s, u"DANS LA BOÎTE"_s);
    }
    return {};
}

QString TimerModel::phaseSubtitle() const {
    switch (m_phase) {
    case Phase::standby:
        return pick(u"Slate's loaded. Roll when ready."_s, u"Clap chargé. Tourne quand t'es prêt."_s);
    case Phase::rolling:
        return pick(u"Camera's running. Stay in the shot."_s, u"La caméra tourne. Reste dans le cadre."_s);
    case Phase::setup:
        return pick(u"Quick reset before the next take."_s, u"Petit réglage avant la prochaine mivra."_s);
    case Phase::wrap:
        return pick(u"Reel's in the can. Step away."_s, u"La bobine est dans la boîte. Lève-toi."_s);
    }
    return {};
}

QString TimerModel::primaryLabel() const {
    if (m_running) return pick(u"Hold"_s, u"Pause"_s);
    if (m_phase == Phase::setup || m_phase == Phase::wrap) return pick(u"Resume"_s, u"Reprendre"_s);
    return pick(u"Roll"_s, u"Tourne"_s);
}

QString TimerModel::clockText() const {
    return QString::asprintf("%lld:%02lld", static_cast<long long>(m_remaining / 60),
                             static_cast<long long>(m_remaining % 60));
}

QString TimerModel::heldText() const {
    if (!m_blockHeld) return {};
    return pick(u"The gate is locked: what is blocked stays blocked until the take ends."_s,
                u"La barrière est verrouillée : ce qui est bloqué le reste jusqu'à la fin de la mivra."_s);
}

QString TimerModel::focusedText() const {
    return focusedDurationText(m_focusedSecondsToday);
}

// ---------------------------------------------------------------------------------------------
// Day ledger

QString TimerModel::dayKey() const {
    return dayKeyOf(userLocalNow(m_platform.clock));
}

namespace {
const DayStat* recordOf(const QList<DayStat>& history, const QString& day) {
    for (const DayStat& d : history)
        if (d.date == day) return &d;
    return nullptr;
}
} // namespace

void TimerModel::loadDay() {
    m_activeDay = dayKey();
    if (m_platform.defaults.string(kDayKey) == m_activeDay) {
        const auto stored = [this](const QString& key) {
            return std::clamp<qint64>(m_platform.defaults.integer(key), 0, kMaxDayTotal);
        };
        setTakesToday(stored(kTakesKey));
        setFocusedSecondsToday(stored(kFocusedKey));
        setAllowanceUsedSeconds(stored(kAllowanceKey));
        return;
    }
    // The counters belong to another day. A record of today in the history (the clock went back, or
    // the defaults were lost) still holds today's takes, and recording today must not zero it.
    const DayStat* rec = recordOf(m_history, m_activeDay);
    setTakesToday(rec ? rec->takes : 0);
    setFocusedSecondsToday(rec ? rec->focusedSeconds : 0);
    setAllowanceUsedSeconds(0);
}

void TimerModel::saveDay() {
    // The totals in memory belong to activeDay, also in the seconds after midnight before the
    // rollover check has run.
    m_platform.defaults.setValue(kDayKey, m_activeDay);
    m_platform.defaults.setValue(kTakesKey, m_takesToday);
    m_platform.defaults.setValue(kFocusedKey, m_focusedSecondsToday);
    m_platform.defaults.setValue(kAllowanceKey, m_allowanceUsedSeconds);
}

void TimerModel::recordToday() {
    const QString key = m_activeDay.isEmpty() ? dayKey() : m_activeDay;
    bool found = false;
    for (DayStat& d : m_history) {
        if (d.date == key) {
            d.takes = m_takesToday;
            d.focusedSeconds = m_focusedSecondsToday;
            found = true;
            break;
        }
    }
    if (!found) m_history.append(DayStat{key, m_takesToday, m_focusedSecondsToday});
    emit historyChanged();
    save(kHistoryFile);
}

void TimerModel::checkDayRollover() {
    const QString today = dayKey();
    if (today == m_activeDay) return;
    m_activeDay = today;
    // A day already in the history (the clock or the time zone moved back) keeps its totals.
    const DayStat* rec = recordOf(m_history, today);
    setTakesToday(rec ? rec->takes : 0);
    setFocusedSecondsToday(rec ? rec->focusedSeconds : 0);
    setAllowanceUsedSeconds(0);
    saveDay();
    recordToday();
    syncBlocking(true);
    notifyChange();
}

// ---------------------------------------------------------------------------------------------
// Calendar

void TimerModel::checkMeetingWarning() {
    const auto warning =
        meetingWarningFor(m_settings, m_calendar->nextEvent(), m_platform.clock.now(), m_lastWarnedMeeting);
    if (!warning) return;
    m_lastWarnedMeeting = warning->key;
    notify(warning->title, warning->body, true);
}

// While the engine is idle, the first block due this minute switches the lockup when it names one,
// sets the gate for the take, announces it and starts it.
void TimerModel::checkScheduledTakes() {
    if (m_running || m_phase != Phase::standby || m_openSetActive) return;
    const QDateTime now = m_platform.clock.now();
    const std::optional<ScheduleBlock> block =
        scheduledTakeDue(m_schedules, now, m_platform.clock, m_lastFiredMinute);
    if (!block) return;
    m_lastFiredMinute = scheduleMinuteKey(now);
    if (block->lockupID) editSettings([&](Settings& s) { s.activeLockupID = block->lockupID; });
    setPendingLock(block->lockGate ? block->lockKind : LockKind::none);
    notify(pick(u"Call time."_s, u"Heure de tournage."_s),
           pick(u"Scheduled take — the set is closing."_s, u"Mivra programmée — le plateau se ferme."_s),
           true);
    startTake(block->durationMin, false);
}

// ---------------------------------------------------------------------------------------------
// Gate

QString TimerModel::hashPassword(const QString& password) {
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool TimerModel::gateAllows(const std::optional<QString>& password) const {
    if (!m_gateLocked) return true;
    switch (m_lockKind) {
    case LockKind::none:
        return true;
    case LockKind::timer:
        return false;
    case LockKind::password:
        if (!password) return false;
        if (!m_settings.passwordHash || m_settings.passwordHash->isEmpty()) return false;
        return hashPassword(*password) == *m_settings.passwordHash;
    }
    return false;
}

bool TimerModel::cutTake(const std::optional<QString>& password) {
    if (!gateAllows(password)) return false;
    setGate(false, LockKind::none);
    resetToStandby();
    return true;
}

bool TimerModel::authorizeQuit(const std::optional<QString>& password) {
    if (!gateAllows(password)) return false;
    releaseBlocking();
    return true;
}

void TimerModel::setPassword(const QString& password) {
    if (password.isEmpty())
        m_settings.passwordHash.reset();
    else
        m_settings.passwordHash = hashPassword(password);
    emit settingsValueChanged();
    settingsChanged();
}

// ---------------------------------------------------------------------------------------------
// Allowance

qint64 TimerModel::allowanceLeft() const {
    return std::max<qint64>(m_settings.allowanceMin * 60 - m_allowanceUsedSeconds, 0);
}

void TimerModel::openSet() {
    if (!m_settings.allowanceEnabled || allowanceLeft() < 1) return;
    setOpenSetActive(true);
    syncBlocking(false);
    notifyChange();
}

void TimerModel::closeSet() {
    setOpenSetActive(false);
    syncBlocking(false);
    notifyChange();
}

void TimerModel::spendAllowance() {
    setAllowanceUsedSeconds(m_allowanceUsedSeconds + 1);
    if (m_allowanceUsedSeconds % 5 == 0) saveDay();
    if (allowanceLeft() == 0) {
        setOpenSetActive(false);
        syncBlocking(false);
        notifyChange();
    }
    notifyChange();
}

// ---------------------------------------------------------------------------------------------
// Blocking

TakeState TimerModel::takeState() const {
    return TakeState{m_phase, m_remaining, m_running, m_gateLocked, m_openSetActive};
}

const Lockup* TimerModel::lockupInEffect() const {
    return ::lockupInEffect(m_settings, m_lockups);
}

bool TimerModel::blockingActive() const {
    return ::blockingActive(m_settings, m_lockups, takeState(), m_held);
}

std::optional<QDateTime> TimerModel::blockExpiry() const {
    return ::blockExpiry(m_settings, m_lockups, takeState(), m_held, m_platform.clock);
}

void TimerModel::syncBlocking(bool force) {
    if (m_loading) return;
    const BlockingPlan plan = blockingPlanFor(m_settings, m_lockups, takeState(), m_held, m_platform.clock);
    m_held = plan.held;
    if (plan.holding != m_blockHeld) {
        m_blockHeld = plan.holding;
        emit heldChanged();
        emit textsChanged();
    }

    if (!plan.apps.isEmpty())
        m_appMonitor->start(plan.apps);
    else
        m_appMonitor->stop();

    const qint64 bucket = expiryBucket(plan.expiry);
    const BlockingSignature sig{plan.sites, plan.blockPage, bucket};
    m_lastBucket = bucket;

    if (sig != m_lastSig || force) {
        m_lastSig = sig;
        saveTake();
        if (m_blocker->installed()) {
            if (!plan.sites.isEmpty())
                m_blocker->apply(plan.sites, plan.expiry, plan.blockPage);
            else
                m_blocker->apply({}, std::nullopt, false);
        }
    }
    emit blockingSynced(force);
}

// ---------------------------------------------------------------------------------------------
// A locked take outlives the application: its lock, its end (the written expiry less its margin)
// and what it holds are kept in "take.json" while the gate is locked.

void TimerModel::saveTake() {
    const QString path = m_store.path() + u'/' + kTakeFile;
    if (!m_gateLocked) {
        if (QFile::exists(path)) QFile::remove(path);
        return;
    }
    Lockup held;
    held.name = u"held"_s;
    held.sites = m_held.sites;
    held.apps = m_held.apps;
    Json j = Json::object();
    j["lockKind"] = lockKindText(m_lockKind).toStdString();
    j["endsAt"] = m_platform.clock.now().addSecs(m_remaining).toMSecsSinceEpoch();
    j["held"] = toJson(QList<Lockup>{held});
    m_store.writeText(kTakeFile, QByteArray::fromStdString(j.dump(2)) + '\n');
}

void TimerModel::restoreTake() {
    const auto file = m_store.read(kTakeFile);
    if (file.status == StoreDirectory::Status::missing) return;
    const Json& j = file.json;
    std::optional<LockKind> kind;
    std::optional<qint64> endsAt;
    std::optional<QList<Lockup>> held;
    if (j.is_object()) {
        if (j.contains("lockKind") && j["lockKind"].is_string())
            kind = lockKindFromText(QString::fromStdString(j["lockKind"].get<std::string>()));
        if (j.contains("endsAt") && j["endsAt"].is_number_integer()) endsAt = j["endsAt"].get<qint64>();
        if (j.contains("held")) held = decodeLockups(j["held"]);
    }
    if (!kind || *kind == LockKind::none || !endsAt || !held || held->size() != 1) {
        // Not a take this application wrote: kept aside, and no take is resumed.
        m_store.keepAside(kTakeFile);
        return;
    }
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(*endsAt, QTimeZone::utc());
    const qint64 left = (*endsAt - m_platform.clock.now().toMSecsSinceEpoch() + 999) / 1000;
    if (left <= 0) {
        countMissedTake(end);
        QFile::remove(m_store.path() + u'/' + kTakeFile);
        return;
    }
    setPhase(Phase::rolling);
    setRemaining(std::min<qint64>(left, kMaxMinutes * 60));
    setGate(true, *kind);
    m_held = HeldBlock{held->first().sites, held->first().apps};
    setRunning(true);
    notifyChange();
}

void TimerModel::countMissedTake(const QDateTime& endedAt) {
    // The take ran its whole length behind a locked gate (the root side kept the block up to its
    // end), so it is counted as if the application had seen it end, on the day it ended.
    const QString day = dayKeyOf(endedAt.toTimeZone(userTimeZone(m_platform.clock)));
    const qint64 credit = m_settings.focusMin * 60;
    if (day == m_activeDay) {
        setTakesToday(m_takesToday + 1);
        setFocusedSecondsToday(std::min(m_focusedSecondsToday + credit, kMaxDayTotal));
        saveDay();
        recordToday();
        return;
    }
    bool found = false;
    for (DayStat& d : m_history) {
        if (d.date != day) continue;
        d.takes = std::min(d.takes + 1, kMaxDayTotal);
        d.focusedSeconds = std::min(d.focusedSeconds + credit, kMaxDayTotal);
        found = true;
    }
    if (!found) {
        // Before the first later day, where the history keeps days in order.
        const auto at =
            std::find_if(m_history.begin(), m_history.end(), [&](const DayStat& d) { return d.date > day; });
        m_history.insert(at, DayStat{day, 1, credit});
    }
    emit historyChanged();
    m_store.writeText(kHistoryFile, storeText(m_history));
}

void TimerModel::releaseBlocking() {
    if (!m_settings.allowanceEnabled) m_blocker->apply({}, std::nullopt, false);
    m_appMonitor->stop();
}

void TimerModel::appHeld(const QString& name) {
    notify(pick(u"Held "_s + name + u"."_s, name + u" écarté."_s),
           pick(u"Set's closed — stay in the shot."_s, u"Plateau fermé — reste dans le cadre."_s), false);
    if (onAppHeld) onAppHeld(name);
}
