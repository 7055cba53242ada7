// SPDX-License-Identifier: GPL-3.0-or-later
// The floor the desktop app is measured against: the least a Qt Quick tray program of the same
// shape costs. A tray icon, a hidden Quick window holding a clock text that changes each second,
// the software renderer. Clicking the icon shows or hides the window (340 wide, like the popover).
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    QQmlApplicationEngine engine;
    engine.loadData(R"(
import QtQuick
Window {
    width: 340; height: 420; visible: false
    flags: Qt.FramelessWindowHint
    color: "#202020"
    Text {
        id: clock
        anchors.centerIn: parent
        color: "white"; font.pixelSize: 32
        text: Qt.formatTime(new Date(), "hh:mm:ss")
    }
    Timer { interval: 1000; repeat: true; running: true; onTriggered: clock.text = Qt.formatTime(new Date(), "hh:mm:ss") }
}
)");
    if (engine.rootObjects().isEmpty()) return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());

    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkGray);
    QSystemTrayIcon tray{QIcon(pixmap)};
    QObject::connect(&tray, &QSystemTrayIcon::activated, window, [window](QSystemTrayIcon::ActivationReason) {
        window->setVisible(!window->isVisible());
    });
    tray.show();
    return app.exec();
}
