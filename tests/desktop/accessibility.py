"""The client's user interface as the accessibility bus (AT-SPI) shows it to assistive tools.

Import this module only once the session's buses are set in the environment: the AT-SPI
library finds its bus when it is first used.
"""

import pyatspi
from gi.repository import Atspi, GLib

from desktop_session import wait_until

# The errors a control that went away meanwhile answers with.
GONE = (GLib.GError, RuntimeError, AttributeError)


def _safe(query, default=None):
    try:
        return query()
    except GONE:
        return default


def showing(accessible):
    return _safe(lambda: accessible.getState().contains(pyatspi.STATE_SHOWING), False)


def enabled(accessible):
    return _safe(lambda: accessible.getState().contains(pyatspi.STATE_ENABLED), False)


def checked(accessible):
    return _safe(lambda: accessible.getState().contains(pyatspi.STATE_CHECKED), False)


def role(accessible):
    return _safe(accessible.getRoleName, "")


def name(accessible):
    return _safe(lambda: accessible.name, "")


def text(accessible):
    return _safe(lambda: accessible.queryText().getText(0, -1), "")


def find(root, role_name, accessible_name, visible=True):
    """The first control under `root` of that role and name (only one on screen by default)."""

    def matches(accessible):
        return (
            role(accessible) == role_name
            and name(accessible) == accessible_name
            and (not visible or showing(accessible))
        )

    return _safe(lambda: pyatspi.findDescendant(root, matches))


def names_of(root, role_name):
    """The names of the controls of that role on screen under `root`."""
    found = _safe(
        lambda: pyatspi.findAllDescendants(
            root, lambda a: role(a) == role_name and showing(a)), [])
    return [name(accessible) for accessible in found]


def _action(accessible, action_name):
    actions = accessible.queryAction()
    for index in range(actions.nActions):
        if actions.getName(index) == action_name:
            return actions, index
    raise LookupError(f"{role(accessible)} {name(accessible)!r} offers no {action_name!r}")


def press(accessible):
    """What a click does, through the control's "Press" action."""
    if not enabled(accessible):
        raise LookupError(f"{role(accessible)} {name(accessible)!r} is disabled")
    actions, index = _action(accessible, "Press")
    actions.doAction(index)


def toggle(accessible):
    actions, index = _action(accessible, "Toggle")
    actions.doAction(index)


def type_into(field, value):
    """Gives the field the keyboard focus and replaces its text, as typing over it would."""
    _safe(lambda: accessible_focus(field))
    field.queryEditableText().setTextContents(value)


def accessible_focus(accessible):
    accessible.queryComponent().grabFocus()


def extents(accessible):
    """(x, y, width, height) on the screen."""
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


class Screen:
    """The applications on the accessibility bus, and the popups they showed.

    A popup window (the tray panel) is no child of its application on the bus: it is found
    through the event of its showing, as a screen reader finds a menu.
    """

    def __init__(self):
        self.desktop = pyatspi.Registry.getDesktop(0)
        # Names, states and children are read afresh on every call, never from a cache.
        self.desktop.set_cache_mask(Atspi.Cache.NONE)
        self._popups = []
        pyatspi.Registry.registerEventListener(self._on_showing, "object:state-changed:showing")

    def close(self):
        pyatspi.Registry.deregisterEventListener(self._on_showing, "object:state-changed:showing")

    def _on_showing(self, event):
        source = event.source
        if event.detail1 != 1 or role(source) != "filler":
            return
        parent = _safe(lambda: source.parent)
        if parent is not None and role(parent) == "application":
            self._popups.append(source)

    def application(self, pid):
        for index in range(_safe(lambda: self.desktop.childCount, 0)):
            app = _safe(lambda: self.desktop.getChildAtIndex(index))
            if app is not None and _safe(app.get_process_id) == pid:
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        return None

    def wait_for_application(self, pid, timeout=20):
        return wait_until(lambda: self.application(pid), timeout,
                          f"process {pid} on the accessibility bus")

    def windows(self, pid):
        """The application's top-level windows on screen (popups aside)."""
        app = self.application(pid)
        if app is None:
            return []
        children = [_safe(lambda i=i: app.getChildAtIndex(i)) for i in
                    range(_safe(lambda: app.childCount, 0))]
        return [child for child in children if child is not None and showing(child)]

    def window_with(self, pid, role_name, accessible_name):
        """The first window of the application on screen that shows that control."""
        for window in self.windows(pid):
            if find(window, role_name, accessible_name):
                return window
        return None

    def wait_for_window_with(self, pid, role_name, accessible_name, timeout=20):
        return wait_until(lambda: self.window_with(pid, role_name, accessible_name), timeout,
                          f"a window showing the {role_name} {accessible_name!r}")

    def panel(self, pid):
        """The tray panel of the application while it is on screen."""
        for popup in reversed(self._popups):
            if (_safe(popup.get_process_id) == pid and showing(popup)
                    and find(popup, "push button", "Quit Corvane")):
                return popup
        return None

    def wait_for_panel(self, pid, timeout=10):
        return wait_until(lambda: self.panel(pid), timeout, "the tray panel")

    def wait_for(self, root, role_name, accessible_name, timeout=20):
        return wait_until(lambda: find(root, role_name, accessible_name), timeout,
                          f"the {role_name} {accessible_name!r}")
