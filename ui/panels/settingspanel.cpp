// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/settingspanel.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/loginitem.h"

#include <QColor>

#include <optional>

#ifndef MIVRA_VERSION
#define MIVRA_VERSION ""
#endif

namespace {
struct StepperField {
    const char16_t* field;
    const char16_t* en;
    const char16_t* fr;
    bool minutes; // suffix "min"
    StepRange range;
    qint64 Settings::*member;
};

const StepperField kSteppers[] = {
    {u"focusMin", u"Take length", u"Durée de la mivra", true, {1, 180, 5}, &Settings::focusMin},
    {u"shortMin", u"Setup (short break)", u"Réglage (pause courte)", true, {1, 60, 1}, &Settings::shortMin},
    {u"longMin", u"Wrap (long break)", u"Emballage (pause longue)", true, {1, 90, 5}, &Settings::longMin},
    {u"reel", u"Takes per reel", u"Mivras par bobine", false, {1, 12, 1}, &Settings::reel},
    {u"meetingWarnMinutes", u"Warn (minutes before)", u"Avertir (minutes avant)", true, {1, 30, 1},
     &Settings::meetingWarnMinutes},
    {u"allowanceMin", u"Minutes per day", u"Minutes par jour", true, {5, 240, 5}, &Settings::allowanceMin},
};

struct ToggleField {
    const char16_t* field;
    bool Settings::*member;
};

const ToggleField kToggles[] = {
    {u"soundOn", &Settings::soundOn},
    {u"autoStartBreaks", &Settings::autoStartBreaks},
    {u"autoStartTakes", &Settings::autoStartTakes},
    {u"calendarEnabled", &Settings::calendarEnabled},
    {u"meetingWarnEnabled", &Settings::meetingWarnEnabled},
    {u"blockWebsites", &Settings::blockWebsites},
    {u"blockApps", &Settings::blockApps},
    {u"blockPage", &Settings::blockPage},
    {u"blockDuringBreaks", &Settings::blockDuringBreaks},
    {u"allowanceEnabled", &Settings::allowanceEnabled},
};

QString str(const char16_t* s) { return QString::fromUtf16(s); }
} // namespace

SettingsPanelModel::SettingsPanelModel(TimerModel& engine, LoginItem* loginItem, QObject* parent)
    : PanelModel(parent), m_loginItem(loginItem) {
    setEngine(&engine);
}

void SettingsPanelModel::attach(TimerModel& engine) {
    if (!m_loginItem) m_loginItem = PanelSeams::shared().loginItem;
    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
    emit launchAtLoginChanged();
    connect(&engine, &TimerModel::settingsValueChanged, this, &SettingsPanelModel::changed);
    connect(&engine.blocker(), &Blocker::installedChanged, this, &SettingsPanelModel::changed);
    connect(&engine.blocker(), &Blocker::lastErrorChanged, this, &SettingsPanelModel::changed);
    CalendarService& cal = engine.calendar();
    connect(&cal, &CalendarService::statusChanged, this, &SettingsPanelModel::changed);
    connect(&cal, &CalendarService::calendarsChanged, this, &SettingsPanelModel::changed);
}

QString SettingsPanelModel::appVersion() {
    const QString v = QStringLiteral(MIVRA_VERSION);
    return v.isEmpty() ? QStringLiteral("—") : v;
}

QVariantMap SettingsPanelModel::texts() const {
    const bool hasPassword = passwordSet();
    return {
        {QStringLiteral("timer"), pick(QStringLiteral("TIMER"), QStringLiteral("MINUTEUR"))},
        {QStringLiteral("launchAtLogin"), pick(QStringLiteral("Launch at login"), QStringLiteral("Lancer à l'ouverture de session"))},
        {QStringLiteral("soundOn"), pick(QStringLiteral("Sound on cut"), QStringLiteral("Son au « coupez »"))},
        {QStringLiteral("autoStartBreaks"), pick(QStringLiteral("Auto-start breaks"), QStringLiteral("Démarrer les pauses automatiquement"))},
        {QStringLiteral("autoStartTakes"), pick(QStringLiteral("Auto-start next take"), QStringLiteral("Démarrer la prochaine mivra automatiquement"))},
        {QStringLiteral("calendarHeading"), pick(QStringLiteral("GOOGLE CALENDAR"), QStringLiteral("GOOGLE AGENDA"))},
        {QStringLiteral("calendarEnabled"), pick(QStringLiteral("Show next meeting"), QStringLiteral("Afficher la prochaine réunion"))},
        {QStringLiteral("calendarReads"), pick(QStringLiteral("Reads your calendars on this computer"), QStringLiteral("Lit tes agendas sur cet ordinateur"))},
        {QStringLiteral("calendarConnect"), pick(QStringLiteral("Connect"), QStringLiteral("Connecter"))},
        {QStringLiteral("calendarConnected"), pick(QStringLiteral("Connected · reading your calendars"), QStringLiteral("Connecté · lecture de tes agendas"))},
        {QStringLiteral("meetingWarnEnabled"), pick(QStringLiteral("Warn before meetings"), QStringLiteral("Avertir avant les réunions"))},
        {QStringLiteral("calendarsHeading"), pick(QStringLiteral("CALENDARS TO WATCH"), QStringLiteral("AGENDAS À SURVEILLER"))},
        {QStringLiteral("calendarDenied"), pick(QStringLiteral("Access denied"), QStringLiteral("Accès refusé"))},
        {QStringLiteral("calendarOpenSettings"), pick(QStringLiteral("Set up calendars"), QStringLiteral("Configurer les agendas"))},
        {QStringLiteral("calendarCaption"),
         pick(QStringLiteral("Reads the desktop's calendars and the .ics files in ~/.local/share/Mivra/calendars — add Google in Settings → Online Accounts if it isn't there yet."),
              QStringLiteral("Lit les agendas du bureau et les fichiers .ics de ~/.local/share/Mivra/calendars — ajoute Google dans Paramètres → Comptes en ligne s'il n'y est pas encore."))},
        {QStringLiteral("blockingHeading"), pick(QStringLiteral("CLOSED SET — BLOCKING"), QStringLiteral("PLATEAU FERMÉ — BLOCAGE"))},
        {QStringLiteral("blockWebsites"), pick(QStringLiteral("Block websites"), QStringLiteral("Bloquer les sites web"))},
        {QStringLiteral("blockApps"), pick(QStringLiteral("Block apps"), QStringLiteral("Bloquer les applications"))},
        {QStringLiteral("blockPage"), pick(QStringLiteral("Show 'Closed Set' page"), QStringLiteral("Afficher la page « Plateau fermé »"))},
        {QStringLiteral("blockDuringBreaks"), pick(QStringLiteral("Keep blocking on breaks"), QStringLiteral("Garder le blocage pendant les pauses"))},
        {QStringLiteral("helperStatus"), helperInstalled() ? pick(QStringLiteral("Blocking helper installed"), QStringLiteral("Assistant de blocage installé"))
                                                           : pick(QStringLiteral("Helper not installed"), QStringLiteral("Assistant non installé"))},
        {QStringLiteral("helperAction"), helperNeedsClaim() ? pick(QStringLiteral("Allow"), QStringLiteral("Autoriser"))
                                         : helperInstalled() ? pick(QStringLiteral("Remove"), QStringLiteral("Retirer"))
                                                             : pick(QStringLiteral("Install"), QStringLiteral("Installer"))},
        {QStringLiteral("helperNote"),
         pick(QStringLiteral("Website blocking edits /etc/hosts via a small root helper — it asks for your administrator password once to install."),
              QStringLiteral("Le blocage des sites modifie /etc/hosts via un petit assistant root — il demande ton mot de passe administrateur une seule fois à l'installation."))},
        {QStringLiteral("allowanceHeading"), pick(QStringLiteral("ALLOWANCE"), QStringLiteral("QUOTA"))},
        {QStringLiteral("allowanceEnabled"), pick(QStringLiteral("Daily allowance mode"), QStringLiteral("Mode quota quotidien"))},
        {QStringLiteral("allowanceNote"),
         pick(QStringLiteral("In allowance mode the set stays closed all day. Spend your budget with “Open set”."),
              QStringLiteral("En mode quota, le plateau reste fermé toute la journée. Dépense ton budget avec « Ouvrir le plateau »."))},
        {QStringLiteral("passwordHeading"), pick(QStringLiteral("HARD MODE — PASSWORD"), QStringLiteral("MODE STRICT — MOT DE PASSE"))},
        {QStringLiteral("passwordPlaceholder"), hasPassword ? pick(QStringLiteral("Change password"), QStringLiteral("Changer le mot de passe"))
                                                            : pick(QStringLiteral("Set a password"), QStringLiteral("Définir un mot de passe"))},
        {QStringLiteral("passwordSave"), pick(QStringLiteral("Save"), QStringLiteral("Enregistrer"))},
        {QStringLiteral("passwordStatus"), hasPassword ? pick(QStringLiteral("Password set ✓"), QStringLiteral("Mot de passe défini ✓"))
                                                       : pick(QStringLiteral("No password — only timer-locks available"),
                                                              QStringLiteral("Aucun mot de passe — seul le verrou minuteur est offert"))},
        {QStringLiteral("passwordClear"), pick(QStringLiteral("Clear"), QStringLiteral("Effacer"))},
        {QStringLiteral("footerStudio"), QStringLiteral("L'Oriflan")},
        {QStringLiteral("footerVersion"), QString(QStringLiteral("Mivra ") + appVersion() +
                                                      pick(QStringLiteral(" — made in the oriflan"), QStringLiteral(" — fait dans l'oriflan")))},
    };
}

QVariantMap SettingsPanelModel::steppers() const {
    QVariantMap out;
    if (!m_engine) return out;
    const Settings& s = m_engine->settings();
    for (const StepperField& f : kSteppers)
        out.insert(str(f.field), stepperRow(pick(str(f.en), str(f.fr)), s.*f.member,
                                            f.minutes ? QStringLiteral("min") : QString(), f.range));
    return out;
}

QVariantMap SettingsPanelModel::toggles() const {
    QVariantMap out;
    if (!m_engine) return out;
    const Settings& s = m_engine->settings();
    for (const ToggleField& f : kToggles) out.insert(str(f.field), s.*f.member);
    return out;
}

void SettingsPanelModel::step(const QString& field, int direction) {
    if (!m_engine) return;
    for (const StepperField& f : kSteppers) {
        if (field != str(f.field)) continue;
        const qint64 now = m_engine->settings().*f.member;
        const qint64 next = f.range.stepped(now, direction);
        if (next != now) m_engine->editSettings([&](Settings& s) { s.*f.member = next; });
        return;
    }
}

void SettingsPanelModel::setToggle(const QString& field, bool on) {
    if (!m_engine) return;
    for (const ToggleField& f : kToggles) {
        if (field != str(f.field)) continue;
        m_engine->editSettings([&](Settings& s) { s.*f.member = on; });
        // Turning website blocking on asks for the helper right away, so the prompt shows now.
        if (f.member == &Settings::blockWebsites && on &&
            !(helperInstalled() && m_engine->blocker().lockupWritable()))
            installHelper();
        return;
    }
}

void SettingsPanelModel::setLaunchAtLogin(bool on) {
    m_launchAtLogin = on;
    emit launchAtLoginChanged();
    if (m_loginItem) ::setLaunchAtLogin(*m_loginItem, on);
    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
    emit launchAtLoginChanged();
}

QString SettingsPanelModel::calendarState() const {
    if (!m_engine) return QStringLiteral("connect");
    switch (m_engine->calendar().status()) {
    case CalendarAccess::notDetermined: return QStringLiteral("connect");
    case CalendarAccess::fullAccess: return QStringLiteral("connected");
    default: return QStringLiteral("denied");
    }
}

QVariantList SettingsPanelModel::calendars() const {
    QVariantList out;
    if (!m_engine) return out;
    const QStringList& muted = m_engine->settings().mutedCalendarIDs;
    for (const CalendarInfo& c : m_engine->calendar().allCalendars()) {
        out.append(QVariantMap{
            {QStringLiteral("id"), c.id},
            {QStringLiteral("title"), c.title},
            {QStringLiteral("source"), c.source},
            {QStringLiteral("color"), c.colorHex ? QColor::fromString(*c.colorHex) : QColor()},
            {QStringLiteral("watched"), !muted.contains(c.id)},
            {QStringLiteral("skipped"),
             c.skipped.isEmpty() ? QString()
                                 : pick(QStringLiteral("Skipped, too large or too slow to read: "),
                                        QStringLiteral("Ignoré, trop gros ou trop lent à lire : ")) +
                                       c.skipped.join(QStringLiteral(", "))},
        });
    }
    return out;
}

void SettingsPanelModel::connectCalendar() {
    if (m_engine) m_engine->calendar().requestAccess();
}

void SettingsPanelModel::openCalendarSettings() {
    if (m_engine) m_engine->calendar().openPrivacySettings();
}

void SettingsPanelModel::setCalendarWatched(const QString& id, bool watched) {
    if (!m_engine) return;
    m_engine->editSettings([&](Settings& s) {
        s.mutedCalendarIDs.removeAll(id);
        if (!watched) s.mutedCalendarIDs.append(id);
    });
}

bool SettingsPanelModel::helperInstalled() const { return m_engine && m_engine->blocker().installed(); }

QString SettingsPanelModel::helperError() const { return m_engine ? m_engine->blocker().lastErrorText() : QString(); }

void SettingsPanelModel::installHelper() {
    if (!m_engine) return;
    // A packaged helper whose lockup file is not yet this user's still needs the one authorisation
    // that hands the file over.
    if (m_engine->blocker().installed() && m_engine->blocker().lockupWritable()) {
        m_engine->syncBlocking(true);
        return;
    }
    // One administrator prompt at a time: a second press while one is open waits for it.
    if (m_installing) return;
    m_installing = true;
    QPointer<SettingsPanelModel> self(this);
    QPointer<TimerModel> engine = m_engine;
    m_engine->blocker().install([self, engine](bool ok) {
        if (self) self->m_installing = false;
        if (ok && engine) engine->syncBlocking(true);
    });
}

bool SettingsPanelModel::helperNeedsClaim() const {
    return m_engine && m_engine->blocker().packaged() && m_engine->blocker().installed() &&
           !m_engine->blocker().lockupWritable();
}

void SettingsPanelModel::removeHelper() {
    // The package's helper is the package's to remove; its button asks for the lockup file instead
    // while that is not this user's yet.
    if (helperNeedsClaim()) {
        installHelper();
        return;
    }
    if (m_engine) m_engine->blocker().uninstall([](bool) {});
}

void SettingsPanelModel::setPassword(const QString& text) {
    if (text == m_password) return;
    m_password = text;
    emit passwordChanged();
}

bool SettingsPanelModel::passwordSet() const { return m_engine && m_engine->settings().passwordHash.has_value(); }

void SettingsPanelModel::savePassword() {
    if (!m_engine || m_password.isEmpty()) return;
    m_engine->setPassword(m_password);
    setPassword(QString());
}

void SettingsPanelModel::clearPassword() {
    if (m_engine) m_engine->setPassword(QString());
}
