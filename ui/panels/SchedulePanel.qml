// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// The weekly scheduled takes: one card per block.
PanelPage {
    id: page
    SchedulePanelModel { id: m; engine: page.engine }

    RowLayout {
        width: page.width
        SectionLabel { text: m.texts.title }
        Item { Layout.fillWidth: true }
        PlainButton {
            objectName: "scheduleAdd"
            implicitWidth: implicitContentWidth; implicitHeight: 18
            Accessible.name: m.texts.add
            contentItem: RowLayout {
                spacing: 4
                Symbol { name: "plus"; size: 11; color: Style.trace }
                TextLabel { text: m.texts.add; size: 11; weight: Font.DemiBold; color: Style.trace }
            }
            onClicked: m.add()
        }
    }

    TextLabel {
        objectName: "scheduleEmpty"
        visible: m.cards.length === 0
        width: page.width
        text: m.texts.empty
        size: 11; color: Style.traceDim
        wrapMode: Text.WordWrap
    }

    Repeater {
        model: m.cards
        delegate: Card {
            id: card
            // One block: see SchedulePanelModel::cards.
            required property var modelData
            required property int index
            readonly property var c: modelData
            objectName: "scheduleCard_" + index
            width: page.width
            radius: 10
            implicitHeight: body.implicitHeight + 24
            Column {
                id: body
                x: 12; y: 12
                width: card.width - 24
                spacing: 10

                RowLayout {
                    width: body.width
                    spacing: 8
                    Toggle { objectName: "scheduleEnabled"; checked: card.c.enabled; Accessible.name: card.c.timeText; onClicked: m.setEnabled(card.c.id, checked) }
                    MonoLabel { objectName: "scheduleTime"; text: card.c.timeText; size: 17; weight: Font.Bold; color: Style.craieBlanc }
                    MonoLabel { text: card.c.lengthText; size: 12; color: Style.traceDim }
                    Item { Layout.fillWidth: true }
                    PlainButton {
                        objectName: "scheduleDelete"
                        implicitWidth: 18; implicitHeight: 18
                        tooltip: Style.controlNames.deleteName
                        contentItem: Symbol { name: "trash"; size: 13; color: Style.craie }
                        onClicked: m.remove(card.c.id)
                    }
                }

                Row {
                    spacing: 5
                    Repeater {
                        model: card.c.days
                        delegate: PlainButton {
                            id: day
                            required property var modelData // letter, on
                            required property int index
                            objectName: "weekday_" + (day.index + 1)
                            width: 26; height: 26
                            Accessible.role: Accessible.CheckBox
                            Accessible.name: day.modelData.letter
                            Accessible.checkable: true
                            Accessible.checked: day.modelData.on
                            contentItem: Rectangle {
                                radius: 7
                                color: day.modelData.on ? Style.bleuNuit : Style.nuit
                                border.width: 1
                                border.color: day.modelData.on ? Style.bleuVif : Style.hairline
                                TextLabel {
                                    anchors.centerIn: parent
                                    text: day.modelData.letter
                                    size: 11; weight: Font.Bold
                                    color: day.modelData.on ? Style.craieBlanc : Style.traceDim
                                }
                            }
                            onClicked: m.toggleWeekday(card.c.id, day.index + 1)
                        }
                    }
                }

                Repeater {
                    model: ["startHour", "startMinute", "durationMin"]
                    delegate: StepperRow {
                        required property string modelData
                        objectName: "scheduleStepper_" + modelData
                        width: body.width
                        stepper: card.c.steppers[modelData]
                    }
                }

                RowLayout {
                    width: body.width
                    TextLabel { text: m.texts.lockup; size: 12; color: Style.traceDim }
                    Item { Layout.fillWidth: true }
                    MenuPicker {
                        objectName: "scheduleLockup"
                        Accessible.description: m.texts.lockup
                        Layout.maximumWidth: 170
                        entries: m.lockupNames
                        currentIndex: card.c.lockupIndex
                        onActivated: (i) => m.chooseLockup(card.c.id, i)
                    }
                }
                RowLayout {
                    width: body.width
                    TextLabel { text: m.texts.lock; size: 12; color: Style.traceDim }
                    Item { Layout.fillWidth: true }
                    MenuPicker {
                        objectName: "scheduleLock"
                        Accessible.description: m.texts.lock
                        entries: m.lockNames
                        currentIndex: card.c.lockIndex
                        onActivated: (i) => m.chooseLock(card.c.id, i)
                    }
                }
            }
        }
    }
}
