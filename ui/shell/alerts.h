// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

#include <QQuickView>

// One modal alert: its texts, an optional password field, and its buttons.
class Alert : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the shell")
    Q_PROPERTY(QString message MEMBER message CONSTANT)
    Q_PROPERTY(QString informative MEMBER informative CONSTANT)
    Q_PROPERTY(bool hasField MEMBER hasField CONSTANT)
    Q_PROPERTY(QStringList buttons MEMBER buttons CONSTANT)
public:
    QString message, informative;
    bool hasField = false;
    QStringList buttons;
    // The button chosen and the field's text; the alert closes afterwards.
    std::function<void(int button, const QString& text)> onChosen;

    Q_INVOKABLE void choose(int button, const QString& text);

    // The alerts of quitting, in the current language.
    static Alert* timerLock();
    static Alert* passwordQuit();
    static Alert* wrongPassword();

signals:
    void closed();
};

// Shows alerts as application-modal Qt Quick windows in the popover's look. The event loop keeps
// running under them, so the engine's timer does too.
class AlertPresenter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AlertPresenter() override;

    // Takes ownership of `alert` and shows it; the window goes when a button is chosen or it is
    // closed.
    void show(Alert* alert);
    QQuickView* current() const { return m_window.get(); }
    Alert* currentAlert() const { return m_alert; }

private:
    std::unique_ptr<QQuickView> m_window;
    QPointer<Alert> m_alert;
};
