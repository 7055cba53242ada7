// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/shell.h"

#include "calendar/calendarservice.h"
#include "engine/loc.h"
#include "engine/timermodel.h"
#include "platform/clock.h"
#include "ui/mainview.h"
#include "ui/shell/alerts.h"
#include "ui/shell/popover.h"
#include "ui/shell/status.h"
#include "ui/shell/termination.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace Qt::StringLiterals;

Shell::Shell(TimerModel& engine, Clock& clock, QObject* parent)
    : QObject(parent), m_engine(engine), m_clock(clock),
      m_view(std::make_unique<MainView>(engine, engine.calendar(), clock)),
      m_popover(std::make_unique<Popover>(*m_view)), m_alerts(std::make_unique<AlertPresenter>()) {
    m_view->onPasswordQuit = [this] {
        m_popover->close();
        passwordQuit();
    };
    m_view->onTerminate = [this] { requestQuit(); };
    m_view->openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    auto previous = std::move(engine.onChange);
    engine.onChange = [this, previous] {
        if (previous) previous();
        updateStatus();
    };
    // The tray title carries the meeting's relative time, which moves without the engine.
    connect(&engine.calendar(), &CalendarService::currentEventChanged, this, &Shell::updateStatus);
    connect(&engine.calendar(), &CalendarService::nextEventChanged, this, &Shell::updateStatus);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, &Shell::commitData);
    // A platform that cannot place windows (pure Wayland) shows the view as a normal window.
    m_ordinaryOnly = QGuiApplication::platformName().startsWith(u"wayland"_s);
}

Shell::~Shell() = default;

void Shell::start() {
    // A tray may come or go later (it often starts after the applications of a session).
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, &Shell::followTray);
    watch->start(2000);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_popover->openOrdinary();
        m_fallbackShown = true;
        updateStatus();
        return;
    }
    createTray();
}

void Shell::followTray() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !m_tray) createTray();
    if (!available && m_tray) m_tray.reset();
    const bool hosted = m_statusItem || m_tray;
    if (hosted && m_fallbackShown) {
        m_fallbackShown = false;
        m_popover->close();
    } else if (!hosted && !m_fallbackShown) {
        m_fallbackShown = true;
        m_popover->openOrdinary();
    }
}

void Shell::setStatusItemRegistered(bool registered) {
    m_statusItem = registered;
    if (m_tray) m_tray->setVisible(!registered);
    followTray();
}

void Shell::createTray() {
    m_symbol.clear(); // the new icon is set from the state
    m_tray = std::make_unique<QSystemTrayIcon>();
    auto* menu = new QMenu;
    menu->addAction(u"Open"_s, this, [this] { showPopover(); });
    menu->addAction(u"Quit"_s, this, [this] { requestQuit(); });
    connect(menu, &QMenu::aboutToShow, menu, [menu] {
        menu->actions().at(0)->setText(pick(u"Open"_s, u"Ouvrir"_s));
        menu->actions().at(1)->setText(pick(u"Quit"_s, u"Quitter"_s));
    });
    m_tray->setContextMenu(menu);
    connect(m_tray.get(), &QObject::destroyed, menu, &QObject::deleteLater);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger) return;
                if (m_ordinaryOnly) {
                    if (m_popover->isShown())
                        m_popover->close();
                    else
                        m_popover->openOrdinary();
                    return;
                }
                QRect anchor = m_tray->geometry();
                if (!anchor.isValid() || anchor.isEmpty()) anchor = QRect(QCursor::pos(), QSize(1, 1));
                m_popover->toggle(anchor);
            });
    updateStatus();
    m_tray->setVisible(!m_statusItem);
}

void Shell::showPopover() {
    if (!m_tray || m_ordinaryOnly) {
        m_popover->openOrdinary();
        return;
    }
    if (m_popover->isShown()) return;
    QRect anchor = m_tray->geometry();
    if (!anchor.isValid() || anchor.isEmpty()) anchor = QRect(QCursor::pos(), QSize(1, 1));
    m_popover->open(anchor);
}

void Shell::updateStatus() {
    m_title = statusTitle(m_engine, m_engine.calendar(), m_clock.now());
    if (!m_tray) return;
    const QString symbol = statusSymbol(m_engine);
    if (symbol != m_symbol) {
        m_symbol = symbol;
        m_tray->setIcon(statusIcon(symbol));
    }
    const QString tip = m_title.trimmed().isEmpty() ? u"Mivra"_s : m_title.trimmed();
    if (m_tray->toolTip() != tip) m_tray->setToolTip(tip);
}

void Shell::quitNow() {
    if (quitHook)
        quitHook();
    else
        QCoreApplication::quit();
}

void Shell::requestQuit() {
    switch (terminationCheck(m_engine)) {
    case QuitAnswer::terminateNow:
        quitNow();
        return;
    case QuitAnswer::timerLockAlert:
        m_popover->close();
        m_alerts->show(Alert::timerLock());
        return;
    case QuitAnswer::passwordAlert:
        m_popover->close();
        passwordQuit();
        return;
    }
}

void Shell::passwordQuit() {
    Alert* alert = Alert::passwordQuit();
    alert->onChosen = [this](int button, const QString& text) {
        if (button != 0) return;
        // A new alert may only be shown once this one has gone.
        QTimer::singleShot(0, this, [this, text] {
            // The right password has released the blocking; the gate itself stays locked in the
            // engine, so asking the termination check again would only ask for the password again.
            if (m_engine.authorizeQuit(text))
                quitNow();
            else
                m_alerts->show(Alert::wrongPassword());
        });
    };
    m_alerts->show(alert);
}

void Shell::commitData(QSessionManager& manager) {
    if (!m_engine.gateLocked() || m_engine.lockKind() == LockKind::none) return;
    // The gate holds the set closed until its time is up: refuse the log-out and say why.
    if (manager.allowsInteraction()) {
        manager.cancel();
        manager.release();
    }
    QTimer::singleShot(0, this, [this] { requestQuit(); });
}
