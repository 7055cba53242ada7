// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/symbols.h"

#include <QHash>

namespace {
struct Entry {
    char16_t codePoint;
    bool filled;
};

// Symbol names as the views use them, mapped to the icon font's code points (the outline and the
// filled face share code points).
const QHash<QString, Entry>& table() {
    static const QHash<QString, Entry> t = {
        {QStringLiteral("movieclapper.fill"), {0xe8c2, true}},
        {QStringLiteral("movieclapper"), {0xe8c2, false}},
        {QStringLiteral("lock.fill"), {0xe2fa, true}},
        {QStringLiteral("lock"), {0xe2fa, false}},
        {QStringLiteral("lock.open"), {0xe306, false}},
        {QStringLiteral("lock.shield.fill"), {0xe40c, true}},
        {QStringLiteral("lock.square"), {0xe308, false}},
        {QStringLiteral("lock.square.stack"), {0xe466, false}},
        {QStringLiteral("calendar"), {0xe108, false}},
        {QStringLiteral("calendar.badge.plus"), {0xe714, false}},
        {QStringLiteral("calendar.badge.exclamationmark"), {0xe10c, false}},
        {QStringLiteral("chevron.right"), {0xe13a, false}},
        {QStringLiteral("chevron.left"), {0xe138, false}},
        {QStringLiteral("chevron.down"), {0xe136, false}},
        {QStringLiteral("chevron.up"), {0xe13c, false}},
        {QStringLiteral("video.fill"), {0xe4da, true}},
        {QStringLiteral("xmark"), {0xe4f6, false}},
        {QStringLiteral("xmark.circle.fill"), {0xe4f8, true}},
        {QStringLiteral("app.dashed"), {0xe69a, false}},
        {QStringLiteral("door.left.hand.open"), {0xe7e6, false}},
        {QStringLiteral("hourglass"), {0xe2b2, false}},
        {QStringLiteral("slider.horizontal.3"), {0xe434, false}},
        {QStringLiteral("chart.bar.fill"), {0xe150, true}},
        {QStringLiteral("plus"), {0xe3d4, false}},
        {QStringLiteral("plus.circle.fill"), {0xe3d6, true}},
        {QStringLiteral("minus"), {0xe32a, false}},
        {QStringLiteral("trash"), {0xe4a6, false}},
        {QStringLiteral("checkmark"), {0xe182, false}},
        {QStringLiteral("checkmark.circle.fill"), {0xe184, true}},
        {QStringLiteral("flame.fill"), {0xe624, true}},
        {QStringLiteral("globe"), {0xe288, false}},
        {QStringLiteral("bell"), {0xe0ce, false}},
        {QStringLiteral("speaker.wave.2"), {0xe44a, false}},
        {QStringLiteral("clock"), {0xe19a, false}},
        {QStringLiteral("pencil"), {0xe3b4, false}},
        {QStringLiteral("gearshape"), {0xe270, false}},
        {QStringLiteral("exclamationmark.triangle.fill"), {0xe4e0, true}},
        {QStringLiteral("info.circle"), {0xe2ce, false}},
        {QStringLiteral("arrow.clockwise"), {0xe094, false}},
        {QStringLiteral("circle"), {0xe18a, false}},
        {QStringLiteral("circle.fill"), {0xe18a, true}},
        {QStringLiteral("power"), {0xe3da, false}},
        {QStringLiteral("link"), {0xe2e2, false}},
        {QStringLiteral("timer"), {0xe492, false}},
        {QStringLiteral("checkmark.seal.fill"), {0xe606, true}},
        {QStringLiteral("checkmark.shield.fill"), {0xe40c, true}},
        {QStringLiteral("shield.slash"), {0xe410, false}},
        {QStringLiteral("plus.app"), {0xed4a, false}},
        {QStringLiteral("film.stack"), {0xe792, false}},
    };
    return t;
}
} // namespace

SymbolGlyph symbolGlyph(const QString& name) {
    const auto it = table().constFind(name);
    if (it == table().constEnd()) return {};
    return {QString(QChar(it->codePoint)), it->filled};
}

QString Symbols::outlineFamily() {
    return QStringLiteral("Phosphor");
}
QString Symbols::filledFamily() {
    return QStringLiteral("Phosphor-Fill");
}
