// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// Text in the interface face: `weight` picks Regular, Medium, SemiBold or Bold.
Text {
    property int size: 12
    property int weight: Font.Normal
    property real tracking: 0
    font.family: Style.family
    font.pixelSize: size
    font.weight: weight
    font.letterSpacing: tracking
    color: Style.craieBlanc
    verticalAlignment: Text.AlignVCenter
}
