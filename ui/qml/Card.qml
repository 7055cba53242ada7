// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Mivra

// The card style: night fill, a 1-point hairline outline; cards and tiles use radius 9, fields and
// chips 8.
Rectangle {
    color: Style.nuit
    radius: 9
    border.width: 1
    border.color: Style.hairline
}
