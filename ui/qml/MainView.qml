// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// The popover's main root.view. Every text, colour and decision comes from `view` (MainView in C++).
Rectangle {
    id: root
    required property MainViewModel view
    // The most height the popover may take on its screen (0: no limit): the side panel's scroll
    // area gets shorter to fit, down to 160 points.
    property int room: 0
    width: Style.contentWidth
    implicitHeight: stack.implicitHeight + (sidePanel.visible ? sidePanel.height : 0)
    height: implicitHeight
    color: Style.nuit

    component Rule: Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Style.hairline }

    ColumnLayout {
        id: stack
        width: parent.width
        spacing: 0

        // Header
        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16; Layout.rightMargin: 16
            Layout.topMargin: 18; Layout.bottomMargin: 10
            spacing: 8
            Symbol { name: "movieclapper.fill"; size: 16; color: Style.bleuVif }
            TextLabel { text: "Mivra"; size: 15; weight: Font.Bold }
            Row {
                objectName: "closedSetTag"
                visible: root.view.closedSetVisible
                spacing: 5
                Symbol { name: "lock.fill"; size: 9; color: Style.trace; anchors.verticalCenter: parent.verticalCenter }
                TextLabel { objectName: "closedSetText"; text: root.view.closedSetText; size: 9; weight: Font.Bold; tracking: 1; color: Style.trace }
            }
            Item { Layout.fillWidth: true }
            Row {
                objectName: "recMark"
                visible: root.view.recVisible
                spacing: 5
                Rectangle { width: 7; height: 7; radius: 3.5; color: Style.craie; anchors.verticalCenter: parent.verticalCenter }
                TextLabel { text: "REC"; size: 10; weight: Font.Bold; tracking: 0.5; color: Style.craie }
            }
            LanguageSwitcher {}
        }
        TextLabel {
            objectName: "saveFailedText"
            visible: root.view.saveFailedText !== ""
            text: root.view.saveFailedText
            size: 11; weight: Font.DemiBold; color: Style.craie
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.leftMargin: 16; Layout.rightMargin: 16; Layout.bottomMargin: 8
        }

        // Calendar card
        Rule { visible: root.view.calendarVisible }
        Rectangle {
            objectName: "calendarCard"
            visible: root.view.calendarVisible
            Layout.fillWidth: true
            implicitHeight: cardContent.implicitHeight + 18
            color: Qt.rgba(Style.nuitPanel.r, Style.nuitPanel.g, Style.nuitPanel.b, 0.5)
            Item {
                id: cardContent
                x: 16; y: 9
                width: parent.width - 32
                implicitHeight: root.view.calendarState === "meeting" ? meetingRow.implicitHeight
                              : root.view.calendarState === "connect" ? connectRow.implicitHeight
                              : root.view.calendarState === "off" ? offRow.implicitHeight : emptyRow.implicitHeight

                RowLayout {
                    id: meetingRow
                    objectName: "meetingRow"
                    visible: root.view.calendarState === "meeting"
                    width: parent.width
                    spacing: 9
                    Rectangle { objectName: "meetingDot"; width: 8; height: 8; radius: 4; color: root.view.meetingColor }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        RowLayout {
                            spacing: 6
                            TextLabel { objectName: "meetingTag"; text: root.view.meetingTag; size: 8; weight: Font.Bold; tracking: 1.5
                                        color: root.view.meetingNow ? Style.craie : Style.traceDim }
                            TextLabel { objectName: "meetingTitle"; text: root.view.meetingTitle; size: 12; weight: Font.DemiBold
                                        elide: Text.ElideRight; Layout.fillWidth: true }
                        }
                        MonoLabel { objectName: "meetingRelative"; text: root.view.meetingRelative; size: 11 }
                    }
                    PlainButton {
                        objectName: "joinButton"
                        visible: root.view.joinVisible
                        tooltip: root.view.joinTooltip
                        background: Rectangle { radius: height / 2; color: Style.bleuNuit }
                        leftPadding: 9; rightPadding: 9; topPadding: 5; bottomPadding: 5
                        contentItem: Row {
                            spacing: 4
                            Symbol { name: "video.fill"; size: 9; color: Style.craieBlanc; anchors.verticalCenter: parent.verticalCenter }
                            TextLabel { text: root.view.joinText; size: 11; weight: Font.DemiBold }
                        }
                        onClicked: root.view.join()
                    }
                }
                RowLayout {
                    id: emptyRow
                    visible: root.view.calendarState === "empty"
                    width: parent.width
                    spacing: 8
                    Symbol { name: "calendar"; size: 11; color: Style.traceDim }
                    TextLabel { objectName: "calendarText"; text: root.view.calendarText; size: 11; color: Style.traceDim; Layout.fillWidth: true }
                }
                PlainButton {
                    id: connectRow
                    objectName: "connectRow"
                    visible: root.view.calendarState === "connect"
                    width: parent.width
                    Accessible.name: root.view.calendarText
                    contentItem: RowLayout {
                        spacing: 8
                        Symbol { name: "calendar.badge.plus"; size: 12; color: Style.trace }
                        TextLabel { text: root.view.calendarText; size: 12; weight: Font.Medium; color: Style.trace; Layout.fillWidth: true }
                        Symbol { name: "chevron.right"; size: 9; color: Style.traceDim }
                    }
                    onClicked: root.view.connectCalendar()
                }
                RowLayout {
                    id: offRow
                    visible: root.view.calendarState === "off"
                    width: parent.width
                    spacing: 8
                    Symbol { name: "calendar.badge.exclamationmark"; size: 12; color: Style.craie }
                    TextLabel { objectName: "calendarOffText"; text: root.view.calendarText; size: 11; color: Style.traceDim; Layout.fillWidth: true; wrapMode: Text.WordWrap }
                    TextButton { objectName: "openSettingsButton"; text: root.view.openSettingsText; size: 11; textColor: Style.trace
                                 onClicked: root.view.openCalendarSettings() }
                }
            }
        }

        // Timer block
        Rule {}
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: timerColumn.implicitHeight + 32
            color: Style.nuitPanel
            ColumnLayout {
                id: timerColumn
                x: 16; y: 16
                width: parent.width - 32
                spacing: 10
                Row {
                    Layout.alignment: Qt.AlignHCenter
                    spacing: 6
                    TextLabel { objectName: "phaseTitle"; text: root.view.phaseTitle; size: 11; weight: Font.Bold; tracking: 2; color: root.view.phaseColor }
                    Symbol { objectName: "phaseLock"; visible: root.view.lockSymbol.length > 0; name: root.view.lockSymbol; size: 10
                             color: root.view.phaseColor; anchors.verticalCenter: parent.verticalCenter }
                }
                MonoLabel {
                    objectName: "clock"
                    Layout.alignment: Qt.AlignHCenter
                    text: root.view.clockText
                    size: 52; weight: Font.Bold; color: Style.craieBlanc
                }
                Rectangle {
                    objectName: "progressTrack"
                    Layout.fillWidth: true
                    implicitHeight: 4
                    radius: 2
                    color: Style.hairline
                    Rectangle {
                        objectName: "progressBar"
                        width: parent.width * root.view.progress
                        height: parent.height
                        radius: 2
                        color: root.view.phaseColor
                    }
                }
                TextLabel { objectName: "subtitle"; Layout.alignment: Qt.AlignHCenter; text: root.view.subtitle; size: 11; color: Style.traceDim }
            }
        }
        Rule {}

        // Control row
        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16; Layout.rightMargin: 16
            Layout.topMargin: 14; Layout.bottomMargin: 8
            spacing: 8
            PlainButton {
                objectName: "primaryButton"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                topPadding: 9; bottomPadding: 9
                background: Rectangle { radius: 9; color: root.view.phaseColor }
                contentItem: TextLabel { text: root.view.primaryLabel; size: 13; weight: Font.Bold; color: root.view.primaryTextColor
                                         horizontalAlignment: Text.AlignHCenter }
                onClicked: root.view.primary()
            }
            PlainButton {
                objectName: "secondaryButton"
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                topPadding: 9; bottomPadding: 9
                enabled: root.view.cutEnabled
                opacity: enabled ? 1 : 0.4
                background: Rectangle { radius: 9; color: Style.nuitPanel; border.width: 1; border.color: Style.hairline }
                contentItem: TextLabel { text: root.view.secondaryLabel; size: 13; weight: Font.DemiBold; color: Style.trace
                                         horizontalAlignment: Text.AlignHCenter }
                onClicked: root.view.secondary()
            }
        }

        // Password row: the field with Unlock and the close mark beside it, or, when the field
        // would cut its placeholder (French), the field on its own line and the two under it.
        GridLayout {
            id: passwordRow
            objectName: "passwordRow"
            readonly property bool stacked: placeholderMetrics.advanceWidth + 20 + unlockButton.implicitWidth
                                            + cancelPassword.implicitWidth + 2 * columnSpacing > width
            visible: root.view.pwForCut
            Layout.fillWidth: true
            Layout.leftMargin: 16; Layout.rightMargin: 16; Layout.bottomMargin: 8
            columns: 3
            columnSpacing: 8
            rowSpacing: 6
            TextMetrics { id: placeholderMetrics; font.family: Style.family; font.pixelSize: 12; text: root.view.pwPlaceholder }
            FieldBox {
                objectName: "passwordField"
                Layout.row: 0; Layout.column: 0
                Layout.columnSpan: passwordRow.stacked ? 3 : 1
                Layout.fillWidth: true
                fill: Style.nuitPanel
                echoMode: TextInput.Password
                placeholderText: root.view.pwPlaceholder
                text: root.view.pwInput
                onEdited: (t) => root.view.pwInput = t
            }
            TextButton { id: unlockButton; objectName: "unlockButton"; text: root.view.unlockText; size: 12; textColor: Style.craie
                         Layout.row: passwordRow.stacked ? 1 : 0; Layout.column: 1; Layout.alignment: Qt.AlignRight | Qt.AlignVCenter
                         onClicked: root.view.unlock() }
            PlainButton {
                id: cancelPassword
                objectName: "cancelPassword"
                Layout.row: passwordRow.stacked ? 1 : 0; Layout.column: 2
                implicitWidth: 16; implicitHeight: 16
                tooltip: Style.controlNames.close
                contentItem: Symbol { name: "xmark"; size: 11; color: Style.traceDim }
                onClicked: root.view.cancelPassword()
            }
        }

        // Gate picker
        RowLayout {
            objectName: "gatePicker"
            visible: root.view.gatePickerVisible
            Layout.leftMargin: 16; Layout.rightMargin: 16; Layout.bottomMargin: 8
            spacing: 6
            TextLabel { text: root.view.gateCaption; size: 9; weight: Font.Bold; tracking: 1; color: Style.traceDim }
            Repeater {
                model: root.view.gateChips
                delegate: PlainButton {
                    id: chip
                    // One chip: kind, label, tooltip, selected.
                    required property var modelData
                    objectName: "gateChip" + modelData.kind
                    readonly property bool selected: modelData.selected
                    tooltip: modelData.tooltip
                    leftPadding: 9; rightPadding: 9; topPadding: 5; bottomPadding: 5
                    background: Rectangle {
                        radius: 7
                        color: chip.selected ? Style.bleuNuit : Style.nuitPanel
                        border.width: 1
                        border.color: chip.selected ? Style.bleuVif : Style.hairline
                    }
                    contentItem: TextLabel { text: chip.modelData.label; size: 10; weight: Font.DemiBold
                                             color: chip.selected ? Style.craieBlanc : Style.traceDim }
                    onClicked: root.view.pickGate(chip.modelData.kind)
                }
            }
        }

        // Allowance row
        Rectangle {
            objectName: "allowanceRow"
            visible: root.view.allowanceVisible
            Layout.fillWidth: true
            implicitHeight: allowanceLine.implicitHeight + 16
            color: Qt.rgba(Style.nuitPanel.r, Style.nuitPanel.g, Style.nuitPanel.b, 0.5)
            // One line when the text and the button fit side by side; otherwise the button goes on
            // a second line of its own, right-aligned under the text (French is longer).
            GridLayout {
                id: allowanceLine
                readonly property bool stacked: allowanceSymbol.implicitWidth + allowanceText.implicitWidth
                                                + setButton.implicitWidth + 2 * columnSpacing > width
                x: 16; y: 8
                width: parent.width - 32
                columns: 3
                columnSpacing: 10
                rowSpacing: 4
                Symbol { id: allowanceSymbol; name: root.view.allowanceSymbol; size: 12; color: Style.bleuVif
                         Layout.row: 0; Layout.column: 0 }
                MonoLabel { id: allowanceText; objectName: "allowanceText"; text: root.view.allowanceText; size: 11
                            Layout.row: 0; Layout.column: 1; Layout.fillWidth: true
                            Layout.columnSpan: allowanceLine.stacked ? 2 : 1 }
                TextButton {
                    id: setButton
                    objectName: "setButton"
                    Layout.row: allowanceLine.stacked ? 1 : 0
                    Layout.column: allowanceLine.stacked ? 1 : 2
                    Layout.columnSpan: allowanceLine.stacked ? 2 : 1
                    Layout.alignment: Qt.AlignRight | Qt.AlignVCenter
                    text: root.view.setButtonText
                    enabled: root.view.setButtonEnabled
                    textColor: root.view.setButtonColor
                    onClicked: root.view.toggleSet()
                }
            }
        }

        // Day strip
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16; Layout.rightMargin: 16
            Layout.topMargin: 12; Layout.bottomMargin: 12
            spacing: 8
            RowLayout {
                Layout.fillWidth: true
                TextLabel { text: root.view.todayText; size: 10; weight: Font.Bold; tracking: 1.5; color: Style.traceDim }
                Item { Layout.fillWidth: true }
                MonoLabel { objectName: "focusedLine"; text: root.view.focusedLine; size: 11 }
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                TextLabel { objectName: "takesCount"; text: root.view.takesCount; size: 22; weight: Font.Bold }
                TextLabel { objectName: "takesLabel"; text: root.view.takesLabel; size: 12; color: Style.traceDim }
                Item { Layout.fillWidth: true }
                Row {
                    objectName: "reelDots"
                    spacing: 4
                    Repeater {
                        model: root.view.reelDots
                        delegate: Rectangle {
                            required property bool modelData // this take is done
                            width: 6; height: 6; radius: 3; color: modelData ? Style.bleuVif : Style.hairline
                        }
                    }
                }
            }
            RowLayout {
                objectName: "lockupLine"
                visible: root.view.lockupVisible
                spacing: 6
                Symbol { name: "lock.square"; size: 10; color: Style.traceDim }
                TextLabel { objectName: "lockupName"; text: root.view.lockupName; size: 11; weight: Font.Medium; color: Style.traceDim }
                MonoLabel { objectName: "lockupCounts"; text: root.view.lockupCounts; size: 10; opacity: 0.7 }
            }
        }

        // Panel switcher
        Rule {}
        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 12; Layout.rightMargin: 12
            Layout.topMargin: 8; Layout.bottomMargin: 8
            spacing: 6
            Repeater {
                model: root.view.panelButtons
                delegate: PlainButton {
                    id: panelButton
                    // One button: panel, symbol, tooltip, open.
                    required property var modelData
                    objectName: "panelButton_" + modelData.panel
                    readonly property bool open: modelData.open
                    implicitWidth: 36; implicitHeight: 28
                    tooltip: modelData.tooltip
                    background: Rectangle { radius: 7; color: panelButton.open ? Style.bleuNuit : "transparent" }
                    contentItem: Symbol { name: panelButton.modelData.symbol; size: 14; font.bold: panelButton.open
                                          color: panelButton.open ? Style.craieBlanc : Style.traceDim }
                    onClicked: root.view.togglePanel(panelButton.modelData.panel)
                }
            }
            Item { Layout.fillWidth: true }
            TextButton {
                objectName: "quitButton"
                text: root.view.quitText
                tooltip: root.view.quitTooltip
                size: 11; weight: Font.Medium; textColor: Style.traceDim
                leftPadding: 6; rightPadding: 6; topPadding: 5; bottomPadding: 5
                onClicked: root.view.quit()
            }
        }

    }

    // Side panel, under the rest: 320 points high when there is room.
    SidePanel {
        id: sidePanel
        objectName: "sidePanel"
        visible: root.view.panel !== "none"
        y: stack.implicitHeight
        width: parent.width
        height: root.room > 0 ? Math.max(160, Math.min(320, root.room - stack.implicitHeight)) : 320
        source: root.view.panelSource
        title: root.view.panelTitle
        engine: root.view.engine
        calendar: root.view.calendar
    }
}
