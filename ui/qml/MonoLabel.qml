// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// Numbers that must not jiggle: the monospaced system font.
Text {
    property int size: 11
    property int weight: Font.Normal
    font.family: Style.mono
    font.pixelSize: size
    font.weight: weight
    color: Style.traceDim
    verticalAlignment: Text.AlignVCenter
}
