// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Layouts
import Mivra

// A labelled on/off setting; `toggled` reports the new state.
RowLayout {
    id: row
    property string label
    property bool isOn
    signal toggled(bool on)
    spacing: 8
    TextLabel { objectName: "toggleLabel"; text: row.label; size: 12; color: Style.traceDim; Layout.fillWidth: true; wrapMode: Text.WordWrap }
    Toggle {
        objectName: "toggleSwitch"
        checked: row.isOn
        Accessible.name: row.label
        onClicked: row.toggled(checked)
    }
}
