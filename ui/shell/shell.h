#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AlertPresenter;
class Clock;
class MainView;
class Popover;
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
};
