import QtQuick
import QtQuick.Controls.Basic
import Mivra

// The side-panel frame: 320 points high, scrolling, on nuit-panel. `source` is the panel's QML file
// inside this module; the loaded panel gets the engine, the calendar service and its title.
Rectangle {
    id: frame
    property string source
    property string title
    property var engine
    property var calendar
    color: Style.nuitPanel
    implicitHeight: 320

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
