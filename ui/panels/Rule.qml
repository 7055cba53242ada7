// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// The one-point hairline between sections.
Rectangle {
    width: parent ? parent.width : 0
    height: 1
    color: Style.hairline
}
