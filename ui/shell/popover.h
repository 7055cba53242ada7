// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <memory>

class MainView;
class QQmlEngine;
#include <QQuickView>

// Where the popover goes: next to the tray icon (below it when the icon is in the upper half of
// the screen, above it otherwise), centred on it and kept inside the screen's free area. The edge
// next to the icon stays where it is whatever the height: the popover grows away from the icon,
// never over it or over the panel the icon sits in.
struct PopoverPlacement {
    bool below = true; // grows downwards from `edge`; otherwise upwards from it
    int edge = 0;      // y of the top (below) or of the line just under the bottom (above)
    int room = 0;      // the most height that fits between `edge` and the far side of the area
    int centre = 0;    // x the popover is centred on, before it is kept inside the area
    QRect area;

    QRect geometry(const QSize& size) const;
};
PopoverPlacement popoverPlacement(const QRect& anchor, const QRect& area);
QRect popoverGeometry(const QSize& size, const QRect& anchor, const QRect& area);

// The frameless window of the main view next to the tray icon; a click anywhere outside closes
// it. In ordinary mode (no tray, or a platform that cannot place windows) it is a normal window.
// Once it has stayed closed for a while its window and items are let go and their memory given
// back; the next opening builds them again.
class Popover : public QObject {
    Q_OBJECT
public:
    explicit Popover(MainView& view, QObject* parent = nullptr);
    ~Popover() override;

    bool isShown() const;
    // Opens next to `anchor` (the icon's geometry, or a 1 × 1 rectangle at the click), or closes.
    void toggle(const QRect& anchor);
    void open(const QRect& anchor);
    // Shows the view as an ordinary window.
    void openOrdinary();
    void close();
    QQuickView* window() const { return m_window.get(); }
    // How long the popover stays closed before its window is let go.
    void setReleaseDelay(int ms) { m_release.setInterval(ms); }

signals:
    void shownChanged(bool shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(bool ordinary);
    void release();
    void place();

    MainView& m_view;
    std::unique_ptr<QQmlEngine> m_engine; // kept: what it compiled makes the next opening quick
    std::unique_ptr<QQuickView> m_window;
    QTimer m_release;
    bool m_ordinary = false;
    PopoverPlacement m_place;
    QElapsedTimer m_autoClosed; // a click on the icon that just closed it must not reopen it
};
