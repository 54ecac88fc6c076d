#!/usr/bin/python3
"""The README's screenshots, taken from the real client on a virtual desktop.

It signs in to a stand-in server, lets a second device put some folders and files on the
account, and saves one PNG per view, cropped to its window: the setup window, the ready screen,
the tray panel and each tab of the settings window.
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile

from desktop_session import (Account, Client, DesktopError, StandInServer, TrayIcon,
                             VirtualDesktop, missing_programs, wait_until)

EMAIL = "ada@example.com"
PATIENCE = 30
# The views and the names of their PNGs.
TABS = (("General", "settings-general"), ("Sync", "settings-sync"),
        ("Bandwidth", "settings-bandwidth"), ("Account", "settings-account"))


def crop(desktop, accessible, path):
    """A PNG of the part of the screen where `accessible` is."""
    import accessibility as ax

    x, y, width, height = ax.extents(accessible)
    subprocess.run(["import", "-display", desktop.display, "-window", "root",
                    "-crop", f"{width}x{height}+{x}+{y}", "+repage", path],
                   check=True, env=desktop.env, timeout=30)
    print("wrote", path)


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(content)


def take(arguments, desktop):
    import accessibility as ax

    screen = ax.Screen()
    server = StandInServer(arguments.server, os.path.join(desktop.work_dir, "server-data"),
                           desktop.log("corvane-server"), desktop.env, port=arguments.port)
    server.start()
    client = Client(arguments.client, desktop)
    out = arguments.out
    try:
        client.wait_for_line("[app] started", PATIENCE)
        window = screen.wait_for_window_with(client.pid, "text", "Server URL", PATIENCE)
        ax.type_into(ax.find(window, "text", "Server URL"), f"http://localhost:{server.port}")
        ax.type_into(ax.find(window, "text", "Email"), EMAIL)
        crop(desktop, window, os.path.join(out, "setup.png"))
        ax.press(screen.wait_for(window, "push button", "Continue", PATIENCE))
        code = wait_until(lambda: server.latest_code(EMAIL), PATIENCE, "the sign-in code")
        ax.type_into(screen.wait_for(window, "text", "Verification code", PATIENCE), code)
        button = screen.wait_for(window, "push button", "Log In", PATIENCE)
        wait_until(lambda: ax.enabled(button), PATIENCE, "Log In enabled")
        ax.press(button)
        screen.wait_for(window, "label", "You're all set!", PATIENCE)
        crop(desktop, window, os.path.join(out, "ready.png"))

        # Some of everything: folders and files from another device, files from this one.
        sync_dir = os.path.join(desktop.home, "Corvane")
        device = Account(server, EMAIL).sign_in()
        for folder, name in (("Documents", "Project plan.txt"), ("Photos", "Team offsite.jpg")):
            created = device.create_folder(folder)
            device.upload(created["id"], name, os.urandom(180_000))
        device.create_folder("Archive")
        write(os.path.join(sync_dir, "Meeting notes.txt"), b"Agenda\n")
        write(os.path.join(sync_dir, "Budget 2025.ods"), os.urandom(42_000))
        wait_until(lambda: {"Meeting notes.txt", "Budget 2025.ods"} <= device.file_names(),
                   PATIENCE, "the local files on the server")
        wait_until(lambda: os.path.exists(os.path.join(sync_dir, "Photos", "Team offsite.jpg")),
                   PATIENCE, "the other device's files")

        TrayIcon(desktop).click()
        panel = screen.wait_for_panel(client.pid, PATIENCE)
        screen.wait_for(panel, "label", "Up to date", PATIENCE)
        for name in ("Meeting notes.txt", "Budget 2025.ods", "Project plan.txt",
                     "Team offsite.jpg"):
            screen.wait_for(panel, "push button", name, PATIENCE)
        crop(desktop, panel, os.path.join(out, "panel.png"))

        ax.press(screen.wait_for(panel, "push button", "Preferences...", PATIENCE))
        settings = screen.wait_for_window_with(client.pid, "page tab", "General", PATIENCE)
        for title, png in TABS:
            ax.press(screen.wait_for(settings, "page tab", title, PATIENCE))
            page = screen.wait_for(settings, "filler", title, PATIENCE)
            if title == "Sync":
                screen.wait_for(page, "check box", "Documents", PATIENCE)
            if title == "Account":
                wait_until(lambda: any(re.fullmatch(r"\d+ files", label)
                                       for label in ax.names_of(page, "label")),
                           PATIENCE, "the local file count")
            crop(desktop, settings, os.path.join(out, png + ".png"))
        status = client.stop()
        if status != 0:
            raise DesktopError(f"the client ended with {status}")
    finally:
        client.stop()
        server.stop()
        screen.close()


def port_is_free(port):
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--client", required=True, help="the corvane program")
    parser.add_argument("--server", required=True, help="the corvane-server program")
    parser.add_argument("--out", required=True, help="folder for the PNGs")
    parser.add_argument("--port", type=int, default=None,
                        help="the server's port (default: 8080, as in the README, when free)")
    arguments = parser.parse_args()
    if arguments.port is None:
        arguments.port = 8080 if port_is_free(8080) else 0
    missing = missing_programs()
    if missing:
        print("The screenshots need the Debian packages " + ", ".join(missing))
        return 1
    os.makedirs(arguments.out, exist_ok=True)
    # A home of a fixed name, so that the paths the views show stay the same from run to run.
    work = os.path.join(tempfile.gettempdir(), "corvane-screenshots")
    if os.path.exists(work):
        print(f"{work} is in the way: another run uses it, or remove it")
        return 1
    try:
        with VirtualDesktop(work, home=os.path.join(work, "home", "ada")) as desktop:
            take(arguments, desktop)
    except DesktopError as error:
        print(f"FAILED: {error}; the logs are in {work}")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
