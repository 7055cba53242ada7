// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/busservice.h"

#include "calendar/calendarservice.h"
#include "engine/loc.h"
#include "engine/timermodel.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QMetaProperty>
#include <QPointer>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace {
BusMeeting meetingOf(const std::optional<UpcomingEvent>& e) {
    if (!e) return {};
    return {e->title, e->start.toOffsetFromUtc(e->start.offsetFromUtc()).toString(Qt::ISODate)};
}

std::optional<QString> givenPassword(const QString& text) {
    // An empty field is no password: no stored digest is ever that of the empty text.
    if (text.isEmpty()) return std::nullopt;
    return text;
}
} // namespace

MivraBus::MivraBus(TimerModel& engine, BusHooks hooks, QObject* parent)
    : QObject(parent), m_engine(engine), m_hooks(std::move(hooks)) {
    registerBusTypes();
    for (auto signal :
         {&TimerModel::phaseChanged, &TimerModel::runningChanged, &TimerModel::takesTodayChanged,
          &TimerModel::focusedSecondsTodayChanged, &TimerModel::lockupsChanged,
          &TimerModel::gateLockedChanged, &TimerModel::lockKindChanged, &TimerModel::pendingLockChanged,
          &TimerModel::openSetActiveChanged, &TimerModel::settingsValueChanged})
        connect(&engine, signal, this, qOverload<>(&MivraBus::refresh));
    connect(&engine, &TimerModel::blockingSynced, this, qOverload<>(&MivraBus::refresh));
    // What changes every second looks only at what it can change: the countdown and its texts, the
    // spent allowance, the title's meeting label, which moves with the clock also while nothing
    // else changes.
    connect(&engine, &TimerModel::remainingChanged, this, [this] {
        refresh({"Remaining", "ClockText", "PhaseTitle", "StatusTitle"});
    });
    connect(&engine, &TimerModel::textsChanged, this, [this] {
        refresh({"ClockText", "PhaseTitle", "StatusTitle"});
    });
    for (auto signal : {&TimerModel::allowanceUsedSecondsChanged, &TimerModel::allowanceLeftChanged})
        connect(&engine, signal, this, [this] {
            refresh({"AllowanceLeft", "OpenSetActive", "BlockingActive", "StatusTitle"});
        });
    connect(&engine, &TimerModel::ticked, this, [this] { refresh({"StatusTitle"}); });
    CalendarService& calendar = engine.calendar();
    connect(&calendar, &CalendarService::currentEventChanged, this, qOverload<>(&MivraBus::refresh));
    connect(&calendar, &CalendarService::nextEventChanged, this, qOverload<>(&MivraBus::refresh));
    if (Loc* loc = Loc::shared()) connect(loc, &Loc::langChanged, this, qOverload<>(&MivraBus::refresh));
}

MivraBus::~MivraBus() {
    if (m_connection) m_connection->unregisterObject(QString::fromUtf16(MivraBusNames::path));
}

bool MivraBus::attach(QDBusConnection connection) {
    if (!connection.registerObject(QString::fromUtf16(MivraBusNames::path), this,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties))
        return false;
    m_connection = connection;
    m_sent = snapshot();
    return true;
}

void MivraBus::refresh() {
    m_dirty = ~quint32(0);
    if (m_flushQueued) return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(this, &MivraBus::flush, Qt::QueuedConnection);
}

void MivraBus::refresh(std::initializer_list<const char*> properties) {
    const QMetaObject* mo = metaObject();
    for (const char* name : properties) {
        const int index = mo->indexOfProperty(name) - mo->propertyOffset();
        Q_ASSERT(index >= 0 && index < 32);
        m_dirty |= quint32(1) << index;
    }
    if (m_flushQueued) return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(this, &MivraBus::flush, Qt::QueuedConnection);
}

QVariantMap MivraBus::snapshot() const {
    QVariantMap all;
    const QMetaObject* mo = metaObject();
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        all.insert(QString::fromLatin1(p.name()), p.read(this));
    }
    return all;
}

void MivraBus::flush() {
    m_flushQueued = false;
    const quint32 dirty = std::exchange(m_dirty, 0);
    if (!m_connection) return;
    // Only the properties that may have changed are read, and only those that did are sent.
    QVariantMap changed;
    const QMetaObject* mo = metaObject();
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i) {
        if (!(dirty & (quint32(1) << (i - mo->propertyOffset())))) continue;
        const QMetaProperty p = mo->property(i);
        const QString name = QString::fromLatin1(p.name());
        const QVariant value = p.read(this);
        auto sent = m_sent.find(name);
        if (sent != m_sent.end() && *sent == value) continue;
        m_sent.insert(name, value);
        changed.insert(name, value);
    }
    if (changed.isEmpty()) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromUtf16(MivraBusNames::path),
                                   u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
    signal << QString::fromUtf16(MivraBusNames::interface) << changed << QStringList{};
    m_connection->send(signal);
    emit announced(changed);
}

void MivraBus::refuse(const QString& message) {
    if (calledFromDBus()) sendErrorReply(QString::fromUtf16(MivraBusNames::refused), message);
}

void MivraBus::invalid(const QString& message) {
    if (calledFromDBus()) sendErrorReply(QDBusError::InvalidArgs, message);
}

// Properties.

QString MivraBus::phase() const {
    return phaseText(m_engine.phase());
}
bool MivraBus::running() const {
    return m_engine.running();
}
qlonglong MivraBus::remaining() const {
    return m_engine.remaining();
}
qlonglong MivraBus::phaseLength() const {
    return m_engine.phaseLength();
}
QString MivraBus::clockText() const {
    return m_engine.clockText();
}
QString MivraBus::statusTitle() const {
    return m_hooks.statusTitle ? m_hooks.statusTitle() : QString();
}
QString MivraBus::phaseTitle() const {
    return m_engine.phaseTitle();
}
bool MivraBus::gateLocked() const {
    return m_engine.gateLocked();
}
QString MivraBus::lockKind() const {
    return lockKindText(m_engine.lockKind());
}
QString MivraBus::pendingLock() const {
    return lockKindText(m_engine.pendingLock());
}
bool MivraBus::blockingActive() const {
    return m_engine.blockingActive();
}
qlonglong MivraBus::takesToday() const {
    return m_engine.takesToday();
}
qlonglong MivraBus::focusedSeconds() const {
    return m_engine.focusedSecondsToday();
}
qlonglong MivraBus::allowanceLeft() const {
    return m_engine.allowanceLeft();
}
bool MivraBus::openSetActive() const {
    return m_engine.openSetActive();
}
QString MivraBus::language() const {
    return langRawValue(currentLang());
}

BusLockup MivraBus::activeLockup() const {
    const Lockup* l = m_engine.lockupInEffect();
    if (!l) return {};
    return {uuidText(l->id), l->name};
}

BusMeeting MivraBus::currentMeeting() const {
    return meetingOf(m_engine.calendar().currentEvent());
}
BusMeeting MivraBus::nextMeeting() const {
    return meetingOf(m_engine.calendar().nextEvent());
}

// Methods: each refuses what the popover's control would not offer.

void MivraBus::RollOrResume() {
    if (m_engine.running())
        return refuse(pick(u"The clock is already running."_s, u"Le chrono tourne déjà."_s));
    m_engine.rollOrResume();
}

void MivraBus::Pause() {
    if (!m_engine.running())
        return refuse(pick(u"The clock isn't running."_s, u"Le chrono ne tourne pas."_s));
    m_engine.pause();
}

bool MivraBus::Cut(const QString& password) {
    if (m_engine.phase() == Phase::standby && !m_engine.running()) {
        refuse(pick(u"Nothing to cut."_s, u"Rien à couper."_s));
        return false;
    }
    return m_engine.cutTake(givenPassword(password));
}

void MivraBus::SkipBreak() {
    if (m_engine.phase() != Phase::setup && m_engine.phase() != Phase::wrap)
        return refuse(pick(u"There's no break to skip."_s, u"Aucune pause à passer."_s));
    m_engine.skipBreak();
}

void MivraBus::OpenSet() {
    if (!m_engine.settings().allowanceEnabled)
        return refuse(pick(u"Allowance mode is off."_s, u"Le mode quota est désactivé."_s));
    if (m_engine.openSetActive())
        return refuse(pick(u"The set is already open."_s, u"Le plateau est déjà ouvert."_s));
    if (m_engine.allowanceLeft() < 1)
        return refuse(pick(u"No allowance left today."_s, u"Plus de quota aujourd'hui."_s));
    m_engine.openSet();
}

void MivraBus::CloseSet() {
    if (!m_engine.openSetActive())
        return refuse(pick(u"The set isn't open."_s, u"Le plateau n'est pas ouvert."_s));
    m_engine.closeSet();
}

void MivraBus::SetPendingLock(const QString& kind) {
    const std::optional<LockKind> k = lockKindFromText(kind);
    if (!k)
        return invalid(pick(u"Unknown gate lock \""_s + kind + u"\": none, timer or password."_s,
                            u"Verrou inconnu « "_s + kind + u" » : none, timer ou password."_s));
    if (m_engine.phase() != Phase::standby || m_engine.running())
        return refuse(
            pick(u"The gate is chosen before a take."_s, u"La barrière se choisit avant la mivra."_s));
    m_engine.setPendingLock(*k);
}

void MivraBus::SelectLockup(const QString& id) {
    const std::optional<QUuid> uuid = uuidFromText(id);
    const bool known = uuid && std::any_of(m_engine.lockups().cbegin(), m_engine.lockups().cend(),
                                           [&](const Lockup& l) { return l.id == *uuid; });
    if (!known)
        return invalid(pick(u"No lockup has the id \""_s + id + u"\"."_s,
                            u"Aucun périmètre n'a l'identifiant « "_s + id + u" »."_s));
    m_engine.selectLockup(*uuid);
}

void MivraBus::ShowPopover() {
    if (!m_hooks.showPopover)
        return refuse(pick(u"There is no popover to show."_s, u"Aucun popover à montrer."_s));
    m_hooks.showPopover(std::nullopt);
}

bool MivraBus::Quit(const QString& password) {
    // The termination check: a locked gate holds, a granted quit releases the block first.
    if (!m_engine.authorizeQuit(givenPassword(password))) return false;
    std::function<void()> leave = m_hooks.quit ? m_hooks.quit : [] { QCoreApplication::quit(); };
    QTimer::singleShot(0, this, leave);
    return true;
}
