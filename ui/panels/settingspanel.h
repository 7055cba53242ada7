// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"
#include "ui/panels/panelkit.h"

#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class TimerModel;
class LoginItem;

// The settings panel's texts in the current language, beside the rows' own labels.
struct SettingsTexts {
    Q_GADGET
    QML_VALUE_TYPE(settingsTexts)
    Q_PROPERTY(QString timer MEMBER timer)
    Q_PROPERTY(QString launchAtLogin MEMBER launchAtLogin)
    Q_PROPERTY(QString calendarHeading MEMBER calendarHeading)
    Q_PROPERTY(QString calendarReads MEMBER calendarReads)
    Q_PROPERTY(QString calendarConnect MEMBER calendarConnect)
    Q_PROPERTY(QString calendarConnected MEMBER calendarConnected)
    Q_PROPERTY(QString calendarsHeading MEMBER calendarsHeading)
    Q_PROPERTY(QString calendarDenied MEMBER calendarDenied)
    Q_PROPERTY(QString calendarOpenSettings MEMBER calendarOpenSettings)
    Q_PROPERTY(QString calendarCaption MEMBER calendarCaption)
    Q_PROPERTY(QString blockingHeading MEMBER blockingHeading)
    Q_PROPERTY(QString helperStatus MEMBER helperStatus)
    Q_PROPERTY(QString helperAction MEMBER helperAction)
    Q_PROPERTY(QString helperNote MEMBER helperNote)
    Q_PROPERTY(QString allowanceHeading MEMBER allowanceHeading)
    Q_PROPERTY(QString allowanceNote MEMBER allowanceNote)
    Q_PROPERTY(QString passwordHeading MEMBER passwordHeading)
    Q_PROPERTY(QString passwordPlaceholder MEMBER passwordPlaceholder)
    Q_PROPERTY(QString passwordSave MEMBER passwordSave)
    Q_PROPERTY(QString passwordStatus MEMBER passwordStatus)
    Q_PROPERTY(QString passwordClear MEMBER passwordClear)
    Q_PROPERTY(QString footerStudio MEMBER footerStudio)
    Q_PROPERTY(QString footerVersion MEMBER footerVersion)
public:
    QString timer, launchAtLogin, calendarHeading, calendarReads, calendarConnect, calendarConnected,
        calendarsHeading, calendarDenied, calendarOpenSettings, calendarCaption, blockingHeading,
        helperStatus, helperAction, helperNote, allowanceHeading, allowanceNote, passwordHeading,
        passwordPlaceholder, passwordSave, passwordStatus, passwordClear, footerStudio, footerVersion;
};

// The settings panel's face: every setting with its row texts, steppers and switches, the login
// item, the calendar section, the blocking helper and the gate password. Every change goes
// through the engine at once.
class SettingsPanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SettingsTexts texts READ texts NOTIFY changed)
    // The stepper rows, one per integer setting.
    Q_PROPERTY(Stepper* focusMin MEMBER m_focusMin CONSTANT)
    Q_PROPERTY(Stepper* shortMin MEMBER m_shortMin CONSTANT)
    Q_PROPERTY(Stepper* longMin MEMBER m_longMin CONSTANT)
    Q_PROPERTY(Stepper* reel MEMBER m_reel CONSTANT)
    Q_PROPERTY(Stepper* meetingWarnMinutes MEMBER m_meetingWarnMinutes CONSTANT)
    Q_PROPERTY(Stepper* allowanceMin MEMBER m_allowanceMin CONSTANT)
    // The switch rows, one per on/off setting.
    Q_PROPERTY(SettingSwitch* soundOn MEMBER m_soundOn CONSTANT)
    Q_PROPERTY(SettingSwitch* autoStartBreaks MEMBER m_autoStartBreaks CONSTANT)
    Q_PROPERTY(SettingSwitch* autoStartTakes MEMBER m_autoStartTakes CONSTANT)
    Q_PROPERTY(SettingSwitch* calendarEnabled MEMBER m_calendarEnabled CONSTANT)
    Q_PROPERTY(SettingSwitch* meetingWarnEnabled MEMBER m_meetingWarnEnabled CONSTANT)
    Q_PROPERTY(SettingSwitch* blockWebsites MEMBER m_blockWebsites CONSTANT)
    Q_PROPERTY(SettingSwitch* blockApps MEMBER m_blockApps CONSTANT)
    Q_PROPERTY(SettingSwitch* blockPage MEMBER m_blockPage CONSTANT)
    Q_PROPERTY(SettingSwitch* blockDuringBreaks MEMBER m_blockDuringBreaks CONSTANT)
    Q_PROPERTY(SettingSwitch* allowanceEnabled MEMBER m_allowanceEnabled CONSTANT)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    // "connect" (not asked yet), "connected" (full access) or "denied" (anything else).
    Q_PROPERTY(QString calendarState READ calendarState NOTIFY changed)
    // One map per calendar: id, title, source, color (invalid when it has none), watched, skipped.
    Q_PROPERTY(QVariantList calendars READ calendars NOTIFY changed)
    // Why the block cannot change now; empty when it can.
    Q_PROPERTY(QString heldText READ heldText NOTIFY heldTextChanged)
    Q_PROPERTY(bool helperInstalled READ helperInstalled NOTIFY changed)
    Q_PROPERTY(QString helperError READ helperError NOTIFY changed)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(bool canSavePassword READ canSavePassword NOTIFY passwordChanged)
    Q_PROPERTY(bool passwordSet READ passwordSet NOTIFY changed)

public:
    // Made by QML: the login item is the shell's (PanelSeams).
    explicit SettingsPanelModel(QObject* parent = nullptr);
    // Without a login item the switch stays off and changes nothing.
    SettingsPanelModel(TimerModel& engine, LoginItem* loginItem, QObject* parent = nullptr);

    // The application version the footer names; "—" when the build gives none.
    static QString appVersion();

    SettingsTexts texts() const;
    // The row of a settings field by its name ("focusMin", "soundOn"); null for another name.
    Stepper* stepper(const QString& field) const;
    SettingSwitch* toggle(const QString& field) const;
    bool launchAtLogin() const { return m_launchAtLogin; }
    QString calendarState() const;
    QVariantList calendars() const;
    QString heldText() const;
    bool helperNeedsClaim() const;
    bool helperInstalled() const;
    QString helperError() const;
    QString password() const { return m_password; }
    void setPassword(const QString& text);
    bool canSavePassword() const { return !m_password.isEmpty(); }
    bool passwordSet() const;

    // One press of a stepper (+1 up, -1 down) on a settings field.
    void step(const QString& field, int direction);
    // A switch bound to a settings field; "blockWebsites" also starts the helper's install.
    void setToggle(const QString& field, bool on);
    // Shows the wanted state, switches the login item, then shows what the session now says.
    Q_INVOKABLE void setLaunchAtLogin(bool on);
    Q_INVOKABLE void connectCalendar();
    Q_INVOKABLE void openCalendarSettings();
    Q_INVOKABLE void setCalendarWatched(const QString& id, bool watched);
    // Installs the helper when it is missing (then re-applies the block), else re-applies it now.
    Q_INVOKABLE void installHelper();
    Q_INVOKABLE void removeHelper();
    Q_INVOKABLE void savePassword();
    Q_INVOKABLE void clearPassword();

signals:
    void heldTextChanged();
    void launchAtLoginChanged();
    void passwordChanged();

protected:
    void attach(TimerModel& engine) override;

private:
    // Shows the engine's settings on the rows.
    void showRows();

    // Set by the constructor, one per row of its tables.
    Stepper *m_focusMin = nullptr, *m_shortMin = nullptr, *m_longMin = nullptr, *m_reel = nullptr,
            *m_meetingWarnMinutes = nullptr, *m_allowanceMin = nullptr;
    SettingSwitch *m_soundOn = nullptr, *m_autoStartBreaks = nullptr, *m_autoStartTakes = nullptr,
                  *m_calendarEnabled = nullptr, *m_meetingWarnEnabled = nullptr, *m_blockWebsites = nullptr,
                  *m_blockApps = nullptr, *m_blockPage = nullptr, *m_blockDuringBreaks = nullptr,
                  *m_allowanceEnabled = nullptr;
    LoginItem* m_loginItem = nullptr;
    bool m_launchAtLogin = false;
    bool m_installing = false;
    QString m_password;
};
