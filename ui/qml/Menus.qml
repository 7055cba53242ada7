// SPDX-License-Identifier: GPL-3.0-or-later
pragma Singleton
import QtQuick

// Where a menu opens under its button: below it when it fits in the window, else above it.
QtObject {
    function y(button, menuHeight) {
        const below = button.height + 2
        const win = button.Window.window
        if (!win) return below
        const top = button.mapToItem(null, 0, 0).y
        if (top + below + menuHeight <= win.height - 4) return below
        return top - 2 - menuHeight >= 4 ? -2 - menuHeight : below
    }
}
