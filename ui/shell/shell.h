// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AlertPresenter;
class Clock;
class MainView;
class Popover;
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): Qt keeps its destructor private on purpose
class QSessionManager;
class QSystemTrayIcon;
class TimerModel;

// The application shell: the tray icon and its menu, the popover of the main view, the alerts
// and every way of quitting.
class Shell : public QObject {
    Q_OBJECT
public:
    Shell(TimerModel& engine, Clock& clock, QObject* parent = nullptr);
    ~Shell() override;

    // Puts the icon in the tray, or opens the popover as a window when there is no tray.
    void start();
    // A second start: show the popover (or the window when there is no tray).
    void showPopover();
    // Mivra's own status item is registered with a host (true) or no longer (false): it stands
    // in for the ordinary tray icon, and for the window shown when there is no tray at all.
    void setStatusItemRegistered(bool registered);
    // Every quit request: the Quit control, the tray menu, SIGTERM, SIGINT and SIGHUP.
    void requestQuit();
    // The password quit alert: the right password quits, a wrong one says so.
    void passwordQuit();

    MainView& view() { return *m_view; }
    Popover& popover() { return *m_popover; }
    AlertPresenter& alerts() { return *m_alerts; }
    QSystemTrayIcon* tray() const { return m_tray.get(); }
    QString statusTitleText() const { return m_title; }
    // Told instead of quitting the application (tests).
    std::function<void()> quitHook;

private:
    void updateStatus();
    void createTray();
    // Follows a tray that appears or goes after the start: the icon goes there, or the window
    // comes back.
    void followTray();
    void commitData(QSessionManager& manager);
    void quitNow();

    TimerModel& m_engine;
    Clock& m_clock;
    std::unique_ptr<MainView> m_view;
    std::unique_ptr<Popover> m_popover;
    std::unique_ptr<AlertPresenter> m_alerts;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QString m_title, m_symbol;
    bool m_ordinaryOnly = false;
    bool m_statusItem = false;    // our status item is registered with a host
    bool m_fallbackShown = false; // the view was opened as a window because no tray was there
};
