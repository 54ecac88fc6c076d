"""A private Linux desktop for driving the real Corvane client.

VirtualDesktop brings up, each in a temporary folder of its own: an X server (Xvfb), a
session bus, the accessibility bus (at-spi-bus-launcher and its registry), a tray host
(trayer) and a recording notification service. StandInServer runs corvane-server, Client runs
the corvane program with HOME and the XDG folders in the temporary folder. Account talks to the
server's REST interface as a second device would. Screen reaches the application through the
accessibility bus (pyatspi) and, for the tray icon, through xdotool.

Every wait iterates the GLib main context, which delivers the accessibility events, the bus
calls and the programs' output, until its condition holds or its deadline passes.
"""

import ctypes
import hashlib
import importlib.util
import json
import os
import re
import select
import shutil
import signal
import subprocess
import time
import urllib.error
import urllib.request

from gi.repository import GLib

from notification_service import RecordingNotificationService

# How long a wait blocks at most before it looks at its condition again.
POLL_SECONDS = 0.05
SCREEN = "1280x800x24"
AT_SPI_LAUNCHERS = (
    "/usr/libexec/at-spi-bus-launcher",
    "/usr/lib/at-spi2-core/at-spi-bus-launcher",
)
# Programs the desktop needs, by the Debian package that brings them.
PROGRAMS = {
    "Xvfb": "xvfb",
    "dbus-daemon": "dbus",
    "dbus-send": "dbus",
    "trayer": "trayer",
    "xdotool": "xdotool",
    "xwininfo": "x11-utils",
    "import": "imagemagick",
}


class DesktopError(Exception):
    pass


def wait_until(condition, timeout, what):
    """Returns the first true value of condition(); raises DesktopError after timeout seconds."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        left = deadline - time.monotonic()
        if left <= 0:
            raise DesktopError(f"{what}: not within {timeout:g} s")
        wake = GLib.timeout_source_new(int(min(left, POLL_SECONDS) * 1000) + 1)
        wake.set_callback(lambda *_: False)
        wake.attach(context)
        context.iteration(True)
        wake.destroy()


def missing_programs():
    """The Debian packages whose programs are not on PATH, plus those of the Python modules."""
    missing = sorted({package for program, package in PROGRAMS.items() if not shutil.which(program)})
    if not any(os.access(path, os.X_OK) for path in AT_SPI_LAUNCHERS):
        missing.append("at-spi2-core")
    # Looked for, not imported: the AT-SPI library must first meet the session's buses.
    if importlib.util.find_spec("pyatspi") is None:
        missing.append("python3-pyatspi")
    return missing


def read_line(fd, timeout, what, pending=b""):
    """One line from the pipe fd (without its end), read before the deadline, and what came
    after it. `pending`: what an earlier call read after its line."""
    deadline = time.monotonic() + timeout
    data = pending
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise DesktopError(f"{what}: no answer within {timeout:g} s")
        chunk = os.read(fd, 4096)
        if not chunk:
            raise DesktopError(f"{what}: ended before it answered")
        data += chunk
    line, rest = data.split(b"\n", 1)
    return line.decode(), rest


class OutputLog:
    """Collects the lines a child writes to a pipe, as they come, and copies them to a file."""

    def __init__(self, fd, path):
        self.lines = []
        self._fd = fd
        self._file = open(path, "ab")
        self._partial = b""
        os.set_blocking(fd, False)
        self._watch = GLib.io_add_watch(
            fd, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, self._readable
        )

    def add_text(self, data):
        self._partial += data
        *complete, self._partial = self._partial.split(b"\n")
        for line in complete:
            self._file.write(line + b"\n")
            self.lines.append(line.decode(errors="replace"))
        self._file.flush()

    def _readable(self, _fd, _condition):
        try:
            data = os.read(self._fd, 65536)
        except BlockingIOError:
            return True
        if data:
            self.add_text(data)
            return True
        self.close()
        return False

    def count(self, text):
        return sum(text in line for line in self.lines)

    @property
    def ended(self):
        """Whether the writer closed its end and every line has been read."""
        return self._watch is None

    def close(self):
        if self._watch:
            GLib.source_remove(self._watch)
            self._watch = None
            os.close(self._fd)
            self._file.close()


def _end_with_parent():
    """In the child before it runs the program: it is killed when the driver dies."""
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGKILL, 0, 0, 0)


class Child:
    """A program of the session, in a session of its own (away from the terminal's signals);
    its output is logged to `log_path`. It is killed if the driver dies first."""

    def __init__(self, arguments, env, log_path, capture=False, pass_fds=()):
        self.name = os.path.basename(arguments[0])
        self.log_path = log_path
        self.output = None
        if capture:
            read_end, write_end = os.pipe()
            self.process = subprocess.Popen(
                arguments, env=env, stdout=write_end, stderr=subprocess.STDOUT,
                pass_fds=pass_fds, start_new_session=True, preexec_fn=_end_with_parent,
            )
            os.close(write_end)
            self.read_end = read_end
        else:
            with open(log_path, "ab") as log:
                self.process = subprocess.Popen(
                    arguments, env=env, stdout=log, stderr=subprocess.STDOUT,
                    pass_fds=pass_fds, start_new_session=True, preexec_fn=_end_with_parent,
                )
            self.read_end = None

    def follow_output(self, already_read=b""):
        """From here on, the output is read as it comes (see OutputLog), after what the caller
        has read past the lines it looked at."""
        self.output = OutputLog(self.read_end, self.log_path)
        self.output.add_text(already_read)
        self.read_end = None
        return self.output

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=5):
        """Ends the program (SIGKILL after `timeout` seconds); returns its exit status."""
        if self.running():
            self.process.send_signal(sig)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.read_end is not None:
            os.close(self.read_end)
            self.read_end = None
        return self.process.returncode


def _x11():
    library = ctypes.cdll.LoadLibrary("libX11.so.6")
    library.XOpenDisplay.restype = ctypes.c_void_p
    library.XOpenDisplay.argtypes = [ctypes.c_char_p]
    library.XInternAtom.restype = ctypes.c_ulong
    library.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    library.XGetSelectionOwner.restype = ctypes.c_ulong
    library.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    library.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return library


def selection_has_owner(display, selection):
    """Whether an X client owns `selection` on `display` (the tray host owns the tray's)."""
    x11 = _x11()
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        return False
    try:
        atom = x11.XInternAtom(connection, selection.encode(), 0)
        return x11.XGetSelectionOwner(connection, atom) != 0
    finally:
        x11.XCloseDisplay(connection)


class VirtualDesktop:
    """The X server, the buses, the tray host and the notification service of one run."""

    def __init__(self, work_dir, home=None):
        self.work_dir = work_dir
        self.home = home or os.path.join(work_dir, "home")
        self.children = []
        self.notifications = None
        self.display = None
        self.env = None
        self.accessibility_bus = None

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *_):
        self.close()

    def log(self, name):
        return os.path.join(self.work_dir, name + ".log")

    def start(self):
        runtime = os.path.join(self.work_dir, "runtime")
        for folder in (self.home, runtime):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        env = {
            key: value
            for key, value in os.environ.items()
            if not key.startswith(("XDG_", "DBUS_", "AT_SPI", "WAYLAND", "QT_", "DISPLAY"))
        }
        env.update(
            HOME=self.home,
            XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            XDG_STATE_HOME=os.path.join(self.home, ".local", "state"),
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
            XDG_RUNTIME_DIR=runtime,
            XDG_SESSION_TYPE="x11",
            LANG="C.UTF-8",
            LC_ALL="C.UTF-8",
        )
        self.env = env
        self._start_x_server()
        self._start_session_bus()
        self._start_accessibility_bus()
        self.notifications = RecordingNotificationService(self.env["DBUS_SESSION_BUS_ADDRESS"])
        wait_until(lambda: self.notifications.owns_name or self.notifications.lost_name, 10,
                   "the notification service's name")
        if not self.notifications.owns_name:
            raise DesktopError("another notification service owns the name on the test's bus")
        self._start_tray()
        # This process is the accessibility client: it reads the same buses.
        for key in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            os.environ[key] = self.env[key]
        os.environ["AT_SPI_BUS_ADDRESS"] = self.accessibility_bus

    def _spawn(self, arguments, name, **options):
        child = Child(arguments, self.env, self.log(name), **options)
        self.children.append(child)
        return child

    def _start_x_server(self):
        read_end, write_end = os.pipe()
        self._spawn(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp",
             "-noreset"],
            "xvfb", pass_fds=(write_end,),
        )
        os.close(write_end)
        try:
            self.display = ":" + read_line(read_end, 15, "Xvfb")[0].strip()
        finally:
            os.close(read_end)
        self.env["DISPLAY"] = self.display

    def _start_session_bus(self):
        bus = self._spawn(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
            "session-bus", capture=True,
        )
        address, rest = read_line(bus.read_end, 10, "dbus-daemon")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        bus.follow_output(rest)

    def _start_accessibility_bus(self):
        launcher = next(path for path in AT_SPI_LAUNCHERS if os.access(path, os.X_OK))
        self._spawn([launcher, "--launch-immediately"], "at-spi-bus")
        # The launcher owns org.a11y.Bus once its bus runs. The programs ask the session bus
        # for its address themselves (Qt's bridge stays off when it is handed one).
        self.accessibility_bus = wait_until(self._accessibility_bus_address, 15,
                                            "the accessibility bus")

    def _accessibility_bus_address(self):
        answer = subprocess.run(
            ["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
             "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
            env=self.env, capture_output=True, text=True, timeout=10,
        )
        return answer.stdout.strip() if answer.returncode == 0 else None

    def _start_tray(self):
        self._spawn(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
             "--height", "24", "--transparent", "false", "--SetDockType", "true"],
            "trayer",
        )
        screen = "_NET_SYSTEM_TRAY_S0"
        wait_until(lambda: selection_has_owner(self.display, screen), 15, "the tray host")

    def screenshot(self, path):
        """A PNG of the whole virtual screen."""
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       check=True, env=self.env, timeout=30)
        return path

    def close(self):
        if self.notifications:
            self.notifications.close()
            self.notifications = None
        for child in reversed(self.children):
            child.stop()
        self.children = []


class StandInServer:
    """corvane-server on 127.0.0.1 with its data in `data_dir`; it keeps its port over restarts."""

    LISTENING = re.compile(r"corvane-server listening on [0-9.]+:(\d+)")

    def __init__(self, binary, data_dir, log_path, env, port=0, test_faults=True):
        self.binary = binary
        self.data_dir = data_dir
        self.log_path = log_path
        self.env = env
        self.port = port
        self.test_faults = test_faults
        self.child = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def start(self):
        arguments = [self.binary, "--port", str(self.port), "--data", self.data_dir]
        if self.test_faults:
            arguments.append("--test-faults")
        self.child = Child(arguments, self.env, self.log_path, capture=True)
        deadline = time.monotonic() + 15
        pending = b""
        while True:
            line, pending = read_line(self.child.read_end,
                                      max(deadline - time.monotonic(), 0.01), "corvane-server",
                                      pending)
            with open(self.log_path, "a") as log:
                log.write(line + "\n")
            found = self.LISTENING.search(line)
            if found:
                self.port = int(found.group(1))
                break
        self.child.follow_output(pending)
        return self

    def stop(self):
        if self.child:
            status = self.child.stop()
            self.child = None
            return status
        return None

    def latest_code(self, email):
        code = None
        try:
            with open(os.path.join(self.data_dir, "outbox.log")) as outbox:
                for line in outbox:
                    if line.startswith(email + " "):
                        code = line.split()[-1]
        except FileNotFoundError:
            pass
        return code


def http(method, url, body=None, headers=None, timeout=10):
    """(status, headers, body bytes) of one request; an HTTP error status is an answer too."""
    request = urllib.request.Request(url, data=body, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as answer:
            return answer.status, dict(answer.headers), answer.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


def http_json(method, url, payload=None, token=None, expect=(200, 201)):
    headers = {"Content-Type": "application/json"}
    if token:
        headers["Authorization"] = "Bearer " + token
    body = json.dumps(payload).encode() if payload is not None else None
    status, _, data = http(method, url, body, headers)
    if status not in expect:
        raise DesktopError(f"{method} {url}: {status} {data[:200]!r}")
    return json.loads(data) if data else None


class Account:
    """The server's REST interface, used as another device of the account would."""

    def __init__(self, server, email):
        self.server = server
        self.email = email
        self.token = None

    def sign_in(self):
        url = self.server.url
        payload = {"email": self.email}
        status, headers, _ = http("POST", url + "/api/auth/send-code", json.dumps(payload).encode(),
                                  {"Content-Type": "application/json"})
        if status == 429:
            # A code went to this address moments ago: the server's clock moves past the wait.
            wait = int(headers.get("Retry-After", headers.get("retry-after", "60")))
            http_json("POST", url + "/__test/clock", {"advance_seconds": wait})
            http_json("POST", url + "/api/auth/send-code", payload)
        elif status != 200:
            raise DesktopError(f"send-code: {status}")
        answer = http_json("POST", url + "/api/auth/verify",
                           {"email": self.email, "code": self.server.latest_code(self.email)})
        self.token = answer["token"]
        return self

    def folders(self):
        return http_json("GET", self.server.url + "/api/folders", token=self.token)

    def folder_named(self, name):
        return next((f for f in self.folders() if f["name"] == name), None)

    def create_folder(self, name):
        return http_json("POST", self.server.url + "/api/folders", {"name": name},
                         token=self.token)

    def file_names(self):
        """Every file name of the account's top-level folders and their trees."""
        names = set()

        def walk(tree):
            names.update(f["name"] for f in tree["files"])
            for child in tree["children"]:
                walk(child)

        for folder in self.folders():
            walk(http_json("GET", f"{self.server.url}/api/folders/{folder['id']}/tree",
                           token=self.token))
        return names

    def upload(self, folder_id, path, content):
        """Stores `content` as `path` (relative to the folder): upload init, then its chunk."""
        url = self.server.url
        init = http_json("POST", url + "/api/sync/upload/init",
                         {"path": path, "folder_id": folder_id,
                          "hash": hashlib.sha256(content).hexdigest(), "size": len(content),
                          "base_version": 0},
                         token=self.token)
        if init.get("status") == "exists":
            return init["file"]
        boundary = "corvane-desktop-test"
        body = (
            f"--{boundary}\r\nContent-Disposition: form-data; name=\"upload_id\"\r\n\r\n"
            f"{init['upload_id']}\r\n--{boundary}\r\n"
            "Content-Disposition: form-data; name=\"data\"; filename=\"chunk\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n"
        ).encode() + content + f"\r\n--{boundary}--\r\n".encode()
        status, _, data = http("POST", url + "/api/sync/upload/chunk", body,
                               {"Authorization": "Bearer " + self.token,
                                "Content-Type": "multipart/form-data; boundary=" + boundary})
        if status != 200:
            raise DesktopError(f"upload chunk: {status} {data[:200]!r}")
        return json.loads(data)["file"]


class Client:
    """The corvane program on the virtual desktop, by default with the accessibility bridge on
    (otherwise as a desktop without assistive tools runs it)."""

    def __init__(self, binary, desktop, log_name="corvane", accessibility=True):
        env = dict(desktop.env, QT_QPA_PLATFORM="xcb")
        if accessibility:
            env.update(QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.child = Child([binary], env, desktop.log(log_name), capture=True)
        self.output = self.child.follow_output()

    @property
    def pid(self):
        return self.child.pid

    def wait_for_line(self, text, timeout, count=1):
        return wait_until(lambda: self.output.count(text) >= count, timeout,
                          f"corvane's output line {text!r}")

    def wait_for_exit(self, timeout):
        """The exit status, once the program has ended and its last line has been read."""
        wait_until(lambda: not self.child.running() and self.output.ended, timeout,
                   "the end of corvane")
        return self.child.process.returncode

    def stop(self):
        return self.child.stop()


class TrayIcon:
    """The client's icon as the tray host embeds it, found in the X window tree."""

    LINE = re.compile(
        r"^(?P<indent>\s*)0x[0-9a-f]+ (?P<title>.*?): \((?P<classes>.*?)\)\s+"
        r"(?P<w>\d+)x(?P<h>\d+)\+-?\d+\+-?\d+\s+\+(?P<x>-?\d+)\+(?P<y>-?\d+)"
    )

    def __init__(self, desktop):
        self.desktop = desktop

    def geometry(self):
        """(x, y, width, height) on the screen of the icon window inside the tray host."""
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=self.desktop.env,
                              capture_output=True, text=True, timeout=10).stdout
        host_indent = None
        for line in tree.splitlines():
            found = self.LINE.match(line)
            if not found:
                continue
            indent = len(found["indent"])
            if host_indent is not None and indent <= host_indent:
                host_indent = None
            if '"trayer"' in found["classes"]:
                host_indent = indent if host_indent is None else host_indent
            elif host_indent is not None and '"corvane"' in found["classes"]:
                return int(found["x"]), int(found["y"]), int(found["w"]), int(found["h"])
        return None

    def click(self, timeout=10):
        x, y, width, height = wait_until(self.geometry, timeout, "the tray icon")
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2),
                        "click", "1"],
                       env=self.desktop.env, check=True, timeout=10)
