import QtQuick
import Mivra

PanelPage {
    SectionLabel { objectName: "panelTitle"; text: title.toUpperCase() }
}
