// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Mivra

// A labelled integer setting: label, value text (number and suffix) and a stepper. A press asks
// `stepper` (C++) for one step; the row shows the value the stepper then holds.
RowLayout {
    id: row
    required property Stepper stepper

    objectName: "stepper_" + stepper.name
    spacing: 8
    TextLabel { objectName: "stepperLabel"; text: row.stepper.label; size: 12; color: Style.traceDim }
    Item { Layout.fillWidth: true }
    MonoLabel {
        objectName: "stepperValue"
        text: row.stepper.text
        size: 12; weight: Font.DemiBold; color: Style.craieBlanc
        horizontalAlignment: Text.AlignRight
        Layout.minimumWidth: 52
    }
    Rectangle {
        implicitWidth: 44; implicitHeight: 20
        radius: 5
        color: Style.nuitPanel
        border.width: 1; border.color: Style.hairline
        Row {
            anchors.fill: parent
            PlainButton {
                objectName: "stepperDown"
                tooltip: Style.controlNames.less + " · " + row.stepper.label
                width: 22; height: 20
                enabled: row.stepper.canDown
                opacity: enabled ? 1 : 0.4
                contentItem: Symbol { name: "minus"; size: 10; color: Style.trace }
                onClicked: row.stepper.press(-1)
            }
            PlainButton {
                objectName: "stepperUp"
                tooltip: Style.controlNames.more + " · " + row.stepper.label
                width: 22; height: 20
                enabled: row.stepper.canUp
                opacity: enabled ? 1 : 0.4
                contentItem: Symbol { name: "plus"; size: 10; color: Style.trace }
                onClicked: row.stepper.press(1)
            }
        }
        Rectangle { x: 22; y: 3; width: 1; height: 14; color: Style.hairline }
    }
}
