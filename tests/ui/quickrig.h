#pragma once

// Loads QML of the Mivra module into an offscreen window and finds items by objectName.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <memory>

struct QuickRig {
    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window = std::make_unique<QQuickWindow>();
    std::unique_ptr<QObject> root;
    QString errors;

    QuickRig() { engine.addImportPath(QStringLiteral("qrc:/qt/qml")); }

    // Instantiates `qml` (a document importing QtQuick and Mivra) with `props` and shows it.
    QQuickItem* load(const QByteArray& qml, const QVariantMap& props = {}) {
        QQmlComponent c(&engine);
        c.setData(qml, QUrl(QStringLiteral("qrc:/qt/qml/Mivra/test.qml")));
        if (!c.isError()) root.reset(c.createWithInitialProperties(props));
        if (!root) {
            errors = c.errorString();
            return nullptr;
        }
        auto* item = qobject_cast<QQuickItem*>(root.get());
        item->setParentItem(window->contentItem());
        const qreal w = item->width() > 0 ? item->width() : item->implicitWidth();
        const qreal h = item->height() > 0 ? item->height() : item->implicitHeight();
        window->resize(int(std::max<qreal>(w, 10)), int(std::max<qreal>(h, 10)));
        window->show();
        return item;
    }

    // Walks the visual tree too: items a Repeater or Loader makes are not QObject children.
    QQuickItem* find(const QString& name) const {
        return root ? findIn(qobject_cast<QQuickItem*>(root.get()), name) : nullptr;
    }
    static QQuickItem* findIn(QQuickItem* item, const QString& name) {
        if (!item) return nullptr;
        if (item->objectName() == name) return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* hit = findIn(child, name)) return hit;
        return nullptr;
    }

    // Clicks an item in its centre.
    void click(QQuickItem* item) {
        const QPointF c = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, c.toPoint());
    }
};
