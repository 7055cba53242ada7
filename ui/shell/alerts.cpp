// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/alerts.h"

#include "engine/loc.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

using namespace Qt::StringLiterals;

void Alert::choose(int button, const QString& text) {
    auto done = std::move(onChosen);
    onChosen = nullptr;
    emit closed();
    if (done) done(button, text);
}

Alert* Alert::timerLock() {
    auto* a = new Alert;
    a->message = pick(u"Gate's locked to the timer."_s, u"La barrière est verrouillée au minuteur."_s);
    a->informative = pick(
        u"You can't quit Mivra mid-take while the gate is locked. Finish the take, or wait the clock out."_s,
        u"Tu ne peux pas quitter Mivra en pleine mivra tant que la barrière est verrouillée. Termine la mivra, ou laisse le chrono finir."_s);
    a->buttons = {u"OK"_s};
    return a;
}

Alert* Alert::passwordQuit() {
    auto* a = new Alert;
    a->message = pick(u"The gate is locked."_s, u"La barrière est verrouillée."_s);
    a->informative = pick(u"Enter your password to break the gate and quit Mivra."_s,
                          u"Entre ton mot de passe pour forcer la barrière et quitter Mivra."_s);
    a->hasField = true;
    a->buttons = {pick(u"Unlock & Quit"_s, u"Déverrouiller et quitter"_s), pick(u"Cancel"_s, u"Annuler"_s)};
    return a;
}

Alert* Alert::wrongPassword() {
    auto* a = new Alert;
    a->message = pick(u"Wrong password."_s, u"Mauvais mot de passe."_s);
    a->buttons = {u"OK"_s};
    return a;
}

AlertPresenter::~AlertPresenter() = default;

void AlertPresenter::show(Alert* alert) {
    // One alert at a time: a new one replaces the one shown.
    if (m_window) {
        m_window->hide();
        m_window.release()->deleteLater();
    }
    if (m_alert) m_alert->deleteLater();
    m_alert = alert;
    auto window = std::make_unique<QQuickView>();
    window->engine()->addImportPath(u"qrc:/qt/qml"_s);
    window->setTitle(u"Mivra"_s);
    window->setColor(QColor(0x0e, 0x16, 0x22));
    window->setFlags(Qt::Dialog | Qt::WindowStaysOnTopHint);
    window->setModality(Qt::ApplicationModal);
    window->setResizeMode(QQuickView::SizeViewToRootObject);
    window->setInitialProperties({{u"alert"_s, QVariant::fromValue<QObject*>(alert)}});
    window->setSource(QUrl(u"qrc:/qt/qml/Mivra/Dialog.qml"_s));
    QQuickView* raw = window.get();
    connect(alert, &Alert::closed, this, [this, raw] {
        if (m_window.get() != raw) return;
        raw->hide();
        m_window.release()->deleteLater();
        if (m_alert) m_alert->deleteLater();
    });
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        raw->setPosition(area.center() - QPoint(raw->width() / 2, raw->height() / 2));
    }
    raw->show();
    raw->requestActivate();
    m_window = std::move(window);
}
