// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtQuick.Controls.Basic
import Mivra

// The side-panel frame: 320 points high, scrolling, on nuit-panel. `source` is the panel's QML file
// inside this module; the loaded panel gets the engine, the calendar service and its title.
Rectangle {
    id: frame
    property string source
    property string title
    property QtObject engine
    property QtObject calendar
    color: Style.nuitPanel
    implicitHeight: 320

    // The control the keyboard moves to is scrolled into sight.
    readonly property Item focusedItem: Window.activeFocusItem
    onFocusedItemChanged: {
        const flick = scroll.contentItem
        let inside = focusedItem
        while (inside && inside !== flick) inside = inside.parent
        if (!inside) return
        const top = focusedItem.mapToItem(flick.contentItem, 0, 0).y - 8
        const bottom = top + focusedItem.height + 16
        if (top < flick.contentY) flick.contentY = Math.max(0, top)
        else if (bottom > flick.contentY + flick.height)
            flick.contentY = Math.min(flick.contentHeight - flick.height, bottom - flick.height)
    }

    ScrollView {
        id: scroll
        objectName: "sidePanelScroll"
        anchors.fill: parent
        contentWidth: availableWidth
        ScrollBar.vertical.policy: ScrollBar.AsNeeded
        Item {
            implicitWidth: scroll.availableWidth
            implicitHeight: loader.height + 28
        Loader {
            id: loader
            objectName: "sidePanelLoader"
            x: 16; y: 14
            width: scroll.availableWidth - 32
            source: frame.source.length > 0 ? Qt.resolvedUrl(frame.source) : ""
            onLoaded: {
                item.width = Qt.binding(() => loader.width)
                item.engine = frame.engine
                item.calendar = frame.calendar
                item.title = Qt.binding(() => frame.title)
            }
        }
        }
    }
}
