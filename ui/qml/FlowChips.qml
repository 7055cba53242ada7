// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// A lockup's blocked applications, one chip per line, each with a remove button. `items` holds
// objects with `id` and `name`; `remove` reports the identifier of the chip removed.
Column {
    id: chips
    property var items: []
    signal remove(string id)
    spacing: 6

    TextLabel {
        objectName: "chipsEmpty"
        visible: chips.items.length === 0
        text: Style.noAppsBlocked
        size: 11; color: Style.traceDim
    }
    Repeater {
        model: chips.items
        delegate: Card {
            id: chip
            required property var modelData // id, name
            objectName: "chip_" + chip.modelData.id
            radius: 8
            implicitWidth: chipRow.implicitWidth + 20
            implicitHeight: chipRow.implicitHeight + 12
            RowLayout {
                id: chipRow
                anchors.centerIn: parent
                spacing: 6
                Symbol { name: "app.dashed"; size: 10; color: Style.trace }
                TextLabel { text: chip.modelData.name; size: 12 }
                PlainButton {
                    objectName: "chipRemove_" + chip.modelData.id
                    implicitWidth: 14; implicitHeight: 14
                    tooltip: Style.controlNames.remove + " · " + chip.modelData.name
                    contentItem: Symbol { name: "xmark.circle.fill"; size: 12; color: Style.traceDim }
                    onClicked: chips.remove(chip.modelData.id)
                }
            }
        }
    }
}
