#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""Two windows probing each other as a desktop runs them.

A real X server (Xvfb), a D-Bus session bus and the accessibility bus of a
desktop (at-spi-bus-launcher, which also names the bus on the X root window,
and the registry it starts), and on it pairs of bench drivers (driver.cpp):
one window in server mode on 127.0.0.1 answering, one in client mode running
AutoPing against it once a second, over UDP and over TCP.  After a settling
time the processor time of every window is read from /proc/<pid>/stat
(utime + stime) over the measured seconds.

    bench/desktop.py BUILD [--seconds S] [--turns N] [--settle S]

prints one line per window and turn, and the median of the turns.  Each turn
starts new windows; the UDP and the TCP pair run at the same time.  Before
measuring it checks that Qt's accessibility bridge of every window is on the
accessibility bus (registered with the registry as an application), so that
the accessibility work a desktop causes is really done (no screen reader
listens, as on most desktops: the bridge then tells the bus nothing); after
measuring, that every client got an answer every second.

bench/bench.py uses measure() for its row of the desktop setting.
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

TICK_HZ = os.sysconf("SC_CLK_TCK")
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK_HZ   # utime + stime


def free_port(kind):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(what, probe, timeout=10):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    raise SystemExit("desktop: %s did not come up" % what)


class Desktop:
    """Xvfb, a session bus and the accessibility bus, torn down by close()."""

    def __init__(self):
        self.procs = []
        try:
            self.open()
        except BaseException:
            self.close()
            raise

    def open(self):
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS")}
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        # The number comes in two writes (then the line end), and Xvfb ends
        # if the second finds the pipe closed.
        number = b""
        while not number.endswith(b"\n"):
            piece = os.read(read, 64)
            if not piece:
                raise SystemExit("desktop: Xvfb did not start")
            number += piece
        os.close(read)
        display = number.decode().strip()
        self.env["DISPLAY"] = ":" + display
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        # The launcher owns org.a11y.Bus on the session bus, starts the
        # accessibility bus and puts its address on the X root window (where
        # Qt on X finds it); the registry is started on that bus when asked.
        self.launcher = self.start([LAUNCHER, "--launch-immediately", "--a11y=1"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.a11y = wait_for("the accessibility bus", self.a11y_address)
        self.call(*REGISTRY, "org.freedesktop.DBus.Peer.Ping")   # starts the registry

    def start(self, args, **kwargs):
        p = subprocess.Popen(args, env=self.env, **kwargs)
        self.procs.append(p)
        return p

    def session(self, dest, path, method, *args):
        out = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=" + dest, path, method,
                              *args], env=self.env, capture_output=True, text=True, timeout=10)
        return out.stdout.strip() if out.returncode == 0 else ""

    def a11y_address(self):
        # Asked only once the launcher owns the name: asking before would
        # make the session bus start a second one.
        if "true" not in self.session("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"):
            return ""
        return self.session("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress")

    def call(self, dest, path, method, *args):
        out = subprocess.run(["dbus-send", "--bus=" + self.a11y, "--print-reply", "--dest=" + dest,
                              path, method, *args], capture_output=True, text=True, timeout=10)
        if out.returncode != 0:
            raise SystemExit("desktop: %s failed: %s" % (method, out.stderr.strip()))
        return out.stdout

    def applications(self):
        """The bus names of the applications registered with the registry."""
        out = self.call(*REGISTRY, "org.a11y.atspi.Accessible.GetChildren")
        return {line.split('"')[1] for line in out.splitlines() if line.strip().startswith('string ":')}

    def pids(self, names):
        """The process of each bus name on the accessibility bus."""
        result = {}
        for name in names:
            out = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + name)
            result[int(out.split()[-1])] = name
        return result

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


class Window:
    """A bench driver (the program's own start-up and main window) on the desktop."""

    def __init__(self, driver, env, work):
        # A folder of its own, so that each window writes a log of its own.
        self.work = tempfile.mkdtemp(dir=work)
        os.makedirs(os.path.join(self.work, "Selmarin"))
        env = dict(env, PROGRAMFILES=self.work)
        self.proc = subprocess.Popen([driver], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                     cwd=self.work)
        first = self.proc.stdout.readline().decode().split()
        if not first or first[0] != "shown":
            raise SystemExit("desktop: the program did not start: %r" % first)

    def cmd(self, line):
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().decode().strip()
        if answer != "ok":
            raise SystemExit("desktop: %r answered %r" % (line, answer))

    def log_lines(self, text):
        """How many lines of the window's log hold text."""
        folder = os.path.join(self.work, "Selmarin")
        count = 0
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                count += sum(text in line for line in f)
        return count

    def quit(self):
        self.cmd("quit")
        self.proc.stdin.close()
        self.proc.wait(10)


def measure(build, seconds, turns=1, settle=20, log=print, progress=False):
    """CPU of each window, in % of a core: {"UDP server": [turns], ...}."""
    driver = os.path.join(os.path.abspath(build), "bench", "selmarin_bench_driver")
    work = tempfile.mkdtemp(prefix="selmarin-desktop-")
    runtime = os.path.join(work, "runtime")
    os.mkdir(runtime, 0o700)
    desktop = Desktop()
    env = dict(desktop.env, XDG_RUNTIME_DIR=runtime, COMPUTERNAME="BENCH")
    figures, windows = {}, {}
    try:
        for turn in range(turns):
            windows.clear()
            before = desktop.applications()
            for kind, sock in (("UDP", socket.SOCK_DGRAM), ("TCP", socket.SOCK_STREAM)):
                port = free_port(sock)
                server = windows[kind + " server"] = Window(driver, env, work)
                server.cmd("open %s %d" % (kind.lower(), port))
                client = windows[kind + " client"] = Window(driver, env, work)
                client.cmd("probe %s %d" % (kind.lower(), port))
            for w in windows.values():
                w.cmd("watch off")
            # Every window's bridge must be on the bus: an application the
            # registry knows, in the window's own process.
            mine = {w.proc.pid for w in windows.values()}
            wait_for("the windows' accessibility",
                     lambda: mine <= set(desktop.pids(desktop.applications() - before)), timeout=15)
            time.sleep(settle)
            start = {name: cpu_seconds(w.proc.pid) for name, w in windows.items()}
            if progress:   # each window's share minute by minute, to see a trend
                last, left = dict(start), seconds
                while left > 0:
                    time.sleep(min(60, left))
                    now = {name: cpu_seconds(w.proc.pid) for name, w in windows.items()}
                    log("  %4d s: " % (seconds - left + min(60, left)) + ", ".join(
                        "%s %.2f" % (name, (now[name] - last[name]) / min(60, left) * 100) for name in now))
                    last, left = now, left - 60
            else:
                time.sleep(seconds)
            for name, w in windows.items():
                cpu = (cpu_seconds(w.proc.pid) - start[name]) / seconds * 100
                figures.setdefault(name, []).append(cpu)
                log("turn %d: %-10s %.3f %% of a core" % (turn + 1, name, cpu))
            # The probe really ran: every second answered, in both pairs.
            for kind in ("UDP", "TCP"):
                answers = windows[kind + " client"].log_lines(b"++ AutoPing Response ++")
                if answers < settle + seconds - 2:
                    raise SystemExit("desktop: the %s client got %d answers in %d s"
                                     % (kind, answers, settle + seconds))
            for w in windows.values():
                w.quit()
    finally:
        for w in windows.values():
            if w.proc.poll() is None:
                w.proc.kill()
                w.proc.wait()
        desktop.close()
        if not os.environ.get("SELMARIN_DESKTOP_KEEP"):
            shutil.rmtree(work, ignore_errors=True)
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--turns", type=int, default=1)
    parser.add_argument("--settle", type=int, default=20)
    parser.add_argument("--progress", action="store_true", help="print every minute's figures")
    args = parser.parse_args()
    figures = measure(args.build, args.seconds, args.turns, args.settle, progress=args.progress)
    for name, values in figures.items():
        print("%-10s median %.3f %% of a core (%s)" % (name, statistics.median(values),
                                                      ", ".join("%.3f" % v for v in values)))


if __name__ == "__main__":
    sys.exit(main())
