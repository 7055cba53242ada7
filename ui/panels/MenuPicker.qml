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
    property var entries: [] // the entries' names (a string list)
    property int currentIndex: -1
    property color textColor: Style.craieBlanc
    property int size: 12
    signal activated(int index)

    // One entry of the open menu.
    component MenuEntry: PlainButton {
        id: entry
        required property string modelData
        required property int index
        objectName: "pickerEntry_" + entry.index
        Accessible.role: Accessible.MenuItem
        Accessible.name: entry.modelData
        width: Math.max(entry.parent.width, implicitWidth)
        implicitWidth: implicitContentWidth + 24
        implicitHeight: 22
        leftPadding: 8
        background: Rectangle { radius: 4; color: entry.hovered ? Style.bleuNuit : "transparent" }
        contentItem: TextLabel {
            text: (entry.index === picker.currentIndex ? "✓ " : "") + entry.modelData
            size: picker.size; color: Style.craieBlanc
        }
        onClicked: { menu.close(); picker.activated(entry.index) }
    }

    // The entry shown: empty for none.
    readonly property string currentText: currentIndex >= 0 && currentIndex < entries.length ? entries[currentIndex] : ""

    implicitHeight: 22
    Accessible.role: Accessible.ComboBox
    Accessible.name: currentText
    implicitWidth: Math.min(labelMetrics.advanceWidth + 30, 180)
    TextMetrics { id: labelMetrics; font.family: Style.family; font.pixelSize: picker.size; text: picker.currentText }
    contentItem: Rectangle {
        radius: 6
        color: picker.hovered ? Style.hairline : Style.nuit
        border.width: 1; border.color: Style.hairline
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 8; anchors.rightMargin: 6
            spacing: 4
            TextLabel {
                objectName: "pickerText"
                Layout.fillWidth: true
                text: picker.currentText
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
        width: Math.max(picker.width, menu.implicitContentWidth + 8)
        background: Rectangle { color: Style.nuitPanel; radius: 6; border.width: 1; border.color: Style.hairline }
        contentItem: Column {
            Repeater {
                model: picker.entries
                delegate: MenuEntry {}
            }
        }
    }
}
