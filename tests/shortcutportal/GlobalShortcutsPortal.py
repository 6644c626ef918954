#!/usr/bin/python3
"""Stands in for the desktop portal's GlobalShortcuts frontend on a private session bus.

Starts its own dbus-daemon, owns org.freedesktop.portal.Desktop there and serves
org.freedesktop.portal.GlobalShortcuts version 1 as the portal documents it: CreateSession,
BindShortcuts (once per session), ListShortcuts, each answered through a Request object's
Response signal, the Session objects with Close and Closed, and the Activated and
ShortcutsChanged signals on command. Prints "DBUS_SESSION_BUS_ADDRESS=..." and "ready", then
reads commands, one a line, from its standard input:
  activate ID         Activated for ID in the newest bound session
  change ID TRIGGER   ShortcutsChanged there, ID now described as TRIGGER
  close               the newest bound session is closed by the desktop (Closed)
and logs each call it receives, one JSON object a line, to LOG. Ends, with its bus, when its
standard input closes.

Usage: GlobalShortcutsPortal.py LOG [--answer N] [--without-shortcuts] [--absent]
                                [--screencast-streams SIGNATURE]
  --answer N           BindShortcuts answers N: 1 the user refused, 2 cancelled
  --without-shortcuts  the portal is there but offers no GlobalShortcuts
  --absent             nobody owns the portal's name
  --screencast-streams SIGNATURE
                       the portal also offers ScreenCast, as a hostile one: its Start answers
                       "streams" in a wrong type, a(ix), a(sa{sv}) or u, or empty, a(ua{sv})
"""

import argparse
import json
import os
import subprocess
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"
SCREENCAST = "org.freedesktop.portal.ScreenCast"

# The hostile "streams" answers of ScreenCast's Start, by signature.
STREAMS = {
    "a(ix)": dbus.Array([dbus.Struct((dbus.Int32(5), dbus.Int64(7)))], signature="(ix)"),
    "a(sa{sv})": dbus.Array([dbus.Struct(("5", dbus.Dictionary({}, signature="sv")))],
                            signature="(sa{sv})"),
    "u": dbus.UInt32(5),
    "a(ua{sv})": dbus.Array([], signature="(ua{sv})"),
}


def plain(value):
    """A D-Bus value as JSON can hold it."""
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, int):
        return int(value)
    return str(value)


def described(trigger):
    """The words a desktop might show for a trigger: CTRL+ALT+s -> Ctrl+Alt+S."""
    if not trigger:
        return ""
    words = {"CTRL": "Ctrl", "ALT": "Alt", "SHIFT": "Shift", "LOGO": "Super", "NUM": "Num"}
    parts = trigger.split("+")
    key = parts[-1]
    return "+".join([words.get(p, p) for p in parts[:-1]] + [key[:1].upper() + key[1:]])


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.method(REQUEST, in_signature="", out_signature="")
    def Close(self):
        self.remove_from_connection()

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, portal, path, owner):
        super().__init__(portal.bus, path)
        self.portal = portal
        self.path = path
        self.owner = owner
        self.bound = None  # the shortcuts as bound, once BindShortcuts was answered
        self.tried = False

    @dbus.service.method(SESSION, in_signature="", out_signature="")
    def Close(self):
        self.portal.log({"call": "Close", "session": self.path})
        self.portal.sessions.pop(self.path, None)
        self.remove_from_connection()

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass


class ScreenCast(dbus.service.Object):
    """The hostile ScreenCast of Portal (a class of its own: its CreateSession is another's)."""

    def screencast(self, sender, options, results):
        return self.request(sender, options, lambda: (0, results))

    @dbus.service.method(SCREENCAST, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        if not self.streams:
            self.unavailable()
        token = str(options.get("session_handle_token", "c%d" % len(self.sessions)))
        path = "%s/session/%s/%s" % (PATH, self.element(sender), token)
        self.sessions[path] = Session(self, path, sender)
        return self.screencast(sender, options, {"session_handle": path})

    @dbus.service.method(SCREENCAST, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectSources(self, session_handle, options, sender=None):
        return self.screencast(sender, options, {})

    @dbus.service.method(SCREENCAST, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session_handle, parent_window, options, sender=None):
        return self.screencast(sender, options, {"streams": STREAMS[self.streams]})


class Portal(ScreenCast):
    """The portal object; offers GlobalShortcuts unless told not to."""

    def __init__(self, bus, log_path, answer, offers_shortcuts, streams=None):
        super().__init__(bus, PATH)
        self.bus = bus
        self.streams = streams
        self.log_file = open(log_path, "a", encoding="utf-8")
        self.answer = answer
        self.offers_shortcuts = offers_shortcuts
        self.sessions = {}
        self.newest = None  # the newest session whose shortcuts were bound

    def log(self, entry):
        self.log_file.write(json.dumps(entry) + "\n")
        self.log_file.flush()

    @staticmethod
    def element(sender):
        return sender[1:].replace(".", "_")

    def request(self, sender, options, answer):
        """A Request object for the caller; its Response comes after the method returned."""
        token = str(options.get("handle_token", "t%d" % id(options)))
        path = "%s/request/%s/%s" % (PATH, self.element(sender), token)
        request = Request(self.bus, path)

        def respond():
            response, results = answer()
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        GLib.timeout_add(10, respond)
        return dbus.ObjectPath(path)

    def session_of(self, sender, path):
        session = self.sessions.get(str(path))
        if session is None or session.owner != sender:
            raise dbus.exceptions.DBusException("Invalid session",
                                                name="org.freedesktop.portal.Error.NotFound")
        return session

    def unavailable(self):
        raise dbus.exceptions.DBusException(
            "No such interface", name="org.freedesktop.DBus.Error.UnknownInterface")

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        self.log({"call": "Get", "interface": str(interface), "name": str(name)})
        if interface == SCREENCAST and self.streams:
            return dbus.UInt32({"AvailableSourceTypes": 3, "AvailableCursorModes": 7}.get(name, 4))
        if interface != SHORTCUTS or not self.offers_shortcuts:
            self.unavailable()
        if name != "version":
            raise dbus.exceptions.DBusException(
                "No such property", name="org.freedesktop.DBus.Error.UnknownProperty")
        return dbus.UInt32(1)

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != SHORTCUTS or not self.offers_shortcuts:
            self.unavailable()
        return {"version": dbus.UInt32(1)}

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        if not self.offers_shortcuts:
            self.unavailable()
        self.log({"call": "CreateSession", "options": plain(options)})
        token = str(options.get("session_handle_token", "s%d" % len(self.sessions)))
        path = "%s/session/%s/%s" % (PATH, self.element(sender), token)
        self.sessions[path] = Session(self, path, sender)
        return self.request(sender, options, lambda: (0, {"session_handle": path}))

    def described_shortcuts(self, shortcuts):
        return dbus.Array(
            [dbus.Struct((sid, dbus.Dictionary({
                "description": values.get("description", ""),
                "trigger_description": described(values.get("preferred_trigger", "")),
            }, signature="sv"))) for sid, values in shortcuts],
            signature="(sa{sv})")

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None):
        if not self.offers_shortcuts:
            self.unavailable()
        self.log({"call": "BindShortcuts", "session": str(session_handle),
                  "shortcuts": plain(shortcuts), "parent_window": str(parent_window),
                  "options": plain(options)})
        session = self.session_of(sender, session_handle)
        # A session binds its shortcuts once.
        if session.tried:
            raise dbus.exceptions.DBusException("Invalid state",
                                                name="org.freedesktop.portal.Error.Failed")
        session.tried = True

        def answer():
            self.log({"answered": "BindShortcuts", "response": self.answer})
            if self.answer != 0:
                return self.answer, {}
            session.bound = [(str(s), dict(v)) for s, v in shortcuts]
            self.newest = session
            return 0, {"shortcuts": self.described_shortcuts(session.bound)}

        return self.request(sender, options, answer)

    @dbus.service.method(SHORTCUTS, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def ListShortcuts(self, session_handle, options, sender=None):
        if not self.offers_shortcuts:
            self.unavailable()
        self.log({"call": "ListShortcuts", "session": str(session_handle)})
        session = self.session_of(sender, session_handle)
        return self.request(sender, options, lambda: (
            0, {"shortcuts": self.described_shortcuts(session.bound or [])}))

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session_handle, shortcuts):
        pass

    def command(self, line):
        words = line.split(" ", 2)
        session = self.newest
        if session is None or session.path not in self.sessions:
            self.log({"command": line, "ignored": "no bound session"})
            return
        handle = dbus.ObjectPath(session.path)
        if words[0] == "activate":
            timestamp = dbus.UInt64(GLib.get_monotonic_time() // 1000)
            self.Activated(handle, words[1], timestamp, dbus.Dictionary({}, signature="sv"))
        elif words[0] == "change":
            changed = self.described_shortcuts(session.bound)
            for entry in changed:
                if entry[0] == words[1]:
                    entry[1]["trigger_description"] = words[2]
            self.ShortcutsChanged(handle, changed)
        elif words[0] == "close":
            self.sessions.pop(session.path, None)
            session.Closed(dbus.Dictionary({}, signature="sv"))
            session.remove_from_connection()
        self.log({"command": line})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log")
    parser.add_argument("--answer", type=int, default=0)
    parser.add_argument("--without-shortcuts", action="store_true")
    parser.add_argument("--absent", action="store_true")
    parser.add_argument("--screencast-streams", choices=sorted(STREAMS))
    args = parser.parse_args()

    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    address = daemon.stdout.readline().decode().strip()
    keep = []
    try:
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        bus = dbus.bus.BusConnection(address)
        if not args.absent:
            keep.append(dbus.service.BusName(SERVICE, bus))
            keep.append(Portal(bus, args.log, args.answer, not args.without_shortcuts,
                               args.screencast_streams))
        portal = keep[1] if keep else None
        loop = GLib.MainLoop()
        pending = bytearray()

        def on_input(fd, _condition):
            data = os.read(fd, 4096)
            if not data:
                loop.quit()
                return False
            pending.extend(data)
            while b"\n" in pending:
                line, _, rest = bytes(pending).partition(b"\n")
                pending[:] = rest
                if portal and line.strip():
                    portal.command(line.decode().strip())
            return True

        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
        print("DBUS_SESSION_BUS_ADDRESS=" + address, flush=True)
        print("ready", flush=True)
        loop.run()
    finally:
        # The name goes while its bus is still there.
        keep.clear()
        daemon.terminate()
        daemon.wait()


if __name__ == "__main__":
    main()
