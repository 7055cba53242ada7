// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"
#include "ui/panels/panelkit.h"

#include <QtQml/qqmlregistration.h>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class TimerModel;
class LoginItem;

// The settings panel's face: every setting with its row texts, steppers and switches, the login
// item, the calendar section, the blocking helper and the gate password. Every change goes
// through the engine at once.
class SettingsPanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariantMap texts READ texts NOTIFY changed)
    // By settings field name: the stepper rows (label, value, text, from, to, step, canDown, canUp).
    Q_PROPERTY(QVariantMap steppers READ steppers NOTIFY changed)
    // By settings field name: the switches' states.
    Q_PROPERTY(QVariantMap toggles READ toggles NOTIFY changed)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    // "connect" (not asked yet), "connected" (full access) or "denied" (anything else).
    Q_PROPERTY(QString calendarState READ calendarState NOTIFY changed)
    // One map per calendar: id, title, source, color (invalid when it has none), watched.
    Q_PROPERTY(QVariantList calendars READ calendars NOTIFY changed)
    Q_PROPERTY(bool helperInstalled READ helperInstalled NOTIFY changed)
    Q_PROPERTY(QString helperError READ helperError NOTIFY changed)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(bool canSavePassword READ canSavePassword NOTIFY passwordChanged)
    Q_PROPERTY(bool passwordSet READ passwordSet NOTIFY changed)

public:
    // Made by QML: the login item is the shell's (PanelSeams).
    explicit SettingsPanelModel(QObject* parent = nullptr) : PanelModel(parent) {}
    // Without a login item the switch stays off and changes nothing.
    SettingsPanelModel(TimerModel& engine, LoginItem* loginItem, QObject* parent = nullptr);

    // The application version the footer names; "—" when the build gives none.
    static QString appVersion();

    QVariantMap texts() const;
    QVariantMap steppers() const;
    QVariantMap toggles() const;
    bool launchAtLogin() const { return m_launchAtLogin; }
    QString calendarState() const;
    QVariantList calendars() const;
    bool helperNeedsClaim() const;
    bool helperInstalled() const;
    QString helperError() const;
    QString password() const { return m_password; }
    void setPassword(const QString& text);
    bool canSavePassword() const { return !m_password.isEmpty(); }
    bool passwordSet() const;

    // One press of a stepper (+1 up, -1 down) on a settings field.
    Q_INVOKABLE void step(const QString& field, int direction);
    // A switch bound to a settings field; "blockWebsites" also starts the helper's install.
    Q_INVOKABLE void setToggle(const QString& field, bool on);
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
    void launchAtLoginChanged();
    void passwordChanged();

protected:
    void attach(TimerModel& engine) override;

private:
    LoginItem* m_loginItem = nullptr;
    bool m_launchAtLogin = false;
    bool m_installing = false;
    QString m_password;
};
