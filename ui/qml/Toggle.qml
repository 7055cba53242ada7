// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// A switch tinted bleu-vif.
PlainButton {
    id: sw
    checkable: true
    implicitWidth: 32
    implicitHeight: 18
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: checked
    contentItem: Rectangle {
        implicitWidth: sw.implicitWidth
        radius: height / 2
        color: sw.checked ? Style.bleuVif : Style.hairline
        Rectangle {
            width: 14; height: 14; radius: 7
            y: 2
            // From the fixed track width, so that a first layout does not slide the knob in.
            x: sw.checked ? sw.implicitWidth - width - 2 : 2
            color: Style.craieBlanc
            Behavior on x { NumberAnimation { duration: 120 } }
        }
    }
}
