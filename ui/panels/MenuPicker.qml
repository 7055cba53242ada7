// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Mivra

// A menu-style picker drawn dark: the chosen entry and a chevron; a click opens the entries.
// `currentIndex` -1 shows no entry. `activated` reports the index chosen.
PlainButton {
    id: picker
    property var entries: []
    property int currentIndex: -1
    property color textColor: Style.craieBlanc
    property int size: 12
    signal activated(int index)

    implicitHeight: 22
    Accessible.role: Accessible.ComboBox
    Accessible.name: label.text
    implicitWidth: Math.min(label.implicitWidth + 30, 180)
    contentItem: Rectangle {
        radius: 6
        color: picker.hovered ? Style.hairline : Style.nuit
        border.width: 1; border.color: Style.hairline
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8; anchors.rightMargin: 6
            spacing: 4
            TextLabel {
                id: label
                objectName: "pickerText"
                Layout.fillWidth: true
                text: picker.currentIndex >= 0 && picker.currentIndex < picker.entries.length
                      ? picker.entries[picker.currentIndex] : ""
                size: picker.size; color: picker.textColor
                elide: Text.ElideRight
            }
            Symbol { name: "chevron.down"; size: 9; color: Style.trace }
        }
    }
    onClicked: menu.open()

    Popup {
        id: menu
        focus: true // Esc closes the menu before the popover
        // Below the button, or above it when the popover has no room left under it.
        onAboutToShow: y = Menus.y(picker, menu.implicitHeight)
        padding: 4
        margins: 4 // kept inside the popover
        width: Math.max(picker.width, column.implicitWidth + 8)
        background: Rectangle { color: Style.nuitPanel; radius: 6; border.width: 1; border.color: Style.hairline }
        contentItem: Column {
            id: column
            Repeater {
                model: picker.entries
                delegate: PlainButton {
                    objectName: "pickerEntry_" + index
                    Accessible.role: Accessible.MenuItem
                    Accessible.name: modelData
                    width: Math.max(column.width, entryText.implicitWidth + 24)
                    implicitWidth: entryText.implicitWidth + 24
                    implicitHeight: 22
                    contentItem: Rectangle {
                        radius: 4
                        color: parent.hovered ? Style.bleuNuit : "transparent"
                        TextLabel {
                            id: entryText
                            x: 8; anchors.verticalCenter: parent.verticalCenter
                            text: (index === picker.currentIndex ? "✓ " : "") + modelData
                            size: picker.size; color: Style.craieBlanc
                        }
                    }
                    onClicked: { menu.close(); picker.activated(index) }
                }
            }
        }
    }
}
