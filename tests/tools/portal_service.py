"""A stand-in desktop portal for tests: owns org.freedesktop.portal.Desktop on the session
bus of DBUS_SESSION_BUS_ADDRESS and answers the screen cast's window choice the way a
desktop would, without a person.

    portal_service.py CONTROL_JSON RECORD_FILE

CONTROL_JSON is read at every Start: {"answer": "choose" | "cancel" | "deny",
"node": <PipeWire node id>, "source_types": 3}. A Start with a restore token this portal
handed out restores the choice without a dialog; any other Start "shows the dialog". Each
Start appends "restored" or "dialog" to RECORD_FILE, so a test sees whether a person would
have been asked. OpenPipeWireRemote hands out a socket to the real PipeWire daemon.
"""
import json
import os
import socket
import sys
import uuid

from gi.repository import Gio, GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
XML = """
<node>
  <interface name="org.freedesktop.portal.ScreenCast">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectSources"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="OpenPipeWireRemote"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="h" direction="out"/></method>
    <property name="version" type="u" access="read"/>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
  </interface>
</node>"""
SESSION_XML = """
<node><interface name="org.freedesktop.portal.Session">
  <method name="Close"/><signal name="Closed"><arg type="a{sv}"/></signal>
</interface></node>"""

control_path, record_path = sys.argv[1], sys.argv[2]
tokens = set()
sessions = {}  # session path -> {"restore": token or None, "registration": id}


def control():
    with open(control_path) as f:
        return json.load(f)


def record(what):
    with open(record_path, "a") as f:
        f.write(what + "\n")


def request_path(sender, options):
    return "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["handle_token"])


def respond(conn, sender, path, code, results):
    # After the method's reply, as a portal does.
    GLib.idle_add(lambda: conn.emit_signal(sender, path, "org.freedesktop.portal.Request", "Response",
                                           GLib.Variant("(ua{sv})", (code, results))) and False)


def session_call(conn, sender, path, iface, method, params, invocation):
    if method == "Close":
        reg = sessions.pop(path, {}).get("registration")
        if reg:
            conn.unregister_object(reg)
    invocation.return_value(None)


def call(conn, sender, path, iface, method, params, invocation):
    args = params.unpack()
    if method == "CreateSession":
        options = args[0]
        session = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["session_handle_token"])
        reg = conn.register_object(session, Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0],
                                   session_call, None, None)
        sessions[session] = {"restore": None, "registration": reg}
        invocation.return_value(GLib.Variant("(o)", (request_path(sender, options),)))
        respond(conn, sender, request_path(sender, options), 0,
                {"session_handle": GLib.Variant("s", session)})
    elif method == "SelectSources":
        session, options = args
        sessions[session]["restore"] = options.get("restore_token")
        invocation.return_value(GLib.Variant("(o)", (request_path(sender, options),)))
        respond(conn, sender, request_path(sender, options), 0, {})
    elif method == "Start":
        session, _parent, options = args
        c = control()
        token = sessions[session]["restore"]
        if token in tokens:
            tokens.discard(token)  # single use
            record("restored")
            answer = "choose"
        else:
            record("dialog")
            answer = c["answer"]
        invocation.return_value(GLib.Variant("(o)", (request_path(sender, options),)))
        if answer == "choose":
            fresh = uuid.uuid4().hex
            tokens.add(fresh)
            results = {"streams": GLib.Variant("a(ua{sv})", [(c["node"], {"source_type": GLib.Variant("u", 2)})]),
                       "restore_token": GLib.Variant("s", fresh)}
            respond(conn, sender, request_path(sender, options), 0, results)
        else:
            respond(conn, sender, request_path(sender, options), 1 if answer == "cancel" else 2, {})
    elif method == "OpenPipeWireRemote":
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pipewire-0"))
        fds = Gio.UnixFDList.new()
        fds.append(s.fileno())
        s.close()
        invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)), fds)


def get_property(conn, sender, path, iface, name):
    return {"version": GLib.Variant("u", 4),
            "AvailableSourceTypes": GLib.Variant("u", control().get("source_types", 3)),
            "AvailableCursorModes": GLib.Variant("u", 1)}[name]


def main():
    loop = GLib.MainLoop()
    conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    conn.register_object(PATH, Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], call, get_property, None)

    def acquired(*_):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(conn, NAME, Gio.BusNameOwnerFlags.NONE, acquired, lambda *_: loop.quit())
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, lambda: loop.quit() or False)
    loop.run()


main()
