// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/style.h"

#include "engine/loc.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>

namespace {
QString g_family;

const char16_t* const kFontFiles[] = {
    u":/fonts/BricolageGrotesque-Regular.ttf",
    u":/fonts/BricolageGrotesque-Medium.ttf",
    u":/fonts/BricolageGrotesque-SemiBold.ttf",
    u":/fonts/BricolageGrotesque-Bold.ttf",
    u":/fonts/Phosphor.ttf",
    u":/fonts/Phosphor-Fill.ttf",
};
} // namespace

std::optional<QColor> colorFromHex(const std::optional<QString>& text) {
    if (!text) return std::nullopt;
    QStringView digits(*text);
    if (digits.startsWith(u'#')) digits = digits.mid(1);
    if (digits.size() != 6) return std::nullopt;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    // toUInt accepts a sign; a colour never has one.
    if (!ok || digits.front() == u'+' || digits.front() == u'-') return std::nullopt;
    return QColor::fromRgb((value >> 16) & 0xff, (value >> 8) & 0xff, value & 0xff);
}

void registerAppFonts() {
    for (const char16_t* file : kFontFiles) {
        const QString path = QString::fromUtf16(file);
        if (!QFile::exists(path)) continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0) continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (g_family.isEmpty() && path.contains(u"Bricolage") && !families.isEmpty())
            g_family = families.front();
    }
}

QString Style::family() {
    return g_family.isEmpty() ? QGuiApplication::font().family() : g_family;
}

QString Style::mono() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QColor Style::hexColor(const QString& text) const {
    return colorFromHex(text).value_or(QColor());
}

Style::Style(QObject* parent) : QObject(parent) {
    if (Loc* loc = Loc::shared()) connect(loc, &Loc::langChanged, this, &Style::langChanged);
}

QString Style::stepperText(qint64 value, const QString& suffix) {
    return suffix.isEmpty() ? QString::number(value) : QString::number(value) + u' ' + suffix;
}

QString Style::lang() const {
    return langRawValue(currentLang());
}

void Style::setLang(const QString& code) {
    if (Loc* loc = Loc::shared()) loc->setLangCode(code);
}

QVariantList Style::languages() {
    auto chip = [](const char16_t* code, const char16_t* label, const char16_t* tip) {
        return QVariantMap{{QStringLiteral("code"), QString::fromUtf16(code)},
                           {QStringLiteral("label"), QString::fromUtf16(label)},
                           {QStringLiteral("tooltip"), QString::fromUtf16(tip)}};
    };
    return {chip(u"fr", u"FR", u"Français"), chip(u"en", u"EN", u"English")};
}

ControlNames Style::controlNames() {
    auto name = [](const char* en, const char* fr) {
        return pick(QString::fromUtf8(en), QString::fromUtf8(fr));
    };
    return {name("Remove", "Retirer"), name("Delete", "Supprimer"), name("Decrease", "Diminuer"),
            name("Increase", "Augmenter"), name("Close", "Fermer")};
}

QString Style::noAppsBlocked() {
    return pick(QStringLiteral("No apps blocked."), QStringLiteral("Aucune app bloquée."));
}
