#!/usr/bin/python3
# What a screen reader hears from the program with the given process id: one JSON line for each
# menu entry that takes the focus, with its name and the names of its menu's children as the
# accessibility bus lists them. "ready" once the program has joined the bus and this listener is
# registered, so that nothing it says afterwards is missed.
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib

PID = int(sys.argv[1])


# The children the bus can give: one it cannot (a gone object) is left out, as a reader would.
def child_names(accessible):
    children = (accessible.get_child_at_index(i) for i in range(accessible.get_child_count()))
    return [child.get_name() for child in children if child]


def on_focus(event):
    entry = event.source
    if event.detail1 != 1 or entry.get_role() != Atspi.Role.MENU_ITEM:
        return
    heard = {"name": entry.get_name(), "menu": child_names(entry.get_parent())}
    print(json.dumps(heard), flush=True)


def announce_once_joined():
    desktop = Atspi.get_desktop(0)
    apps = (desktop.get_child_at_index(i) for i in range(desktop.get_child_count()))
    joined = any(app.get_process_id() == PID for app in apps)
    if joined:
        print("ready", flush=True)
    return not joined


listener = Atspi.EventListener.new(on_focus)
listener.register("object:state-changed:focused")
GLib.timeout_add(50, announce_once_joined)
Atspi.event_main()
