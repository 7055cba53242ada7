// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls.Basic
import Mivra

// A borderless button whose look is its content; `tooltip` shows on hover.
// Tab reaches it, Space and Return press it, and a ring in bleu-vif shows where the keyboard is.
// Its accessible name is its text, else its tooltip, else the text it shows.
AbstractButton {
    id: control
    property string tooltip
    // A click puts the tooltip away until the pointer leaves the control.
    property bool tipDismissed: false
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    padding: 0
    background: null
    onPressedChanged: if (pressed) tipDismissed = true
    onHoveredChanged: if (!hovered) tipDismissed = false
    ToolTip.visible: tooltip.length > 0 && hovered && !tipDismissed
    ToolTip.delay: 600
    ToolTip.text: tooltip
    HoverHandler { cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor }

    Accessible.role: Accessible.Button
    Accessible.name: text.length > 0 ? text
                   : tooltip.length > 0 ? tooltip
                   : (contentItem as TextLabel)?.text ?? ""
    Accessible.description: text.length > 0 ? tooltip : ""

    // Return presses as Space does (Space is the button's own key), and so does a screen reader.
    function press() {
        if (!enabled) return
        if (checkable) toggle()
        clicked()
    }
    Accessible.onPressAction: press()
    Keys.onReturnPressed: press()
    Keys.onEnterPressed: press()

    // Outside the control and out of the layout: showing it moves nothing.
    Rectangle {
        objectName: "focusRing"
        anchors.fill: parent
        anchors.margins: -2
        z: 10
        radius: 6
        color: "transparent"
        border.width: 2
        border.color: Style.bleuVif
        visible: control.visualFocus
    }
}
