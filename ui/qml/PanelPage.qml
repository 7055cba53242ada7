// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// What every side panel is built on: the frame hands it the engine, the calendar service and its
// title, and lays it out at the frame's content width.
Column {
    property QtObject engine
    property QtObject calendar
    property string title
    spacing: 12
}
