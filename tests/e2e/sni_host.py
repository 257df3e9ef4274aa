#!/usr/bin/env python3
"""A StatusNotifier watcher and host of our own, as a desktop's panel runs them, and the calls a
panel makes on the items it shows.

  sni_host.py serve           owns org.kde.StatusNotifierWatcher on the session bus, says that a
                              host is there, keeps the items registered and drops an item when
                              its owner leaves the bus; runs until killed
  sni_host.py items           prints the registered items, one a line
  sni_host.py call ITEM NAME  calls Activate, SecondaryActivate or ContextMenu (at 0, 0) on ITEM
  sni_host.py show ITEM PAM   prints the item's tooltip and icon name, and writes its largest
                              icon pixmap to PAM (RGB_ALPHA)
"""
import os
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"


INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="data" type="s" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface" type="s" direction="in"/>
      <arg name="values" type="a{sv}" direction="out"/>
    </method>
  </interface>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        self._bus = bus
        self._items = {}  # "service/path" -> unique name of its owner
        self._names = [dbus.service.BusName(WATCHER, bus),
                       dbus.service.BusName("org.kde.StatusNotifierHost-%d" % os.getpid(), bus)]
        super().__init__(bus, WATCHER_PATH)
        bus.add_signal_receiver(self._owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # A path alone names an object of the caller; a bus name, its usual object.
        if service.startswith("/"):
            item = sender + service
        else:
            item = service + "/StatusNotifierItem"
        self._items[item] = sender
        print("registered", item, flush=True)
        self.StatusNotifierItemRegistered(item)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    # Qt reads IsStatusNotifierHostRegistered through an introspected interface, so the
    # properties must be in the description, which dbus-python does not write for them.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    def _properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(sorted(self._items), signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self._properties()[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self._properties()

    def _owner_changed(self, name, old, new):
        if new:
            return
        for item, owner in list(self._items.items()):
            if owner == old or item.startswith(name + "/"):
                del self._items[item]
                print("unregistered", item, flush=True)
                self.StatusNotifierItemUnregistered(item)


def item_object(bus, item):
    service, _, path = item.partition("/")
    return bus.get_object(service, "/" + path)


def serve():
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)  # noqa: F841 (kept alive by the loop)
    print("serving", flush=True)
    GLib.MainLoop().run()


def items():
    bus = dbus.SessionBus()
    watcher = bus.get_object(WATCHER, WATCHER_PATH)
    for item in watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPERTIES):
        print(item)


def call(item, name):
    bus = dbus.SessionBus()
    method = item_object(bus, item).get_dbus_method(name, ITEM)
    method(dbus.Int32(0), dbus.Int32(0))


def show(item, pam_path):
    bus = dbus.SessionBus()
    properties = item_object(bus, item).GetAll(ITEM, dbus_interface=PROPERTIES)
    tip = properties.get("ToolTip")
    if tip is not None:
        print("tooltip-title:", str(tip[2]))
        print("tooltip-text:", str(tip[3]))
    print("icon-name:", str(properties.get("IconName", "")))
    print("status:", str(properties.get("Status", "")))
    pixmaps = list(properties.get("IconPixmap", []))
    print("icon-pixmaps:", " ".join("%dx%d" % (int(w), int(h)) for w, h, _ in pixmaps))
    if not pixmaps:
        return
    width, height, data = max(pixmaps, key=lambda p: int(p[0]) * int(p[1]))
    width, height = int(width), int(height)
    argb = bytes(data)  # ARGB32, network byte order
    rgba = bytearray()
    for i in range(0, len(argb), 4):
        a, r, g, b = argb[i:i + 4]
        rgba += bytes((r, g, b, a))
    with open(pam_path, "wb") as out:
        out.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                  % (width, height))
        out.write(bytes(rgba))


def main(argv):
    if len(argv) >= 2 and argv[1] == "serve":
        serve()
    elif len(argv) >= 2 and argv[1] == "items":
        items()
    elif len(argv) == 4 and argv[1] == "call":
        call(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "show":
        show(argv[2], argv[3])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
