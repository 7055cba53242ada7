// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/settingspanel.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/loginitem.h"

#include <QColor>

#include <iterator>
#include <optional>

#ifndef MIVRA_VERSION
#define MIVRA_VERSION ""
#endif

namespace {
using StepperField = StepperSpec<Settings>;

const StepperField kSteppers[] = {
    {u"focusMin", u"Take length", u"Durée de la mivra", true, {1, 180, 5}, &Settings::focusMin},
    {u"shortMin", u"Setup (short break)", u"Réglage (pause courte)", true, {1, 60, 1}, &Settings::shortMin},
    {u"longMin", u"Wrap (long break)", u"Emballage (pause longue)", true, {1, 90, 5}, &Settings::longMin},
    {u"reel", u"Takes per reel", u"Mivras par bobine", false, {1, 12, 1}, &Settings::reel},
    {u"meetingWarnMinutes",
     u"Warn (minutes before)",
     u"Avertir (minutes avant)",
     true,
     {1, 30, 1},
     &Settings::meetingWarnMinutes},
    {u"allowanceMin", u"Minutes per day", u"Minutes par jour", true, {5, 240, 5}, &Settings::allowanceMin},
};

struct ToggleField {
    const char16_t* field;
    const char16_t* en;
    const char16_t* fr;
    bool Settings::*member;
};

const ToggleField kToggles[] = {
    {u"soundOn", u"Sound on cut", u"Son au « coupez »", &Settings::soundOn},
    {u"autoStartBreaks", u"Auto-start breaks", u"Démarrer les pauses automatiquement",
     &Settings::autoStartBreaks},
    {u"autoStartTakes", u"Auto-start next take", u"Démarrer la prochaine mivra automatiquement",
     &Settings::autoStartTakes},
    {u"calendarEnabled", u"Show next meeting", u"Afficher la prochaine réunion", &Settings::calendarEnabled},
    {u"meetingWarnEnabled", u"Warn before meetings", u"Avertir avant les réunions",
     &Settings::meetingWarnEnabled},
    {u"blockWebsites", u"Block websites", u"Bloquer les sites web", &Settings::blockWebsites},
    {u"blockApps", u"Block apps", u"Bloquer les applications", &Settings::blockApps},
    {u"blockPage", u"Show 'Closed Set' page", u"Afficher la page « Plateau fermé »", &Settings::blockPage},
    {u"blockDuringBreaks", u"Keep blocking on breaks", u"Garder le blocage pendant les pauses",
     &Settings::blockDuringBreaks},
    {u"allowanceEnabled", u"Daily allowance mode", u"Mode quota quotidien", &Settings::allowanceEnabled},
};

QString str(const char16_t* s) {
    return QString::fromUtf16(s);
}
} // namespace

SettingsPanelModel::SettingsPanelModel(QObject* parent) : PanelModel(parent) {
    // The rows' slots, in the order of the tables above.
    Stepper** steppers[] = {&m_focusMin, &m_shortMin,           &m_longMin,
                            &m_reel,     &m_meetingWarnMinutes, &m_allowanceMin};
    SettingSwitch** switches[] = {
        &m_soundOn,       &m_autoStartBreaks, &m_autoStartTakes, &m_calendarEnabled,   &m_meetingWarnEnabled,
        &m_blockWebsites, &m_blockApps,       &m_blockPage,      &m_blockDuringBreaks, &m_allowanceEnabled};
    static_assert(std::size(steppers) == std::size(kSteppers) && std::size(switches) == std::size(kToggles));
    for (size_t i = 0; i < std::size(kSteppers); ++i) {
        const StepperField& f = kSteppers[i];
        auto* row = *steppers[i] = new Stepper(this);
        row->setName(str(f.field));
        row->setSuffix(f.minutes ? QStringLiteral("min") : QString());
        row->setRange(f.range);
        // The stepper has kept the value in its range: it is stored as it comes.
        connect(row, &Stepper::modified, this, [this, member = f.member](qint64 next) {
            if (m_engine) m_engine->editSettings([&](Settings& s) { s.*member = next; });
        });
    }
    for (size_t i = 0; i < std::size(kToggles); ++i) {
        auto* row = *switches[i] = new SettingSwitch(str(kToggles[i].field), this);
        connect(row, &SettingSwitch::toggled, this, [this, row](bool on) { setToggle(row->name(), on); });
    }
    connect(this, &PanelModel::changed, this, &SettingsPanelModel::showRows);
}

SettingsPanelModel::SettingsPanelModel(TimerModel& engine, LoginItem* loginItem, QObject* parent)
    : SettingsPanelModel(parent) {
    m_loginItem = loginItem;
    setEngine(&engine);
}

void SettingsPanelModel::showRows() {
    const Settings s = m_engine ? m_engine->settings() : Settings();
    for (const StepperField& f : kSteppers) {
        Stepper* row = stepper(str(f.field));
        row->setLabel(pick(str(f.en), str(f.fr)));
        row->setValue(s.*f.member);
    }
    for (const ToggleField& f : kToggles)
        toggle(str(f.field))->show(pick(str(f.en), str(f.fr)), s.*f.member);
}

Stepper* SettingsPanelModel::stepper(const QString& field) const {
    for (Stepper* row : findChildren<Stepper*>(Qt::FindDirectChildrenOnly))
        if (row->name() == field) return row;
    return nullptr;
}

SettingSwitch* SettingsPanelModel::toggle(const QString& field) const {
    for (SettingSwitch* row : findChildren<SettingSwitch*>(Qt::FindDirectChildrenOnly))
        if (row->name() == field) return row;
    return nullptr;
}

void SettingsPanelModel::attach(TimerModel& engine) {
    if (!m_loginItem) m_loginItem = PanelSeams::shared().loginItem;
    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
    emit launchAtLoginChanged();
    connect(&engine, &TimerModel::settingsValueChanged, this, &SettingsPanelModel::changed);
    connect(&engine, &TimerModel::textsChanged, this, &SettingsPanelModel::heldTextChanged);
    connect(&engine.blocker(), &Blocker::installedChanged, this, &SettingsPanelModel::changed);
    connect(&engine.blocker(), &Blocker::lastErrorChanged, this, &SettingsPanelModel::changed);
    CalendarService& cal = engine.calendar();
    connect(&cal, &CalendarService::statusChanged, this, &SettingsPanelModel::changed);
    connect(&cal, &CalendarService::calendarsChanged, this, &SettingsPanelModel::changed);
    emit heldTextChanged();
}

QString SettingsPanelModel::appVersion() {
    const QString v = QStringLiteral(MIVRA_VERSION);
    return v.isEmpty() ? QStringLiteral("—") : v;
}

SettingsTexts SettingsPanelModel::texts() const {
    const bool hasPassword = passwordSet();
    SettingsTexts t;
    t.timer = pick(QStringLiteral("TIMER"), QStringLiteral("MINUTEUR"));
    t.launchAtLogin =
        pick(QStringLiteral("Launch at login"), QStringLiteral("Lancer à l'ouverture de session"));
    t.calendarHeading = pick(QStringLiteral("GOOGLE CALENDAR"), QStringLiteral("GOOGLE AGENDA"));
    t.calendarReads = pick(QStringLiteral("Reads your calendars on this computer"),
                           QStringLiteral("Lit tes agendas sur cet ordinateur"));
    t.calendarConnect = pick(QStringLiteral("Connect"), QStringLiteral("Connecter"));
    t.calendarConnected = pick(QStringLiteral("Connected · reading your calendars"),
                               QStringLiteral("Connecté · lecture de tes agendas"));
    t.calendarsHeading = pick(QStringLiteral("CALENDARS TO WATCH"), QStringLiteral("AGENDAS À SURVEILLER"));
    t.calendarDenied = pick(QStringLiteral("Access denied"), QStringLiteral("Accès refusé"));
    t.calendarOpenSettings =
        pick(QStringLiteral("Set up calendars"), QStringLiteral("Configurer les agendas"));
    t.calendarCaption = pick(
        QStringLiteral("Reads the desktop's calendars and the .ics files in ~/.local/share/Mivra/calendars — "
                       "add Google in Settings → Online Accounts if it isn't there yet."),
        QStringLiteral("Lit les agendas du bureau et les fichiers .ics de ~/.local/share/Mivra/calendars — "
                       "ajoute Google dans Paramètres → Comptes en ligne s'il n'y est pas encore."));
    t.blockingHeading =
        pick(QStringLiteral("CLOSED SET — BLOCKING"), QStringLiteral("PLATEAU FERMÉ — BLOCAGE"));
    t.helperStatus = helperInstalled() ? pick(QStringLiteral("Blocking helper installed"),
                                              QStringLiteral("Assistant de blocage installé"))
                                       : pick(QStringLiteral("Helper not installed"),
                                              QStringLiteral("Assistant non installé"));
    t.helperAction = helperNeedsClaim()  ? pick(QStringLiteral("Allow"), QStringLiteral("Autoriser"))
                     : helperInstalled() ? pick(QStringLiteral("Remove"), QStringLiteral("Retirer"))
                                         : pick(QStringLiteral("Install"), QStringLiteral("Installer"));
    t.helperNote =
        pick(QStringLiteral("Website blocking edits /etc/hosts via a small root helper — it asks for your "
                            "administrator password once to install."),
             QStringLiteral("Le blocage des sites modifie /etc/hosts via un petit assistant root — il "
                            "demande ton mot de passe administrateur une seule fois à l'installation."));
    t.allowanceHeading = pick(QStringLiteral("ALLOWANCE"), QStringLiteral("QUOTA"));
    t.allowanceNote = pick(
        QStringLiteral("In allowance mode the set stays closed all day. Spend your budget with “Open set”."),
        QStringLiteral("En mode quota, le plateau reste fermé toute la journée. Dépense ton budget avec « "
                       "Ouvrir le plateau »."));
    t.passwordHeading =
        pick(QStringLiteral("HARD MODE — PASSWORD"), QStringLiteral("MODE STRICT — MOT DE PASSE"));
    t.passwordPlaceholder =
        hasPassword ? pick(QStringLiteral("Change password"), QStringLiteral("Changer le mot de passe"))
                    : pick(QStringLiteral("Set a password"), QStringLiteral("Définir un mot de passe"));
    t.passwordSave = pick(QStringLiteral("Save"), QStringLiteral("Enregistrer"));
    t.passwordStatus = hasPassword
                           ? pick(QStringLiteral("Password set ✓"), QStringLiteral("Mot de passe défini ✓"))
                           : pick(QStringLiteral("No password — only timer-locks available"),
                                  QStringLiteral("Aucun mot de passe — seul le verrou minuteur est offert"));
    t.passwordClear = pick(QStringLiteral("Clear"), QStringLiteral("Effacer"));
    t.footerStudio = QStringLiteral("L'Oriflan");
    t.footerVersion =
        QString(QStringLiteral("Mivra ") + appVersion() +
                pick(QStringLiteral(" — made in the oriflan"), QStringLiteral(" — fait dans l'oriflan")));
    return t;
}

void SettingsPanelModel::step(const QString& field, int direction) {
    if (!m_engine) return;
    if (Stepper* row = stepper(field)) row->press(direction);
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
    case CalendarAccess::notDetermined:
        return QStringLiteral("connect");
    case CalendarAccess::fullAccess:
        return QStringLiteral("connected");
    default:
        return QStringLiteral("denied");
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

QString SettingsPanelModel::heldText() const {
    return m_engine ? m_engine->heldText() : QString();
}

bool SettingsPanelModel::helperInstalled() const {
    return m_engine && m_engine->blocker().installed();
}

QString SettingsPanelModel::helperError() const {
    return m_engine ? m_engine->blocker().lastErrorText() : QString();
}

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

bool SettingsPanelModel::passwordSet() const {
    return m_engine && m_engine->settings().passwordHash.has_value();
}

void SettingsPanelModel::savePassword() {
    if (!m_engine || m_password.isEmpty()) return;
    m_engine->setPassword(m_password);
    setPassword(QString());
}

void SettingsPanelModel::clearPassword() {
    if (m_engine) m_engine->setPassword(QString());
}
