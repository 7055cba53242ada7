// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class Defaults;

// The two interface languages, French first.
enum class Lang { fr, en };

QString langRawValue(Lang lang);
std::optional<Lang> langFromRawValue(const QString& raw);

// The process-wide current language, readable from anywhere. Written only by Loc.
Lang currentLang();

// Picks the English or the French literal by the current language.
inline QString pick(const QString& en, const QString& fr) {
    return currentLang() == Lang::en ? en : fr;
}

// The language a start resolves to: the stored choice when it is exactly "fr" or "en", else the
// first preferred system language ("en…" is English, anything else or nothing is French).
Lang resolveLanguage(const std::optional<QString>& stored, const QStringList& preferred);

// The system's preferred interface languages; the "C" and "POSIX" locales count as English.
QStringList systemPreferredLanguages();

// Focused time as the day strip and mivractl show it: "42 min", "1h 05m".
QString focusedDurationText(qint64 seconds);
QStringList normalizePreferredLanguages(QStringList uiLanguages);

// Observable holder of the interface language. One instance lives for the whole process.
class Loc : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString lang READ langCode WRITE setLangCode NOTIFY langChanged)
public:
    static constexpr const char16_t* key = u"oriflan_lang";

    // Resolves the language from `defaults` and `preferred`, and makes it the process-wide language.
    Loc(Defaults& defaults, const QStringList& preferred, QObject* parent = nullptr);
    ~Loc() override;

    // The instance made at process start (the most recent one alive).
    static Loc* shared();

    Lang lang() const { return m_lang; }
    // Switching stores "fr" or "en" under the language key and tells the observers; the same
    // language again changes nothing.
    void setLang(Lang lang);

    QString langCode() const { return langRawValue(m_lang); }
    void setLangCode(const QString& code);

signals:
    void langChanged();

private:
    Defaults& m_defaults;
    Lang m_lang;
};
