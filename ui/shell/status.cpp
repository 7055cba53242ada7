// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell/status.h"

#include "blocking/blocker.h"
#include "calendar/calendarservice.h"
#include "engine/timermodel.h"
#include "ui/symbols.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

using namespace Qt::StringLiterals;

QString statusTitle(const TimerModel& engine, const CalendarService& calendar, const QDateTime& now) {
    std::optional<UpcomingEvent> meeting;
    if (engine.settings().calendarEnabled)
        meeting = calendar.currentEvent() ? calendar.currentEvent() : calendar.nextEvent();

    if (engine.phase() == Phase::standby && !engine.running()) {
        const bool closed = engine.blockingActive();
        if (meeting) return u" "_s + (closed ? u"● "_s : QString()) + meeting->statusLabel(true, 18, now);
        return closed ? u" ●"_s : QString();
    }
    QString title = u" "_s + engine.clockText();
    if (meeting) title += u"  ·  "_s + meeting->statusLabel(false, 18, now);
    return title;
}

QString statusSymbol(const TimerModel& engine) {
    if (engine.gateLocked()) return u"lock.fill"_s;
    if (engine.phase() == Phase::setup || engine.phase() == Phase::wrap) return u"movieclapper"_s;
    return u"movieclapper.fill"_s;
}

QString statusIconName(const QString& symbol) {
    if (symbol == u"lock.fill") return u"app.oriflan.mivra-locked-symbolic"_s;
    if (symbol == u"movieclapper") return u"app.oriflan.mivra-break-symbolic"_s;
    return u"app.oriflan.mivra-symbolic"_s;
}

QIcon statusIcon(const QString& symbol) {
    QIcon drawn;
    const SymbolGlyph g = symbolGlyph(symbol);
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        QFont f(g.filled ? Symbols::filledFamily() : Symbols::outlineFamily());
        f.setPixelSize(size);
        QPainterPath path;
        path.addText(0, 0, f, g.text);
        const QRectF r = path.boundingRect();
        path.translate((size - r.width()) / 2 - r.left(), (size - r.height()) / 2 - r.top());
        // A mid grey glyph with a thin dark edge stays legible on white and on black panels.
        p.setPen(QPen(QColor(0x20, 0x20, 0x20, 160), size / 16.0));
        p.setBrush(QColor(0xb8, 0xbe, 0xc8));
        p.drawPath(path);
        p.end();
        drawn.addPixmap(pm);
    }
    return QIcon::fromTheme(statusIconName(symbol), drawn);
}

QString statusIconThemePath(const QString& programDir) {
    for (const QString& candidate :
         QStringList{programDir + u"/icons"_s, programDir + u"/../share/icons"_s}) {
        const QString themed =
            candidate + u"/hicolor/symbolic/apps/"_s + statusIconName(u"movieclapper.fill"_s) + u".svg"_s;
        if (QFileInfo::exists(themed)) return QDir::cleanPath(candidate);
    }
    return {};
}

QList<QImage> statusIconImages(const QString& symbol) {
    const QIcon icon = statusIcon(symbol);
    QList<QImage> images;
    for (int size : {16, 22, 24, 32, 48})
        images.append(icon.pixmap(size).toImage());
    return images;
}
