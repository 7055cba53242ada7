// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Mivra

// A labelled integer setting: label, value text (number and suffix) and a stepper that moves the
// value by `step` within [from, to]. The row reports a new value through `modified`.
RowLayout {
    id: row
    property string label
    property int value
    property string suffix
    property int from: 0
    property int to: 100
    property int step: 1
    signal modified(int value)

    function stepBy(sign) {
        const next = Math.max(from, Math.min(to, value + sign * step))
        if (next !== value) modified(next)
    }

    spacing: 8
    TextLabel { objectName: "stepperLabel"; text: row.label; size: 12; color: Style.traceDim }
    Item { Layout.fillWidth: true }
    MonoLabel {
        objectName: "stepperValue"
        text: Style.stepperText(row.value, row.suffix)
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
                tooltip: Style.controlNames.less + " · " + row.label
                width: 22; height: 20
                enabled: row.value > row.from
                opacity: enabled ? 1 : 0.4
                contentItem: Symbol { name: "minus"; size: 10; color: Style.trace }
                onClicked: row.stepBy(-1)
            }
            PlainButton {
                objectName: "stepperUp"
                tooltip: Style.controlNames.more + " · " + row.label
                width: 22; height: 20
                enabled: row.value < row.to
                opacity: enabled ? 1 : 0.4
                contentItem: Symbol { name: "plus"; size: 10; color: Style.trace }
                onClicked: row.stepBy(1)
            }
        }
        Rectangle { x: 22; y: 3; width: 1; height: 14; color: Style.hairline }
    }
}
