#include "ui/shell/popover.h"

#include "ui/mainview.h"
#include "ui/style.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

#include <malloc.h>

using namespace Qt::StringLiterals;

namespace {
// How long the popover stays closed before its window is let go: a quick look again within it costs
// nothing; after it, the window is built again on the click.
constexpr int kReleaseAfterMs = 30'000;
} // namespace

QRect popoverGeometry(const QSize& size, const QRect& anchor, const QRect& screen) {
    const int gap = 4;
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.center().y() < screen.center().y() ? anchor.bottom() + 1 + gap : anchor.top() - gap - size.height();
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return QRect(QPoint(x, y), size);
}

Popover::Popover(MainView& view, QObject* parent) : QObject(parent), m_view(view) {
    m_release.setSingleShot(true);
    m_release.setInterval(kReleaseAfterMs);
    connect(&m_release, &QTimer::timeout, this, &Popover::release);
}

Popover::~Popover() = default;

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
    m_window = std::make_unique<QQuickView>(m_engine.get(), nullptr);
    m_window->setTitle(u"Mivra"_s);
    m_window->setColor(Style::nuit);
    m_window->setFlags(ordinary ? Qt::Window : (Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
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
    // The height follows the content: when a side panel opens, the window stays on the screen.
    if (QQuickItem* root = m_window->rootObject()) {
        connect(root, &QQuickItem::heightChanged, this, [this] {
            if (!m_window || m_ordinary || !m_window->isVisible() || !m_window->screen()) return;
            const QRect area = m_window->screen()->availableGeometry();
            const QRect g = m_window->geometry();
            if (g.bottom() > area.bottom()) m_window->setY(std::max(area.top(), area.bottom() + 1 - g.height()));
        });
    }
}

void Popover::release() {
    if (!m_window || m_window->isVisible()) return;
    m_window.reset();
    m_engine->collectGarbage();
    m_engine->trimComponentCache();
    // Freed memory stays in the allocator's arenas unless it is handed back.
    ::malloc_trim(0);
}

bool Popover::isShown() const { return m_window && m_window->isVisible(); }

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
    m_window->setGeometry(popoverGeometry(m_window->size(), anchor, area));
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    m_window->setMouseGrabEnabled(true);
    m_window->setKeyboardGrabEnabled(true);
}

void Popover::openOrdinary() {
    build(true);
    m_view.setActive(true);
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
    if (watched == m_window.get() && !m_ordinary && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
