// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// The shooting record: lifetime tiles, the streak, the last 14 days and the best day.
PanelPage {
    id: page
    spacing: 14
    StatsPanelModel { id: m; engine: page.engine }

    SectionLabel { text: m.texts.title }

    Column {
        objectName: "statsEmpty"
        visible: m.empty
        width: page.width
        topPadding: 10; bottomPadding: 10
        spacing: 6
        Symbol { name: "film.stack"; size: 26; color: Style.traceDim; anchors.horizontalCenter: parent.horizontalCenter }
        TextLabel { text: m.texts.emptyTitle; size: 13; weight: Font.DemiBold; anchors.horizontalCenter: parent.horizontalCenter }
        TextLabel {
            width: page.width
            text: m.texts.emptyLine
            size: 11; color: Style.traceDim
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
        }
    }

    Column {
        objectName: "statsFull"
        visible: !m.empty
        width: page.width
        spacing: 14

        RowLayout {
            width: page.width
            spacing: 8
            Repeater {
                model: [
                    { value: m.texts.takesValue, label: m.texts.takesLabel, color: Style.bleuVif },
                    { value: m.texts.focusedValue, label: m.texts.focusedLabel, color: Style.trace },
                    { value: m.texts.daysValue, label: m.texts.daysLabel, color: Style.craieBlanc },
                ]
                delegate: Card {
                    id: tileCard
                    required property var modelData // value, label, color
                    required property int index
                    objectName: "statsTile_" + tileCard.index
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    implicitHeight: tile.implicitHeight + 20
                    Column {
                        id: tile
                        anchors.centerIn: parent
                        spacing: 3
                        TextLabel { text: tileCard.modelData.value; size: 20; weight: Font.Bold; color: tileCard.modelData.color; anchors.horizontalCenter: parent.horizontalCenter }
                        TextLabel { text: tileCard.modelData.label; size: 10; color: Style.traceDim; anchors.horizontalCenter: parent.horizontalCenter }
                    }
                }
            }
        }

        Card {
            width: page.width
            implicitHeight: streakRow.implicitHeight + 18
            RowLayout {
                id: streakRow
                x: 12; width: parent.width - 24
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8
                Symbol { name: "flame.fill"; size: 13; color: m.streakActive ? Style.craie : Style.traceDim }
                TextLabel { objectName: "statsStreak"; text: m.texts.streak; size: 13; weight: Font.Bold }
                Item { Layout.fillWidth: true }
                MonoLabel { text: m.texts.bestStreak; size: 11 }
            }
        }

        SectionLabel { text: m.texts.chartLabel }

        Row {
            id: chart
            objectName: "statsChart"
            width: page.width
            spacing: 3
            readonly property real column: (width - spacing * (m.bars.length - 1)) / Math.max(m.bars.length, 1)
            Repeater {
                model: m.bars
                delegate: Column {
                    id: bar
                    required property var modelData // id, weekday, takes, isToday, height, countText
                    required property int index
                    objectName: "bar_" + bar.index
                    width: chart.column
                    spacing: 4
                    MonoLabel {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: bar.modelData.countText
                        size: 8; weight: Font.Bold; color: Style.bleuVif
                    }
                    Item {
                        width: parent.width; height: 84
                        Rectangle { anchors.fill: parent; radius: 3; color: Style.hairline; opacity: 0.5 }
                        Rectangle {
                            objectName: "barFill"
                            width: parent.width
                            height: bar.modelData.height
                            anchors.bottom: parent.bottom
                            radius: 3
                            color: bar.modelData.isToday ? Style.bleuVif : Style.bleuNuit
                        }
                    }
                    MonoLabel {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: bar.modelData.weekday
                        size: 8; color: bar.modelData.isToday ? Style.bleuVif : Style.traceDim
                    }
                }
            }
        }

        RowLayout {
            width: page.width
            TextLabel { objectName: "statsBestDay"; text: m.texts.bestDay; size: 11; color: Style.traceDim }
            Item { Layout.fillWidth: true }
            MonoLabel { text: m.texts.average; size: 11 }
        }
    }
}
