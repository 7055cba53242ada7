// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// One symbol from the icon fonts, by its name in the symbol table.
Text {
    property string name
    property int size: 12
    text: Symbols.glyph(name)
    font.family: Symbols.family(name)
    font.pixelSize: size
    verticalAlignment: Text.AlignVCenter
    horizontalAlignment: Text.AlignHCenter
}
