#!/usr/bin/python3
"""The client at start and at rest over a sync folder of many files already in step.

On a virtual desktop (tests/desktop/desktop_session: Xvfb, a session bus, a tray host) and
against a local stand-in server, it leaves the client signed in as a previous run would (the
settings and the token file of a REST sign-in), lets a first start upload the folder, ends it
with SIGTERM, and then measures later starts with the saved sign-in:

- from the start of the process to its first "Up to date" (the end of the start-up cycle, after
  which the engine reports idle), over --rounds starts, without the accessibility bridge;
- the same, read from the screen: the tray panel, opened at once, through AT-SPI (the bridge on);
- the resident memory at rest with the panel closed, --settle seconds after the first
  "Up to date", and the CPU the process uses over the next --idle-seconds (user + system time,
  all threads, as a share of one core).

Run by scripts/bench app; arguments: --files, --folders, --rounds, --settle, --idle-seconds,
--server-data (a folder for the server's data instead of the temporary one).
"""

import argparse
import json
import os
import shutil
import signal
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "desktop"))

from desktop_session import (Account, Client, StandInServer, TrayIcon,  # noqa: E402
                             VirtualDesktop, wait_until)

EMAIL = "bench@example.com"
FILE_BYTES = 4096
CYCLE_DONE = "[sync] sync cycle complete"


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--client", required=True)
    parser.add_argument("--server", required=True)
    parser.add_argument("--files", type=int, default=10_000)
    parser.add_argument("--folders", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--settle", type=float, default=10)
    parser.add_argument("--idle-seconds", type=float, default=60)
    parser.add_argument("--server-data", default=None)
    return parser.parse_args()


def write_tree(root, files, folders):
    for index in range(files):
        folder = os.path.join(root, f"folder-{index % folders:03d}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"file-{index:05d}.bin"), "wb") as file:
            file.write(os.urandom(FILE_BYTES))


def sign_in_as_a_previous_run(desktop, server, sync_dir):
    """The settings and the token file that a sign-in through the setup window leaves."""
    token = Account(server, EMAIL).sign_in().token
    config = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Corvane")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "com.corvane.app.json"), "w") as settings:
        json.dump({"setupDone": True, "serverURL": server.url, "syncDir": sync_dir,
                   "userEmail": EMAIL}, settings)
    store = os.path.join(desktop.env["XDG_DATA_HOME"], "Corvane")
    os.makedirs(store, exist_ok=True)
    token_file = os.path.join(store, ".auth_token")
    with open(os.open(token_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as file:
        file.write(token)


def proc_fields(pid):
    with open(f"/proc/{pid}/stat") as stat:
        # The command name may hold blanks: the fields that follow come after its ")".
        return stat.read().rsplit(")", 1)[1].split()


def cpu_seconds(pid):
    fields = proc_fields(pid)
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime, stime


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def end(client, what):
    client.child.process.send_signal(signal.SIGTERM)
    status = client.wait_for_exit(60)
    if status != 0:
        raise RuntimeError(f"{what}: the client ended with {status}")


class Bench:
    def __init__(self, arguments, desktop, server):
        self.arguments = arguments
        self.desktop = desktop
        self.server = server
        self.clients = []

    def start(self, name, accessibility=False):
        """A client and the moment it was started."""
        started = time.monotonic()
        client = Client(self.arguments.client, self.desktop, name, accessibility=accessibility)
        self.clients.append(client)
        return client, started

    def close(self):
        for client in self.clients:
            client.stop()

    def first_sync(self):
        sync_dir = os.path.join(self.desktop.home, "Corvane")
        write_tree(sync_dir, self.arguments.files, self.arguments.folders)
        sign_in_as_a_previous_run(self.desktop, self.server, sync_dir)
        client, started = self.start("first")
        client.wait_for_line(CYCLE_DONE, 3600)
        print(f"first start, {self.arguments.files} files uploaded: "
              f"{time.monotonic() - started:.1f} s")
        end(client, "the first start")

    def timed_starts(self):
        """The starts to the first "Up to date"; the last one's client is left running."""
        starts = []
        for round_number in range(self.arguments.rounds):
            client, started = self.start(f"round-{round_number}")
            client.wait_for_line(CYCLE_DONE, 600)
            starts.append(time.monotonic() - started)
            check_in_step(client)
            if round_number < self.arguments.rounds - 1:
                end(client, "a timed start")
        cycle = next(line for line in client.output.lines if CYCLE_DONE in line)
        print("start to the first \"Up to date\" (end of the start-up cycle): "
              + ", ".join(f"{s:.2f}" for s in starts)
              + f" s; median {statistics.median(starts):.2f} s ({cycle.split('] ')[-1]})")
        return client, started + starts[-1]

    def at_rest(self, client, up_to_date):
        """Memory and CPU of a client that has been up to date for a while, panel closed."""
        rested = up_to_date + self.arguments.settle
        wait_until(lambda: time.monotonic() >= rested, self.arguments.settle + 5, "the settling")
        rss = resident_kib(client.pid)
        before = cpu_seconds(client.pid)
        measured = time.monotonic()
        idle = self.arguments.idle_seconds
        wait_until(lambda: time.monotonic() - measured >= idle, idle + 5, "the idle time")
        used = cpu_seconds(client.pid) - before
        span = time.monotonic() - measured
        print(f"resident memory at rest, panel closed: {rss / 1024:.1f} MiB")
        tick = 1 / os.sysconf("SC_CLK_TCK")
        print(f"CPU at rest over {span:.0f} s: {used:.2f} s (counted in {tick:g} s ticks), "
              f"{100 * used / span:.3f} % of one core")
        end(client, "the client at rest")

    def on_screen(self):
        """The start to "Up to date" as the tray panel shows it, read through AT-SPI."""
        import accessibility as ax

        screen = ax.Screen()
        try:
            client, started = self.start("on-screen", accessibility=True)
            client.wait_for_line("[app] started", 60)
            screen.wait_for_application(client.pid, 60)
            TrayIcon(self.desktop).click()
            panel = screen.wait_for_panel(client.pid, 60)
            screen.wait_for(panel, "label", "Up to date", 600)
            print(f"start to \"Up to date\" in the tray panel (accessibility bridge on): "
                  f"{time.monotonic() - started:.2f} s")
            end(client, "the on-screen start")
        finally:
            screen.close()


def main():
    arguments = parse_arguments()
    work = tempfile.mkdtemp(prefix="corvane-app-bench-")
    try:
        with VirtualDesktop(os.path.join(work, "session")) as desktop:
            data = arguments.server_data or os.path.join(work, "server-data")
            server = StandInServer(arguments.server, data, desktop.log("server"), desktop.env)
            bench = Bench(arguments, desktop, server.start())
            try:
                bench.first_sync()
                bench.at_rest(*bench.timed_starts())
                bench.on_screen()
            finally:
                bench.close()
                server.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


def check_in_step(client):
    """A start over a folder in step moves nothing."""
    diff = next(line for line in client.output.lines if "[sync] diff computed" in line)
    if "uploads=0 downloads=0 deletes=0 conflicts=0" not in diff:
        raise RuntimeError(f"the folder was not in step: {diff}")


if __name__ == "__main__":
    sys.exit(main())
