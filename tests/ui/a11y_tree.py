#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Mivra's controls as the desktop's accessibility tree (AT-SPI) shows them to a screen reader.
#   a11y_tree.py list              one line per shown control: "<role>\t<name>"
#   a11y_tree.py press <name>      runs the press action of the shown control named <name>
# Exits 1 when Mivra is not on the accessibility bus (yet), 2 when no control has that name.
import sys

import pyatspi

CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
            pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_RADIO_BUTTON}


def mivra():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "mivra":
            return app
    return None


def controls(node, out):
    try:
        shown = node.getState().contains(pyatspi.STATE_VISIBLE)
        if node.getRole() in CONTROLS and shown:
            out.append(node)
        for child in node:
            if child is not None:
                controls(child, out)
    except Exception:  # a node that went away while it was read
        pass
    return out


app = mivra()
if app is None:
    sys.exit(1)
found = controls(app, [])
if not found:
    sys.exit(1)
if sys.argv[1] == "list":
    for node in found:
        print(f"{node.getRoleName()}\t{node.name}")
else:
    for node in found:
        if node.name == sys.argv[2]:
            action = node.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            for i, name in enumerate(names):
                if name.lower() in ("press", "click"):
                    sys.exit(0 if action.doAction(i) else 3)
            sys.exit(3)
    sys.exit(2)
