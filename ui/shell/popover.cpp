// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/popover.h"

#include "ui/mainview.h"
#include "ui/style.h"

#include <QAccessibleObject>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <malloc.h>

using namespace Qt::StringLiterals;

namespace {
// How long the popover stays closed before its window is let go: a quick look again within it costs
// nothing; after it, the window is built again on the click.
constexpr int kReleaseAfterMs = 30'000;

// The application as the accessibility bus sees it. Qt lists only ordinary top-level windows there,
// so a screen reader would never reach the popover (a popup window); this lists every shown one.
class AccessibleApplication : public QAccessibleApplication {
public:
    int childCount() const override { return int(windows().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWindow*> list = windows();
        return index >= 0 && index < list.size() ? list[index]->accessibleRoot() : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(windows().indexOf(qobject_cast<QWindow*>(child->object()))) : -1;
    }

private:
    static QList<QWindow*> windows() {
        QList<QWindow*> out;
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (w->isVisible() && w->type() != Qt::Desktop && w->accessibleRoot()) out.append(w);
        return out;
    }
};

QAccessibleInterface* accessibleApplication(const QString&, QObject* object) {
    return object == qApp ? new AccessibleApplication : nullptr;
}
} // namespace

PopoverPlacement popoverPlacement(const QRect& anchor, const QRect& area) {
    const int gap = 4;
    PopoverPlacement p;
    p.area = area;
    p.centre = anchor.center().x();
    // The side facing the screen's larger half, and never over the panel: the free area ends
    // where the panel's reserved strip begins.
    const int belowEdge = std::max(anchor.bottom() + 1 + gap, area.top());
    const int aboveEdge = std::min(anchor.top() - gap, area.bottom() + 1);
    p.below = anchor.center().y() < area.center().y();
    p.edge = p.below ? belowEdge : aboveEdge;
    p.room = std::max(0, p.below ? area.bottom() + 1 - belowEdge : aboveEdge - area.top());
    return p;
}

QRect PopoverPlacement::geometry(const QSize& size) const {
    int x = centre - size.width() / 2;
    int y = below ? edge : edge - size.height();
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    // Only a popover taller than the room left moves over the icon: the screen comes first.
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}

QRect popoverGeometry(const QSize& size, const QRect& anchor, const QRect& area) {
    return popoverPlacement(anchor, area).geometry(size);
}

namespace {
// The popover's window. Esc goes to the view first, so an open menu closes before the popover
// does; only an Esc that nothing in the view took closes the popover.
class PopoverWindow : public QQuickView {
public:
    explicit PopoverWindow(QQmlEngine* engine) : QQuickView(engine, nullptr) {}
    std::function<void()> onEscape;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        event->ignore(); // stays so when no item of the view takes the key
        QQuickView::keyPressEvent(event);
        if (event->key() == Qt::Key_Escape && !event->isAccepted() && onEscape) {
            event->accept();
            onEscape();
        }
    }
};
} // namespace

Popover::Popover(MainView& view, QObject* parent) : QObject(parent), m_view(view) {
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleApplication);
        return true;
    }();
    Q_UNUSED(accessible);
    m_release.setSingleShot(true);
    m_release.setInterval(kReleaseAfterMs);
    connect(&m_release, &QTimer::timeout, this, &Popover::release);
}

Popover::~Popover() {
    // The window goes first: hiding it on the way out reaches the timers, which would be gone.
    if (m_window) m_window->disconnect(this);
    m_window.reset();
}

void Popover::build(bool ordinary) {
    if (m_window && m_ordinary == ordinary) return;
    if (m_window) {
        // Switching modes keeps the view's state: it lives in MainView, not in the window.
        m_window->hide();
        m_window.reset();
    }
    m_ordinary = ordinary;
    if (!m_engine) {
        m_engine = std::make_unique<QQmlEngine>();
        m_engine->addImportPath(u"qrc:/qt/qml"_s);
    }
    auto* window = new PopoverWindow(m_engine.get());
    window->onEscape = [this] {
        if (!m_ordinary) close();
    };
    m_window.reset(window);
    m_window->setTitle(u"Mivra"_s);
    m_window->setColor(Style::nuit);
    m_window->setFlags(ordinary ? Qt::Window
                                : (Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
    m_window->setResizeMode(QQuickView::SizeViewToRootObject);
    m_window->setInitialProperties({{u"view"_s, QVariant::fromValue<QObject*>(&m_view)}});
    m_window->setSource(QUrl(u"qrc:/qt/qml/Mivra/MainView.qml"_s));
    m_window->installEventFilter(this);
    connect(m_window.get(), &QWindow::visibleChanged, this, [this](bool shown) {
        if (shown)
            m_release.stop();
        else
            m_release.start();
        m_view.setActive(shown);
        emit shownChanged(shown);
    });
    connect(m_window.get(), &QWindow::activeChanged, this, [this] {
        if (!m_ordinary && m_window && m_window->isVisible() && !m_window->isActive() &&
            !QGuiApplication::modalWindow())
            QTimer::singleShot(0, this, [this] {
                if (m_window && m_window->isVisible() && !m_window->isActive()) {
                    m_autoClosed.start();
                    close();
                }
            });
    });
    // The height follows the content (a side panel, the language, optional rows): the edge next
    // to the icon stays put and the popover grows away from it.
    if (QQuickItem* root = m_window->rootObject()) {
        connect(root, &QQuickItem::heightChanged, this, [this] {
            if (m_window && !m_ordinary && m_window->isVisible()) place();
        });
    }
}

void Popover::place() {
    // The root item's size, not the window's: the window follows it only after this.
    QSize size = m_window->size();
    if (QQuickItem* root = m_window->rootObject())
        size = QSize(int(root->width()), int(std::ceil(root->height())));
    const QRect g = m_place.geometry(size);
    if (g != m_window->geometry()) m_window->setGeometry(g);
}

void Popover::release() {
    if (!m_window || m_window->isVisible()) return;
    m_window.reset();
    m_engine->collectGarbage();
    m_engine->trimComponentCache();
    // Freed memory stays in the allocator's arenas unless it is handed back.
    ::malloc_trim(0);
}

bool Popover::isShown() const {
    return m_window && m_window->isVisible();
}

void Popover::toggle(const QRect& anchor) {
    if (isShown() && !m_ordinary) {
        close();
        return;
    }
    if (m_autoClosed.isValid() && m_autoClosed.elapsed() < 300) return;
    open(anchor);
}

void Popover::open(const QRect& anchor) {
    build(false);
    m_view.setActive(true); // the size must be right before the window is placed
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    m_place = popoverPlacement(anchor, area);
    // The view shortens its side panel to the room left on the icon's side.
    if (QQuickItem* root = m_window->rootObject()) root->setProperty("room", m_place.room);
    m_window->setGeometry(m_place.geometry(m_window->size()));
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    m_window->setMouseGrabEnabled(true);
    m_window->setKeyboardGrabEnabled(true);
}

void Popover::openOrdinary() {
    build(true);
    m_view.setActive(true);
    // A normal window: the room is the screen's free height less a title bar.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        if (QQuickItem* root = m_window->rootObject())
            root->setProperty("room", std::max(0, screen->availableGeometry().height() - 40));
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void Popover::close() {
    if (!m_window) return;
    m_window->setMouseGrabEnabled(false);
    m_window->setKeyboardGrabEnabled(false);
    m_window->hide();
}

bool Popover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && !m_ordinary && event->type() == QEvent::MouseButtonPress) {
        const auto* me = static_cast<QMouseEvent*>(event);
        if (!QRect(QPoint(0, 0), m_window->size()).contains(me->position().toPoint())) {
            m_autoClosed.start();
            close();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
