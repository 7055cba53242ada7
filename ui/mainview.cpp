// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainview.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/clock.h"
#include "ui/style.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace {
struct PanelInfo {
    Panel panel;
    const char16_t* name;
    const char16_t* symbol;
    const char16_t* file;
    const char16_t* en;
    const char16_t* fr;
};

// The side panels in switcher order; each is one QML file of the module.
const PanelInfo kPanels[] = {
    {Panel::settings, u"settings", u"slider.horizontal.3", u"panels/SettingsPanel.qml", u"Settings",
     u"Réglages"},
    {Panel::lists, u"lists", u"lock.square.stack", u"panels/ListsPanel.qml", u"Lists", u"Listes"},
    {Panel::schedule, u"schedule", u"calendar", u"panels/SchedulePanel.qml", u"Schedule", u"Horaire"},
    {Panel::stats, u"stats", u"chart.bar.fill", u"panels/StatsPanel.qml", u"Stats", u"Stats"},
};

QString s(const char16_t* text) {
    return QString::fromUtf16(text);
}

QColor phaseColorOf(Phase p) {
    switch (p) {
    case Phase::standby:
        return Style::bleuVif;
    case Phase::rolling:
        return Style::craie;
    case Phase::setup:
    case Phase::wrap:
        return Style::trace;
    }
    return Style::bleuVif;
}

bool isBreak(Phase p) {
    return p == Phase::setup || p == Phase::wrap;
}

QString minutesSeconds(qint64 seconds) {
    seconds = std::max<qint64>(0, seconds);
    return QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
}

// The meeting the card shows: the one in progress, else the next one.
const std::optional<UpcomingEvent>& shownMeeting(const CalendarService& c) {
    return c.currentEvent() ? c.currentEvent() : c.nextEvent();
}
} // namespace

int filledReelDots(qint64 takes, qint64 reel) {
    reel = std::max<qint64>(1, reel);
    if (takes <= 0) return 0;
    const qint64 f = takes % reel;
    return int(f == 0 ? reel : f);
}

double phaseProgress(qint64 remaining, qint64 length) {
    const double l = double(std::max<qint64>(1, length));
    return std::clamp(1.0 - double(remaining) / l, 0.0, 1.0);
}

MainView::MainView(TimerModel& engine, CalendarService& calendar, Clock& clock, QObject* parent)
    : QObject(parent), m_engine(engine), m_calendar(calendar), m_clock(clock) {
    for (auto signal :
         {&TimerModel::phaseChanged, &TimerModel::remainingChanged, &TimerModel::runningChanged,
          &TimerModel::takesTodayChanged, &TimerModel::gateLockedChanged, &TimerModel::lockKindChanged,
          &TimerModel::pendingLockChanged, &TimerModel::openSetActiveChanged,
          &TimerModel::settingsValueChanged, &TimerModel::textsChanged, &TimerModel::allowanceLeftChanged,
          &TimerModel::lockupsChanged, &TimerModel::focusedSecondsTodayChanged})
        connect(&engine, signal, this, &MainView::changed);
    connect(&engine, &TimerModel::blockingSynced, this, &MainView::changed);
    connect(&engine, &TimerModel::saveFailedChanged, this, &MainView::changed);
    for (auto signal : {&CalendarService::currentEventChanged, &CalendarService::nextEventChanged,
                        &CalendarService::statusChanged})
        connect(&calendar, signal, this, &MainView::changed);
    if (Loc* loc = Loc::shared()) connect(loc, &Loc::langChanged, this, &MainView::changed);
    m_second.setInterval(1000);
    connect(&m_second, &QTimer::timeout, this, &MainView::refresh);
    refresh();
}

MainView::~MainView() = default;

QObject* MainView::engineObject() const {
    return &m_engine;
}
QObject* MainView::calendarObject() const {
    return &m_calendar;
}

void MainView::setActive(bool active) {
    if (m_active == active) return;
    m_active = active;
    if (active) {
        refresh();
        m_second.start();
    } else {
        m_second.stop();
    }
}

void MainView::changed() {
    if (m_active)
        refresh();
    else
        m_stale = true;
}

void MainView::refresh() {
    m_stale = false;
    State st = computeState();
    Tick tk = computeTick();
    if (!(st == m_state)) {
        m_state = std::move(st);
        emit stateChanged();
    }
    if (!(tk == m_tick)) {
        m_tick = std::move(tk);
        emit tickChanged();
    }
}

MainView::Tick MainView::computeTick() const {
    Tick t;
    const QDateTime now = m_clock.now();
    t.clockText = m_engine.clockText();
    t.progress = phaseProgress(m_engine.remaining(), m_engine.phaseLength());
    t.focusedLine = m_engine.focusedText() + pick(u" focused"_s, u" concentré"_s);

    const QString left = minutesSeconds(m_engine.allowanceLeft());
    t.allowanceText = m_engine.openSetActive() ? pick(u"Set open · "_s + left + u" of allowance left"_s,
                                                      u"Plateau ouvert · "_s + left + u" de quota restant"_s)
                                               : pick(u"Allowance · "_s + left + u" left today"_s,
                                                      u"Quota · "_s + left + u" restant aujourd'hui"_s);

    if (const auto& m = shownMeeting(m_calendar)) {
        t.meetingNow = m->start <= now && m->end > now;
        t.meetingTag = t.meetingNow ? pick(u"NOW"_s, u"LÀ"_s) : pick(u"NEXT"_s, u"SUIVANT"_s);
        t.meetingRelative = m->relativeText(now);
    }
    return t;
}

MainView::State MainView::computeState() const {
    State st;
    const Phase phase = m_engine.phase();
    const bool running = m_engine.running();
    const bool locked = m_engine.gateLocked();
    const LockKind kind = m_engine.lockKind();
    const Settings& settings = m_engine.settings();

    st.closedSetVisible = m_engine.blockingActive();
    st.closedSetText = pick(u"CLOSED SET"_s, u"PLATEAU FERMÉ"_s);
    st.saveFailedText = m_engine.saveFailedText();
    st.recVisible = running && phase == Phase::rolling;

    st.calendarVisible = settings.calendarEnabled;
    const CalendarAccess status = m_calendar.status();
    const auto& meeting = shownMeeting(m_calendar);
    if (status == CalendarAccess::fullAccess && meeting) {
        st.calendarState = u"meeting"_s;
        st.meetingTitle = meeting->title;
        st.meetingColor = colorFromHex(meeting->calendarColorHex).value_or(Style::trace);
        st.joinVisible = meeting->joinURL.has_value();
        st.joinText = pick(u"Join"_s, u"Rejoindre"_s);
        if (meeting->joinURL) st.joinTooltip = meeting->joinURL->toString();
    } else if (status == CalendarAccess::fullAccess) {
        st.calendarState = u"empty"_s;
        st.calendarText = pick(u"No meetings ahead"_s, u"Aucune réunion à venir"_s);
    } else if (status == CalendarAccess::notDetermined) {
        st.calendarState = u"connect"_s;
        st.calendarText = pick(u"Connect your calendars"_s, u"Connecter tes agendas"_s);
    } else {
        st.calendarState = u"off"_s;
        st.calendarText = pick(u"Calendar access is off"_s, u"Accès à l'agenda désactivé"_s);
        st.openSettingsText = pick(u"Set up calendars"_s, u"Configurer les agendas"_s);
    }

    st.phaseColor = phaseColorOf(phase);
    st.phaseTitle = m_engine.phaseTitle();
    if (locked) st.lockSymbol = kind == LockKind::password ? u"lock.shield.fill"_s : u"lock.fill"_s;
    st.subtitle = locked && kind == LockKind::timer ? pick(u"Gate's locked. Ride it out."_s,
                                                           u"Barrière verrouillée. Tiens jusqu'au bout."_s)
                                                    : m_engine.phaseSubtitle();

    st.primaryLabel = m_engine.primaryLabel();
    st.primaryTextColor = isBreak(phase) ? Style::nuit : Style::craieBlanc;
    st.secondaryLabel = isBreak(phase) ? pick(u"Skip"_s, u"Passer"_s) : pick(u"Cut"_s, u"Coupez"_s);
    st.cutEnabled = !((phase == Phase::standby && !running) || (locked && kind == LockKind::timer));

    st.pwForCut = m_pwForCut;
    st.pwPlaceholder = pick(u"Password to break the gate"_s, u"Mot de passe pour forcer la barrière"_s);
    st.unlockText = pick(u"Unlock"_s, u"Déverrouiller"_s);

    st.gatePickerVisible = phase == Phase::standby && !running;
    st.gateCaption = pick(u"GATE"_s, u"BARRIÈRE"_s);
    const QString chipLabels[3] = {pick(u"Open"_s, u"Ouvert"_s), pick(u"Timer"_s, u"Minuteur"_s),
                                   pick(u"Password"_s, u"Mot de passe"_s)};
    for (LockKind k : {LockKind::none, LockKind::timer, LockKind::password})
        st.gateChips.append(QVariantMap{{u"kind"_s, int(k)},
                                        {u"label"_s, chipLabels[int(k)]},
                                        {u"tooltip"_s, lockKindLabel(k)},
                                        {u"selected"_s, m_engine.pendingLock() == k}});

    st.allowanceVisible = settings.allowanceEnabled;
    const bool open = m_engine.openSetActive();
    st.allowanceSymbol = open ? u"door.left.hand.open"_s : u"hourglass"_s;
    if (open) {
        st.setButtonText = pick(u"Close set"_s, u"Fermer le plateau"_s);
        st.setButtonEnabled = true;
        st.setButtonColor = Style::trace;
    } else {
        st.setButtonText = pick(u"Open set"_s, u"Ouvrir le plateau"_s);
        st.setButtonEnabled = m_engine.allowanceLeft() >= 1;
        st.setButtonColor = st.setButtonEnabled ? Style::bleuVif : Style::traceDim;
    }

    const qint64 takes = m_engine.takesToday();
    st.todayText = pick(u"TODAY"_s, u"AUJOURD'HUI"_s);
    st.takesCount = QString::number(takes);
    st.takesLabel = takes == 1 ? pick(u"take printed"_s, u"mivra imprimée"_s)
                               : pick(u"takes printed"_s, u"mivras imprimées"_s);
    const qint64 reel = std::max<qint64>(1, settings.reel);
    const int filled = filledReelDots(takes, reel);
    for (qint64 i = 0; i < reel; ++i)
        st.reelDots.append(i < filled);
    if (const Lockup* lockup = m_engine.lockupInEffect()) {
        st.lockupVisible = true;
        st.lockupName = lockup->name;
        st.lockupCounts = u"· "_s + QString::number(lockup->sites.size()) + u" sites · "_s +
                          QString::number(lockup->apps.size()) + u" apps"_s;
    }

    st.panel = u"none"_s;
    for (const PanelInfo& p : kPanels) {
        const bool isOpen = p.panel == m_panel;
        if (isOpen) {
            st.panel = s(p.name);
            st.panelSource = s(p.file);
            st.panelTitle = pick(s(p.en), s(p.fr));
        }
        st.panelButtons.append(QVariantMap{{u"panel"_s, s(p.name)},
                                           {u"symbol"_s, s(p.symbol)},
                                           {u"tooltip"_s, pick(s(p.en), s(p.fr))},
                                           {u"open"_s, isOpen}});
    }
    st.quitText = pick(u"Quit"_s, u"Quitter"_s);
    st.quitTooltip = pick(u"Quit Mivra"_s, u"Quitter Mivra"_s);
    return st;
}

void MainView::setPwInput(const QString& text) {
    if (m_pwInput == text) return;
    m_pwInput = text;
    emit pwInputChanged();
}

void MainView::primary() {
    if (m_engine.running())
        m_engine.pause();
    else
        m_engine.rollOrResume();
    refresh();
}

void MainView::secondary() {
    const Phase phase = m_engine.phase();
    if (isBreak(phase)) {
        m_engine.skipBreak();
    } else if (m_state.cutEnabled) {
        if (m_engine.gateLocked() && m_engine.lockKind() == LockKind::password)
            m_pwForCut = true;
        else
            m_engine.cutTake(std::nullopt);
    }
    refresh();
}

void MainView::unlock() {
    if (m_engine.cutTake(m_pwInput)) m_pwForCut = false;
    setPwInput(QString());
    refresh();
}

void MainView::cancelPassword() {
    m_pwForCut = false;
    setPwInput(QString());
    refresh();
}

void MainView::pickGate(int kind) {
    if (kind < 0 || kind > int(LockKind::password) || !m_state.gatePickerVisible) return;
    m_engine.setPendingLock(LockKind(kind));
    refresh();
}

void MainView::toggleSet() {
    if (m_engine.openSetActive())
        m_engine.closeSet();
    else if (m_engine.allowanceLeft() >= 1)
        m_engine.openSet();
    refresh();
}

void MainView::connectCalendar() {
    m_calendar.requestAccess();
}
void MainView::openCalendarSettings() {
    m_calendar.openPrivacySettings();
}

void MainView::join() {
    const auto& m = shownMeeting(m_calendar);
    if (m && m->joinURL && openUrl) openUrl(*m->joinURL);
}

void MainView::togglePanel(const QString& name) {
    for (const PanelInfo& p : kPanels)
        if (s(p.name) == name) m_panel = m_panel == p.panel ? Panel::none : p.panel;
    refresh();
}

void MainView::quit() {
    const LockKind kind = m_engine.lockKind();
    if (m_engine.gateLocked() && (kind == LockKind::timer || kind == LockKind::password)) {
        if (onPasswordQuit) onPasswordQuit();
        return;
    }
    m_engine.releaseBlocking();
    if (onTerminate) onTerminate();
}
