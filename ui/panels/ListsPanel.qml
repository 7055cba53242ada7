// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Mivra

// The lockup in effect: its name, its sites and its applications; new, switch and delete.
PanelPage {
    id: page
    ListsPanelModel { id: m; engine: page.engine }

    // One running application the menu offers.
    component CandidateEntry: PlainButton {
        id: candidate
        required property string modelData
        required property int index
        objectName: "candidate_" + candidate.index
        Accessible.role: Accessible.MenuItem
        Accessible.name: candidate.modelData
        implicitWidth: Math.max(160, implicitContentWidth + 16)
        implicitHeight: 22
        leftPadding: 8
        background: Rectangle { radius: 4; color: candidate.hovered ? Style.bleuNuit : "transparent" }
        contentItem: TextLabel { text: candidate.modelData; size: 12 }
        onClicked: { appMenu.close(); m.addCandidate(candidate.index) }
    }

    SectionLabel { text: m.texts.title }

    TextLabel { objectName: "listsEmpty"; visible: !m.hasLockups; text: m.texts.empty; size: 12; color: Style.traceDim }
    TextButton {
        objectName: "listsNew"
        visible: !m.hasLockups
        text: m.texts.newLockup
        size: 12; textColor: Style.bleuVif
        onClicked: m.newLockup()
    }

    Column {
        objectName: "listsEditor"
        visible: m.hasLockups
        width: page.width
        spacing: 12

        RowLayout {
            width: page.width
            spacing: 8
            MenuPicker {
                objectName: "lockupPicker"
                Layout.fillWidth: true
                Layout.maximumWidth: 200
                entries: m.lockupNames
                currentIndex: m.currentIndex
                onActivated: (i) => m.selectLockup(i)
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                objectName: "lockupAdd"
                tooltip: m.texts.newLockup
                implicitWidth: 20; implicitHeight: 20
                contentItem: Symbol { name: "plus"; size: 13; color: Style.trace }
                onClicked: m.newLockup()
            }
            PlainButton {
                objectName: "lockupDelete"
                tooltip: Style.controlNames.deleteName
                implicitWidth: 20; implicitHeight: 20
                contentItem: Symbol { name: "trash"; size: 13; color: Style.craie }
                onClicked: m.deleteShown()
            }
        }

        FieldBox {
            objectName: "lockupName"
            width: page.width
            size: 13
            input.font.weight: Font.DemiBold
            placeholderText: m.texts.namePlaceholder
            text: m.name
            onEdited: (t) => m.setName(t)
        }

        SectionLabel { text: m.texts.sites }
        Rectangle {
            width: page.width
            height: 120
            color: Style.nuit
            radius: 8
            border.width: 1; border.color: Style.hairline
            Flickable {
                id: sitesScroll
                anchors.fill: parent
                anchors.margins: 1
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                // A list that fits leaves the wheel to the panel around it.
                interactive: sites.implicitHeight > height || sites.implicitWidth > width
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                TextArea.flickable: TextArea {
                    id: sites
                    objectName: "sitesEditor"
                    Accessible.name: m.texts.sites
                    // Tab leaves the editor as it leaves a field: a site list holds no tabs.
                    Keys.onTabPressed: (event) => leave(!(event.modifiers & Qt.ShiftModifier))
                    Keys.onBacktabPressed: leave(false)
                    function leave(forward) {
                        nextItemInFocusChain(forward).forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
                    }
                    padding: 8
                    background: null
                    color: Style.craieBlanc
                    selectionColor: Style.bleuNuit
                    font.family: Style.mono
                    font.pixelSize: 12
                    wrapMode: TextEdit.NoWrap
                    // The stored list is shown again whenever the editor is not being typed in;
                    // while it is, the text stays as typed so a new line can be started.
                    Binding on text { value: m.sitesText; when: !sites.activeFocus; restoreMode: Binding.RestoreNone }
                    onTextChanged: if (activeFocus) m.setSitesText(text)
                }
            }
        }

        TextLabel {
            objectName: "sitesRejected"
            visible: text !== ""
            width: page.width
            text: m.rejectedText
            size: 10; color: Style.craie
            wrapMode: Text.WordWrap
        }
        TextLabel {
            objectName: "blockHeld"
            visible: text !== ""
            width: page.width
            text: m.heldText
            size: 10; color: Style.craie
            wrapMode: Text.WordWrap
        }

        SectionLabel { text: m.texts.apps }
        FlowChips {
            objectName: "appChips"
            width: page.width
            items: m.apps
            onRemove: (id) => m.removeApp(id)
        }
        PlainButton {
            id: addApp
            objectName: "addRunningApp"
            implicitHeight: 20
            implicitWidth: implicitContentWidth
            Accessible.name: m.texts.addRunning
            contentItem: RowLayout {
                spacing: 6
                Symbol { name: "plus.app"; size: 12; color: Style.trace }
                TextLabel { text: m.texts.addRunning; size: 12; weight: Font.DemiBold; color: Style.trace }
            }
            onClicked: { m.refreshCandidates(); appMenu.open() }
            Popup {
                id: appMenu
                focus: true // Esc closes the menu before the popover
                // Below the button, or above it when the popover has no room left under it.
                onAboutToShow: y = Menus.y(addApp, appMenu.implicitHeight)
                padding: 4
                margins: 4 // kept inside the popover
                background: Rectangle { color: Style.nuitPanel; radius: 6; border.width: 1; border.color: Style.hairline }
                contentItem: Column {
                    Repeater {
                        model: m.candidateNames
                        delegate: CandidateEntry {}
                    }
                }
            }
        }
    }
}
