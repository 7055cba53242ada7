import QtQuick
import QtQuick.Controls.Basic
import Mivra

// A borderless button whose look is its content; `tooltip` shows on hover.
AbstractButton {
    id: control
    property string tooltip
    // A click puts the tooltip away until the pointer leaves the control.
    property bool tipDismissed: false
    hoverEnabled: true
    padding: 0
    background: null
    onPressedChanged: if (pressed) tipDismissed = true
    onHoveredChanged: if (!hovered) tipDismissed = false
    ToolTip.visible: tooltip.length > 0 && hovered && !tipDismissed
    ToolTip.delay: 600
    ToolTip.text: tooltip
    HoverHandler { cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor }
}
