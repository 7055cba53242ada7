// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// A plain button with one text label.
PlainButton {
    id: control
    property int size: 11
    property int weight: Font.DemiBold
    property color textColor: Style.trace
    contentItem: TextLabel {
        text: control.text
        size: control.size
        weight: control.weight
        color: control.textColor
    }
}
