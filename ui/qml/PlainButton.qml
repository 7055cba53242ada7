import QtQuick
import QtQuick.Controls.Basic
import Mivra

// A borderless button whose look is its content; `tooltip` shows on hover.
AbstractButton {
    id: control
    property string tooltip
    hoverEnabled: true
    padding: 0
    background: null
    ToolTip.visible: tooltip.length > 0 && hovered
    ToolTip.delay: 600
    ToolTip.text: tooltip
    HoverHandler { cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor }
}
