// SPDX-License-Identifier: GPL-3.0-or-later
pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Mivra

// Every setting, the login item, the calendar link, the blocking helper and the gate password.
PanelPage {
    id: page
    SettingsPanelModel { id: m; engine: page.engine }

    component SettingStepper: StepperRow {
        width: parent.width
    }
    component Switch: ToggleRow {
        required property SettingSwitch setting
        objectName: "toggle_" + setting.name
        width: parent.width
        label: setting.label
        isOn: setting.on
        onToggled: (on) => setting.set(on)
    }
    component Note: TextLabel {
        width: parent.width
        size: 10; color: Style.traceDim
        wrapMode: Text.WordWrap
    }

    SectionLabel { text: m.texts.timer }
    ToggleRow {
        objectName: "toggle_launchAtLogin"
        width: page.width
        label: m.texts.launchAtLogin
        isOn: m.launchAtLogin
        onToggled: (on) => m.setLaunchAtLogin(on)
    }
    Rule {}
    SettingStepper { stepper: m.focusMin }
    SettingStepper { stepper: m.shortMin }
    SettingStepper { stepper: m.longMin }
    SettingStepper { stepper: m.reel }
    Switch { setting: m.soundOn }
    Switch { setting: m.autoStartBreaks }
    Switch { setting: m.autoStartTakes }
    Rule {}

    SectionLabel { text: m.texts.calendarHeading }
    Switch { setting: m.calendarEnabled }
    Column {
        objectName: "calendarSection"
        visible: m.calendarEnabled.on
        width: page.width
        spacing: 12
        RowLayout {
            objectName: "calendarConnect"
            visible: m.calendarState === "connect"
            width: page.width
            spacing: 8
            Symbol { name: "calendar.badge.plus"; size: 12; color: Style.trace }
            TextLabel { text: m.texts.calendarReads; size: 11; color: Style.traceDim; Layout.fillWidth: true; wrapMode: Text.WordWrap }
            TextButton { objectName: "calendarConnectButton"; text: m.texts.calendarConnect; size: 12; onClicked: m.connectCalendar() }
        }
        Column {
            objectName: "calendarConnected"
            visible: m.calendarState === "connected"
            width: page.width
            spacing: 12
            RowLayout {
                width: page.width
                spacing: 8
                Symbol { name: "checkmark.seal.fill"; size: 11; color: Style.trace }
                TextLabel { text: m.texts.calendarConnected; size: 11; color: Style.traceDim; Layout.fillWidth: true }
            }
            Switch { setting: m.meetingWarnEnabled }
            SettingStepper { stepper: m.meetingWarnMinutes; visible: m.meetingWarnEnabled.on }
            SectionLabel { visible: m.calendars.length > 0; text: m.texts.calendarsHeading }
            Repeater {
                model: m.calendars
                delegate: RowLayout {
                    id: calendarRow
                    // One calendar: id, title, source, color, watched, skipped.
                    required property var modelData
                    objectName: "calendar_" + calendarRow.modelData.id
                    width: page.width
                    spacing: 8
                    Rectangle {
                        width: 8; height: 8; radius: 4
                        color: calendarRow.modelData.color.valid ? calendarRow.modelData.color : Style.trace
                    }
                    Column {
                        Layout.fillWidth: true
                        TextLabel { width: parent.width; text: calendarRow.modelData.title; size: 12; elide: Text.ElideRight }
                        TextLabel { width: parent.width; text: calendarRow.modelData.source; size: 9; color: Style.traceDim; elide: Text.ElideRight }
                        TextLabel { objectName: "calendarSkipped_" + calendarRow.modelData.id; visible: calendarRow.modelData.skipped !== ""
                                    width: parent.width; text: calendarRow.modelData.skipped; size: 9; color: Style.craie; elide: Text.ElideRight }
                    }
                    Toggle {
                        objectName: "calendarSwitch_" + calendarRow.modelData.id
                        checked: calendarRow.modelData.watched
                        onClicked: m.setCalendarWatched(calendarRow.modelData.id, checked)
                    }
                }
            }
        }
        RowLayout {
            objectName: "calendarDenied"
            visible: m.calendarState === "denied"
            width: page.width
            spacing: 8
            Symbol { name: "calendar.badge.exclamationmark"; size: 12; color: Style.craie }
            TextLabel { text: m.texts.calendarDenied; size: 11; color: Style.traceDim; Layout.fillWidth: true }
            TextButton { objectName: "calendarOpenSettings"; text: m.texts.calendarOpenSettings; size: 11; onClicked: m.openCalendarSettings() }
        }
        Note { text: m.texts.calendarCaption; opacity: 0.8 }
    }
    Rule {}

    SectionLabel { text: m.texts.blockingHeading }
    Switch { setting: m.blockWebsites }
    Switch { setting: m.blockApps }
    Switch { setting: m.blockPage }
    Switch { setting: m.blockDuringBreaks }
    Note { objectName: "blockHeld"; visible: text !== ""; text: m.heldText; color: Style.craie }
    RowLayout {
        objectName: "helperRow"
        width: page.width
        spacing: 8
        Symbol {
            name: m.helperInstalled ? "checkmark.shield.fill" : "shield.slash"
            size: 11; color: m.helperInstalled ? Style.trace : Style.traceDim
        }
        TextLabel { objectName: "helperStatus"; text: m.texts.helperStatus; size: 11; color: Style.traceDim; Layout.fillWidth: true }
        TextButton {
            objectName: "helperButton"
            text: m.texts.helperAction
            size: 11
            weight: m.helperInstalled ? Font.Medium : Font.DemiBold
            textColor: m.helperInstalled ? Style.craie : Style.trace
            onClicked: m.helperInstalled ? m.removeHelper() : m.installHelper()
        }
    }
    Note { objectName: "helperError"; visible: m.helperError.length > 0; text: m.helperError; color: Style.craie }
    Note { text: m.texts.helperNote; opacity: 0.8 }
    Rule {}

    SectionLabel { text: m.texts.allowanceHeading }
    Switch { setting: m.allowanceEnabled }
    SettingStepper { stepper: m.allowanceMin; visible: m.allowanceEnabled.on }
    Note { visible: m.allowanceEnabled.on; text: m.texts.allowanceNote }
    Rule {}

    SectionLabel { text: m.texts.passwordHeading }
    RowLayout {
        width: page.width
        spacing: 8
        FieldBox {
            objectName: "passwordField"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            placeholderText: m.texts.passwordPlaceholder
            text: m.password
            onEdited: (t) => m.password = t
        }
        TextButton {
            objectName: "passwordSave"
            text: m.texts.passwordSave
            size: 12; textColor: Style.bleuVif
            enabled: m.canSavePassword
            opacity: enabled ? 1 : 0.4
            onClicked: m.savePassword()
        }
    }
    RowLayout {
        width: page.width
        spacing: 8
        TextLabel { objectName: "passwordStatus"; text: m.texts.passwordStatus; size: 10; color: Style.traceDim; Layout.fillWidth: true; wrapMode: Text.WordWrap }
        TextButton {
            objectName: "passwordClear"
            visible: m.passwordSet
            text: m.texts.passwordClear
            size: 10; weight: Font.Medium; textColor: Style.craie
            onClicked: m.clearPassword()
        }
    }
    Rule {}

    RowLayout {
        objectName: "footer"
        width: page.width
        spacing: 6
        TextLabel { text: m.texts.footerStudio; size: 11; weight: Font.Bold; color: Style.traceDim }
        TextLabel { text: "·"; size: 11; color: Style.hairline }
        TextLabel { objectName: "footerVersion"; text: m.texts.footerVersion; size: 10; color: Style.traceDim; opacity: 0.8; Layout.fillWidth: true; elide: Text.ElideRight }
    }
}
