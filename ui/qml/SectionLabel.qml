// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// A one-line caption above a group of controls; the caller passes the text in capitals.
TextLabel {
    size: 10
    weight: Font.Bold
    tracking: 1.5
    color: Style.traceDim
}
