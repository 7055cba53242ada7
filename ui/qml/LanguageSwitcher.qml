// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import Mivra

// FR and EN side by side; the chip of the current language is lit.
Rectangle {
    color: Style.nuitPanel
    radius: 6
    border.width: 1
    border.color: Style.hairline
    implicitWidth: chips.implicitWidth + 2
    implicitHeight: chips.implicitHeight + 2
    Row {
        id: chips
        anchors.centerIn: parent
        Repeater {
            model: Style.languages
            delegate: PlainButton {
                id: langButton
                required property var modelData // code, label, tooltip
                objectName: "lang_" + langButton.modelData.code
                readonly property bool current: Style.lang === langButton.modelData.code
                width: 24; height: 18
                tooltip: langButton.modelData.tooltip
                background: Rectangle { radius: 5; color: langButton.current ? Style.bleuNuit : "transparent" }
                contentItem: TextLabel {
                    text: langButton.modelData.label
                    size: 9; weight: Font.Bold
                    horizontalAlignment: Text.AlignHCenter
                    color: langButton.current ? Style.craieBlanc : Style.traceDim
                }
                onClicked: Style.lang = langButton.modelData.code
            }
        }
    }
}
