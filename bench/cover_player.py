#!/usr/bin/python3
"""A media player that plays nothing but offers a cover file, for measuring
the whole program's memory while it converts a large cover (see
tools/bench-cover-memory.sh). Owns org.mpris.MediaPlayer2.CoverBench on the
session bus and says it plays one track whose art is COVER.

    cover_player.py COVER
"""

import sys
from pathlib import Path

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

ROOT = "org.mpris.MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Player(dbus.service.Object):
    def __init__(self, bus, cover):
        super().__init__(bus, "/org/mpris/MediaPlayer2")
        self.values = {
            ROOT: {"Identity": "Cover bench", "DesktopEntry": "cover-bench", "CanQuit": False, "CanRaise": False,
                   "HasTrackList": False, "SupportedUriSchemes": dbus.Array([], "s"),
                   "SupportedMimeTypes": dbus.Array([], "s")},
            PLAYER: {"PlaybackStatus": "Playing", "Rate": 1.0, "Volume": 1.0,
                     "Position": dbus.Int64(0), "MinimumRate": 1.0, "MaximumRate": 1.0,
                     "CanGoNext": True, "CanGoPrevious": True, "CanPlay": True, "CanPause": True,
                     "CanSeek": False, "CanControl": True,
                     "Metadata": dbus.Dictionary({
                         "mpris:trackid": dbus.ObjectPath("/track/1"),
                         "mpris:length": dbus.Int64(180_000_000),
                         "xesam:title": "Large cover",
                         "mpris:artUrl": Path(cover).resolve().as_uri()}, "sv")},
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.values[interface][name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.values.get(interface, {})

    @dbus.service.method(PROPERTIES, in_signature="ssv")
    def Set(self, interface, name, value):
        pass

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.method(PLAYER)
    def PlayPause(self):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    player = Player(bus, sys.argv[1])
    name = dbus.service.BusName(f"{ROOT}.CoverBench", bus)
    print("playing", flush=True)
    GLib.MainLoop().run()
    del player, name


if __name__ == "__main__":
    main()
