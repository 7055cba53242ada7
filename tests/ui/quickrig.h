// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Loads QML of the Mivra module into an offscreen window and finds items by objectName.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <functional>
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

    // The items Tab (Shift+Tab when not `forward`) gives the focus to, in turn, until one comes round again.
    QList<QQuickItem*> tabChain(bool forward = true) {
        QList<QQuickItem*> seen;
        for (int i = 0; i < 500; ++i) {
            QTest::keyClick(window.get(), Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
            QQuickItem* item = window->activeFocusItem();
            if (!item || item == window->contentItem() || seen.contains(item)) break;
            seen.append(item);
        }
        return seen;
    }
    // Every shown, enabled item under `root` that takes the focus from Tab, in tree order.
    static QList<QQuickItem*> tabStops(QQuickItem* root) {
        QList<QQuickItem*> out;
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
            if (!item->isVisible() || !item->isEnabled()) return;
            if (item->activeFocusOnTab()) out.append(item);
            for (QQuickItem* child : item->childItems())
                walk(child);
        };
        walk(root);
        return out;
    }
    // Pairs of neighbours in `chain` where the second does not come after the first when read line
    // by line (top to bottom, then left to right on one line), from positions taken in `root` now.
    static std::string readingOrderBreaks(const QList<QQuickItem*>& chain, QQuickItem* root) {
        QList<QRectF> at;
        for (QQuickItem* item : chain) {
            // An editor taller than the frame that cuts it (it scrolls in there) counts as the frame.
            QRectF r = item->mapRectToItem(root, QRectF(0, 0, item->width(), item->height()));
            for (QQuickItem* up = item->parentItem(); up && up != root; up = up->parentItem())
                if (up->clip() && up->height() < item->height()) {
                    r = up->mapRectToItem(root, QRectF(0, 0, up->width(), up->height()));
                    break;
                }
            at.append(r);
        }
        QStringList out;
        for (qsizetype i = 1; i < at.size(); ++i) {
            const QRectF a = at[i - 1], b = at[i];
            const bool sameLine = b.top() < a.bottom() - 1 && a.top() < b.bottom() - 1;
            if (sameLine ? b.left() < a.right() - 1 : b.top() < a.bottom() - 1)
                out.append(name(chain[i - 1]) + QStringLiteral(" -> ") + name(chain[i]));
        }
        return out.join(QStringLiteral(", ")).toStdString();
    }
    // The items' names, one after the other, as a test prints them.
    static std::string names(const QList<QQuickItem*>& items) {
        QStringList out;
        for (QQuickItem* i : items)
            out.append(name(i));
        return out.join(QStringLiteral(", ")).toStdString();
    }
    // The object name of the item or of its nearest named ancestor.
    static QString name(QQuickItem* item) {
        for (QQuickItem* i = item; i; i = i->parentItem())
            if (!i->objectName().isEmpty()) return i->objectName();
        return QString::fromUtf8(item->metaObject()->className());
    }

    // Clicks an item in its centre.
    void click(QQuickItem* item) {
        const QPointF c = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, c.toPoint());
    }
};
