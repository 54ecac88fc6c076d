"""A desktop notification service of the test's own.

It owns org.freedesktop.Notifications on the session bus it is given, answers the calls a
client makes (GetCapabilities, GetServerInformation, Notify, CloseNotification) and records
every notification. It serves on the GLib main context of the calling thread: the caller's
waits iterate that context.
"""

from gi.repository import Gio, GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"

INTROSPECTION = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities">
      <arg type="as" name="capabilities" direction="out"/>
    </method>
    <method name="GetServerInformation">
      <arg type="s" name="name" direction="out"/>
      <arg type="s" name="vendor" direction="out"/>
      <arg type="s" name="version" direction="out"/>
      <arg type="s" name="spec_version" direction="out"/>
    </method>
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
    <method name="CloseNotification">
      <arg type="u" name="id" direction="in"/>
    </method>
    <signal name="NotificationClosed">
      <arg type="u" name="id"/>
      <arg type="u" name="reason"/>
    </signal>
  </interface>
</node>
"""


class RecordingNotificationService:
    """Records notifications as dictionaries: app_name, summary, body, hints (unpacked)."""

    def __init__(self, bus_address, capabilities=("body", "sound")):
        self.capabilities = list(capabilities)
        self.notifications = []
        self.owns_name = False
        self.lost_name = False
        self._connection = Gio.DBusConnection.new_for_address_sync(
            bus_address,
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None,
            None,
        )
        node = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
        self._registration = self._connection.register_object(
            PATH, node.interfaces[0], self._on_call, None, None
        )
        self._owner = Gio.bus_own_name_on_connection(
            self._connection,
            NAME,
            Gio.BusNameOwnerFlags.NONE,
            self._on_acquired,
            self._on_lost,
        )

    def _on_acquired(self, _connection, _name):
        self.owns_name = True

    def _on_lost(self, _connection, _name):
        self.lost_name = True

    def _on_call(self, _connection, _sender, _path, _interface, method, parameters, invocation):
        if method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (self.capabilities,)))
        elif method == "GetServerInformation":
            invocation.return_value(
                GLib.Variant("(ssss)", ("desktop-test", "Corvane tests", "1", "1.2"))
            )
        elif method == "Notify":
            app_name, _replaces, _icon, summary, body, actions, hints, timeout = (
                parameters.unpack()
            )
            self.notifications.append(
                {
                    "app_name": app_name,
                    "summary": summary,
                    "body": body,
                    "actions": list(actions),
                    "hints": dict(hints),
                    "expire_timeout": timeout,
                }
            )
            invocation.return_value(GLib.Variant("(u)", (len(self.notifications),)))
        elif method == "CloseNotification":
            invocation.return_value(None)
        else:
            invocation.return_dbus_error(
                "org.freedesktop.DBus.Error.UnknownMethod", "no method " + method
            )

    def titled(self, summary):
        return [n for n in self.notifications if n["summary"] == summary]

    def close(self):
        Gio.bus_unown_name(self._owner)
        self._connection.unregister_object(self._registration)
        self._connection.close_sync(None)
