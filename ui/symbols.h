// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// A symbol of the interface as drawn from the icon fonts: one glyph in the outline or filled face.
struct SymbolGlyph {
    QString text; // the glyph, one character
    bool filled = false;
};

// The glyph for a symbol name ("movieclapper.fill", "lock.shield.fill", …); an empty glyph for
// a name the table does not know.
SymbolGlyph symbolGlyph(const QString& name);

// QML face of the symbol table.
class Symbols : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString outlineFamily READ outlineFamily CONSTANT)
    Q_PROPERTY(QString filledFamily READ filledFamily CONSTANT)
public:
    explicit Symbols(QObject* parent = nullptr) : QObject(parent) {}

    static QString outlineFamily();
    static QString filledFamily();

    Q_INVOKABLE QString glyph(const QString& name) const { return symbolGlyph(name).text; }
    Q_INVOKABLE QString family(const QString& name) const {
        return symbolGlyph(name).filled ? filledFamily() : outlineFamily();
    }
};
