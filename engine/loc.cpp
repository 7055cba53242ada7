// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/loc.h"

#include "platform/defaults.h"

#include <QLocale>

#include <atomic>

namespace {
std::atomic<Lang> g_lang{Lang::fr};
Loc* g_shared = nullptr;
} // namespace

QString langRawValue(Lang lang) {
    return lang == Lang::en ? QStringLiteral("en") : QStringLiteral("fr");
}

std::optional<Lang> langFromRawValue(const QString& raw) {
    if (raw == u"fr") return Lang::fr;
    if (raw == u"en") return Lang::en;
    return std::nullopt;
}

Lang currentLang() {
    return g_lang.load(std::memory_order_relaxed);
}

Lang resolveLanguage(const std::optional<QString>& stored, const QStringList& preferred) {
    if (stored) {
        if (auto lang = langFromRawValue(*stored)) return *lang;
    }
    const QString first = preferred.isEmpty() ? QStringLiteral("fr") : preferred.first().toLower();
    return first.startsWith(u"en") ? Lang::en : Lang::fr;
}

QStringList systemPreferredLanguages() {
    return normalizePreferredLanguages(QLocale::system().uiLanguages());
}

QString focusedDurationText(qint64 seconds) {
    const qint64 minutes = seconds / 60;
    if (seconds > 3599)
        return QString::asprintf("%lldh %02lldm", static_cast<long long>(minutes / 60),
                                 static_cast<long long>(minutes % 60));
    return QString::number(minutes) + QStringLiteral(" min");
}

QStringList normalizePreferredLanguages(QStringList uiLanguages) {
    for (QString& l : uiLanguages) {
        // The portable locale carries no language of its own; its texts are English.
        if (l == u"C" || l == u"POSIX" || l.startsWith(u"C.") || l.startsWith(u"POSIX."))
            l = QStringLiteral("en");
    }
    return uiLanguages;
}

Loc::Loc(Defaults& defaults, const QStringList& preferred, QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_lang(resolveLanguage(defaults.string(QString::fromUtf16(key)), preferred)) {
    g_lang.store(m_lang, std::memory_order_relaxed);
    g_shared = this;
}

Loc::~Loc() {
    if (g_shared == this) g_shared = nullptr;
}

Loc* Loc::shared() {
    return g_shared;
}

void Loc::setLang(Lang lang) {
    if (lang == m_lang) return;
    m_lang = lang;
    g_lang.store(lang, std::memory_order_relaxed);
    m_defaults.setValue(QString::fromUtf16(key), langRawValue(lang));
    emit langChanged();
}

void Loc::setLangCode(const QString& code) {
    if (auto lang = langFromRawValue(code)) setLang(*lang);
}
