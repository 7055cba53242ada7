// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// "#RRGGBB" or "RRGGBB" to an opaque sRGB colour; anything else gives no colour.
std::optional<QColor> colorFromHex(const std::optional<QString>& text);

// Registers the embedded Bricolage Grotesque faces and the two symbol fonts for this process.
// Missing or unreadable files are skipped: their text falls back to the system font.
void registerAppFonts();

// The names (and tooltips) of the symbol-only controls, in the current language.
struct ControlNames {
    Q_GADGET
    QML_VALUE_TYPE(controlNames)
    Q_PROPERTY(QString remove MEMBER remove)
    Q_PROPERTY(QString deleteName MEMBER deleteName)
    Q_PROPERTY(QString less MEMBER less)
    Q_PROPERTY(QString more MEMBER more)
    Q_PROPERTY(QString close MEMBER close)
public:
    QString remove, deleteName, less, more, close;
};

// The popover's one look: the night palette, the faces and the symbol fonts.
class Style : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor nuit MEMBER nuit CONSTANT)
    Q_PROPERTY(QColor nuitPanel MEMBER nuitPanel CONSTANT)
    Q_PROPERTY(QColor hairline MEMBER hairline CONSTANT)
    Q_PROPERTY(QColor bleuNuit MEMBER bleuNuit CONSTANT)
    Q_PROPERTY(QColor bleuVif MEMBER bleuVif CONSTANT)
    Q_PROPERTY(QColor trace MEMBER trace CONSTANT)
    Q_PROPERTY(QColor traceDim MEMBER traceDim CONSTANT)
    Q_PROPERTY(QColor craieBlanc MEMBER craieBlanc CONSTANT)
    Q_PROPERTY(QColor craie MEMBER craie CONSTANT)
    Q_PROPERTY(QString family READ family CONSTANT)
    Q_PROPERTY(QString mono READ mono CONSTANT)
    Q_PROPERTY(int contentWidth MEMBER contentWidth CONSTANT)
    // The interface language ("fr" or "en"); writing it switches the whole interface.
    Q_PROPERTY(QString lang READ lang WRITE setLang NOTIFY langChanged)
    Q_PROPERTY(QVariantList languages READ languages CONSTANT)
    Q_PROPERTY(QString noAppsBlocked READ noAppsBlocked NOTIFY langChanged)
    // Names (and tooltips) of the symbol-only controls that carry no text of their own.
    Q_PROPERTY(ControlNames controlNames READ controlNames NOTIFY langChanged)

public:
    explicit Style(QObject* parent = nullptr);

    static inline const QColor nuit = QColor::fromRgbF(0.055f, 0.086f, 0.133f);
    static inline const QColor nuitPanel = QColor::fromRgbF(0.086f, 0.125f, 0.184f);
    static inline const QColor hairline = QColor::fromRgbF(0.149f, 0.212f, 0.310f);
    static inline const QColor bleuNuit = QColor::fromRgbF(0.169f, 0.290f, 0.471f);
    static inline const QColor bleuVif = QColor::fromRgbF(0.306f, 0.502f, 0.769f);
    static inline const QColor trace = QColor::fromRgbF(0.655f, 0.769f, 0.886f);
    static inline const QColor traceDim = QColor::fromRgbF(0.510f, 0.596f, 0.706f);
    static inline const QColor craieBlanc = QColor::fromRgbF(0.933f, 0.949f, 0.973f);
    static inline const QColor craie = QColor::fromRgbF(0.824f, 0.329f, 0.247f);
    static constexpr int contentWidth = 340;

    // The text family (its four faces are chosen by weight): Bricolage Grotesque when it was
    // registered, else the system font's family. The monospaced system family for numbers.
    static QString family();
    static QString mono();

    // The colour of a calendar text, or an invalid colour when it names none.
    Q_INVOKABLE QColor hexColor(const QString& text) const;
    // A stepper's value text: the number, then a space and the suffix when there is one.
    Q_INVOKABLE static QString stepperText(qint64 value, const QString& suffix);

    QString lang() const;
    void setLang(const QString& code);
    // The switcher's chips, in order: code, label and tooltip.
    static QVariantList languages();
    static QString noAppsBlocked();
    static ControlNames controlNames();

signals:
    void langChanged();
};
