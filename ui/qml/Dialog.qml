// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// A modal alert in the popover's look: a warning symbol, the message, the informative text, an
// optional password field and its buttons, the first one the default.
Rectangle {
    id: dialog
    required property Alert alert
    width: 360
    implicitHeight: content.implicitHeight + 40
    height: implicitHeight
    color: Style.nuit

    ColumnLayout {
        id: content
        x: 20; y: 20
        width: parent.width - 40
        spacing: 10
        RowLayout {
            spacing: 10
            Symbol { name: "exclamationmark.triangle.fill"; size: 22; color: Style.craie }
            TextLabel { objectName: "alertMessage"; text: dialog.alert.message; size: 14; weight: Font.Bold
                        Layout.fillWidth: true; wrapMode: Text.WordWrap }
        }
        TextLabel { objectName: "alertInformative"; visible: text.length > 0; text: dialog.alert.informative; size: 12
                    color: Style.trace; Layout.fillWidth: true; wrapMode: Text.WordWrap }
        FieldBox {
            id: field
            objectName: "alertField"
            visible: dialog.alert.hasField
            Layout.preferredWidth: 220
            Layout.preferredHeight: 24 + 8
            echoMode: TextInput.Password
            onAccepted: dialog.alert.choose(0, text)
            Component.onCompleted: if (dialog.alert.hasField) input.forceActiveFocus()
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Layout.topMargin: 6
            spacing: 8
            Repeater {
                model: dialog.alert.buttons
                delegate: PlainButton {
                    id: alertButton
                    required property string modelData
                    required property int index
                    objectName: "alertButton" + alertButton.index
                    leftPadding: 14; rightPadding: 14; topPadding: 7; bottomPadding: 7
                    background: Rectangle {
                        radius: 8
                        color: alertButton.index === 0 ? Style.bleuVif : Style.nuitPanel
                        border.width: alertButton.index === 0 ? 0 : 1
                        border.color: Style.hairline
                    }
                    contentItem: TextLabel { text: alertButton.modelData; size: 12; weight: Font.DemiBold
                                             color: alertButton.index === 0 ? Style.craieBlanc : Style.trace }
                    onClicked: dialog.alert.choose(alertButton.index, field.text)
                }
            }
        }
    }
}
