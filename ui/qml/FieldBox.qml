// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls.Basic
import Mivra

// The frame around a text input: 10 by 7 points of padding, night fill, radius 8, hairline outline.
Rectangle {
    id: box
    property alias text: input.text
    property alias placeholderText: input.placeholderText
    property alias echoMode: input.echoMode
    property alias input: input
    property int size: 12
    property color fill: Style.nuit
    signal edited(string text)
    signal accepted()

    color: fill
    radius: 8
    border.width: 1
    // Bleu-vif while the keyboard has brought focus here, as the buttons' ring.
    border.color: input.activeFocus && (input.focusReason === Qt.TabFocusReason || input.focusReason === Qt.BacktabFocusReason)
                  ? Style.bleuVif : Style.hairline
    implicitWidth: 200
    implicitHeight: input.contentHeight + input.topPadding + input.bottomPadding

    TextField {
        id: input
        anchors.fill: parent
        leftPadding: 10; rightPadding: 10; topPadding: 7; bottomPadding: 7
        background: null
        color: Style.craieBlanc
        placeholderTextColor: Style.traceDim
        selectionColor: Style.bleuNuit
        selectedTextColor: Style.craieBlanc
        font.family: Style.family
        font.pixelSize: box.size
        passwordCharacter: "\u2022"
        Accessible.name: placeholderText
        onTextEdited: box.edited(text)
        onAccepted: box.accepted()
    }
}
