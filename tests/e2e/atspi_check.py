#!/usr/bin/env python3
"""What a screen reader sees of the player, through AT-SPI.

  atspi_check.py tree TITLE   prints every showing object of the player's window TITLE as
                              "role|name|value" (value empty when the object has none)
  atspi_check.py press NAME   does the first action of the player's showing object named NAME
Waits up to 10 s for the player and the window to appear; exit 1 when they do not.
"""
import sys
import time

import pyatspi
from gi.repository import GLib


def player():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and "lunadio" in (app.name or "").lower():
            return app
    return None


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # an object that went away while we walked
        return False


def walk(node, depth=0):
    yield node
    if depth > 30:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None and showing(child):
            yield from walk(child, depth + 1)


def value_of(node):
    try:
        return "%g" % node.queryValue().currentValue
    except NotImplementedError:
        return ""


def window(title):
    deadline = time.time() + 10
    while time.time() < deadline:
        app = player()
        if app is not None:
            for i in range(app.childCount):
                frame = app.getChildAtIndex(i)
                if frame is not None and frame.name == title and showing(frame):
                    return frame
        time.sleep(0.2)
    return None


def tree(title):
    frame = window(title)
    if frame is None:
        app = player()
        seen = [] if app is None else [
            "%s (%s)" % (app.getChildAtIndex(i).name, "showing" if showing(app.getChildAtIndex(i))
                         else "hidden") for i in range(app.childCount)]
        print("no showing window named %r; the player has: %s" % (title, ", ".join(seen)),
              file=sys.stderr)
        return 1
    for node in walk(frame):
        print("%s|%s|%s" % (node.getRoleName(), node.name or "", value_of(node)))
    return 0


def press(name):
    deadline = time.time() + 10
    while time.time() < deadline:
        app = player()
        if app is not None:
            try:
                for node in walk(app):
                    if node.name == name:
                        node.queryAction().doAction(0)
                        return 0
            except GLib.GError:
                # The registry's cache can hand out an object the player has since replaced
                # (a window's tree is rebuilt after a modal dialog); nothing was pressed, so
                # walk the fresh tree again.
                pass
        time.sleep(0.2)
    print("nothing named %r to press" % name, file=sys.stderr)
    return 1


def main(argv):
    if len(argv) == 3 and argv[1] == "tree":
        return tree(argv[2])
    if len(argv) == 3 and argv[1] == "press":
        return press(argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
