#!/usr/bin/env python3
"""Selmarin benchmarks against real peers on loopback.

Started by bench/run with the build folder as its argument.  Runs the bench
driver (the program's own start-up and window, see driver.cpp) in server mode
on 127.0.0.1, lets peers connect to it, and measures each figure side by side
with a reference measured in the same run.  Prints one table; exits 1 when a
target is missed.
"""

import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BUILD = os.path.abspath(sys.argv[1])
DRIVER = os.path.join(BUILD, "bench", "selmarin_bench_driver")
MINIMAL = os.path.join(BUILD, "bench", "selmarin_bench_minimal")
LOGCOST = os.path.join(BUILD, "bench", "selmarin_bench_logcost")

TCP_LINES = 200_000
BIG_LINES = 2_000_000
LINE_BYTES = 64
UDP_COUNT = 20_000
UDP_BYTES = 100
STARTS = 7          # start-ups of each program; the median counts
FLOOD_RUNS = 3      # TCP floods of each kind; the median counts
IDLE_SECONDS = 10
TICK_HZ = os.sysconf("SC_CLK_TCK")

WORK = tempfile.mkdtemp(prefix="selmarin-bench-")
os.makedirs(os.path.join(WORK, "Selmarin"))
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen", PROGRAMFILES=WORK, COMPUTERNAME="BENCH")


# --- helpers -----------------------------------------------------------------

def free_port(kind=socket.SOCK_STREAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK_HZ   # utime + stime


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def udp_drops(port):
    """The kernel's drop counter of the UDP socket bound to 127.0.0.1:port."""
    want = "0100007F:%04X" % port
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            cols = line.split()
            if cols[1] == want:
                return int(cols[-1])
    return 0


def wait_until(predicate, timeout, interval=0.002):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def tcp_lines(first, count):
    """count lines of LINE_BYTES bytes, numbered from first, ending CR LF."""
    filler = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    body = LINE_BYTES - 2 - 9
    return b"".join(b"L%07d " % n + filler[:body] + b"\r\n" for n in range(first, first + count))


def send_tcp(port, chunks):
    s = socket.create_connection(("127.0.0.1", port))
    for chunk in chunks:
        s.sendall(chunk)
    s.shutdown(socket.SHUT_WR)
    s.close()


def send_udp(port, count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    filler = b"x" * (UDP_BYTES - 2 - 9)
    datagrams = [b"U%07d " % n + filler + b"\r\n" for n in range(count)]
    start = time.monotonic()
    for d in datagrams:
        s.sendto(d, ("127.0.0.1", port))
    s.close()
    return start


class LogWatch:
    """Follows the program's log from where it ends now and counts the payload
    bytes in the records of data from 127.0.0.1 (the records' prefixes are not
    counted), and the UDP datagrams among them."""

    RECORD = re.compile(rb"-- [^\t\r\n]{1,40}\t127\.0\.0\.1:\t")

    def __init__(self, path):
        self.file = open(path, "rb")
        self.file.seek(0, os.SEEK_END)
        self.carry = b""
        self.payload = 0
        self.datagrams = 0
        self.kept = []

    OTHER = re.compile(rb"-- [^\t\r\n]{1,40}\t(Winsock|Winsock Error|\*\* Error)[^\r]*\r\n")
    DATAGRAM = re.compile(rb"U\d{7} ")

    def _count(self, text, keep):
        stripped = self.OTHER.sub(b"", self.RECORD.sub(b"", text))
        self.payload += len(stripped)
        self.datagrams += len(self.DATAGRAM.findall(stripped))
        if keep:
            self.kept.append(stripped)

    def poll(self, keep=False):
        # Up to the last line end only: no record prefix contains one, so
        # none is cut in two.
        data = self.carry + self.file.read()
        cut = data.rfind(b"\r\n") + 2
        self._count(data[:cut], keep)
        self.carry = data[cut:]

    def finish(self, keep=False):
        data, self.carry = self.carry + self.file.read(), b""
        self._count(data, keep)


class Driver:
    def __init__(self):
        t0 = time.monotonic_ns()
        self.proc = subprocess.Popen([DRIVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     env=ENV, cwd=WORK)
        first = self.proc.stdout.readline().decode().split()
        if not first or first[0] != "shown":
            raise SystemExit("the program did not start: %r" % first)
        self.startup_ms = (int(first[1]) - t0) / 1e6

    def cmd(self, line):
        self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().decode().strip()

    def stats(self):
        return dict(kv.split("=") for kv in self.cmd("stats").split())

    def quit(self):
        self.cmd("quit")
        self.proc.stdin.close()
        if self.proc.wait(10) != 0:
            raise SystemExit("the program ended with status %d" % self.proc.returncode)


def start_minimal():
    t0 = time.monotonic_ns()
    p = subprocess.Popen([MINIMAL], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=ENV)
    first = p.stdout.readline().decode().split()
    return p, (int(first[1]) - t0) / 1e6


def log_path():
    logs = [f for f in os.listdir(os.path.join(WORK, "Selmarin")) if f.endswith(".log")]
    return os.path.join(WORK, "Selmarin", logs[0])


# --- measurements ------------------------------------------------------------

rows = []
failed = []
wall = [0.0]   # the longest event-loop delay seen at all, waits for the CPU included


def lateness(driver):
    """The longest event-loop delay the program's own work caused since the
    last reset (see driver.cpp)."""
    stats = driver.stats()
    wall[0] = max(wall[0], float(stats["wall_max_ms"]))
    return float(stats["late_max_ms"])


def row(name, value, reference, ratio, target, met):
    rows.append((name, value, reference, ratio, target, "yes" if met else "NO"))
    if not met:
        failed.append(name)


def startup():
    mine, ref = [], []
    for _ in range(STARTS):   # alternate, so both see the same machine load
        d = Driver()
        mine.append(d.startup_ms)
        d.quit()
        p, ms = start_minimal()
        ref.append(ms)
        p.stdin.close()
        p.wait(10)
    m, r = statistics.median(mine), statistics.median(ref)
    row("start-up to window shown (median of %d)" % STARTS, "%.0f ms" % m, "%.0f ms minimal Qt window" % r,
        "%.2fx" % (m / r), "<= 1.3x", m / r <= 1.3)


def socat_tcp_reference(payload):
    port = free_port()
    out = os.path.join(WORK, "socat.out")
    if os.path.exists(out):
        os.remove(out)
    p = subprocess.Popen(["socat", "-u", "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr" % port,
                          "OPEN:%s,creat,trunc" % out])
    wait_until(lambda: port_listening(port), 5)
    start = time.monotonic()
    sender = threading.Thread(target=send_tcp, args=(port, [payload]))
    sender.start()
    wait_until(lambda: os.path.exists(out) and os.path.getsize(out) >= len(payload), 60, 0.001)
    elapsed = time.monotonic() - start
    sender.join()
    p.wait(10)
    return elapsed


def port_listening(port):
    want = ":%04X" % port
    with open("/proc/net/tcp") as f:
        return any(l.split()[1].endswith(want) and l.split()[3] == "0A" for l in f.readlines()[1:])


def tcp_flood(driver, lines, check=False):
    """Sends lines numbered lines to the listening program; the time until its
    log holds all of them, and whether they arrived byte for byte."""
    port = free_port()
    assert driver.cmd("open tcp %d" % port) == "ok"
    watch = LogWatch(log_path())
    total = lines * LINE_BYTES
    # Make the stream first (in pieces for the long one), then time the send.
    step = 200_000
    chunks = [tcp_lines(n, min(step, lines - n)) for n in range(0, lines, step)]
    driver.cmd("reset")
    start = time.monotonic()
    sender = threading.Thread(target=send_tcp, args=(port, chunks))
    sender.start()

    def done():
        watch.poll(keep=check)
        return watch.payload >= total
    ok = wait_until(done, 300, 0.005)
    elapsed = time.monotonic() - start
    sender.join()
    intact = None
    if check:
        intact = b"".join(watch.kept)[:total] == b"".join(chunks)
    wait_until(lambda: driver.stats()["state"] == "0", 10, 0.05)   # the peer's close closed it
    return ok, elapsed, intact


def udp_reference():
    port = free_port(socket.SOCK_DGRAM)
    out = os.path.join(WORK, "socat-udp.out")
    p = subprocess.Popen(["socat", "-u", "UDP-RECV:%d,bind=127.0.0.1" % port, "OPEN:%s,creat,trunc" % out])
    wait_until(lambda: udp_bound(port), 5)
    start = send_udp(port, UDP_COUNT)
    drops = udp_drops(port)
    wait_until(lambda: os.path.getsize(out) >= (UDP_COUNT - udp_drops(port)) * UDP_BYTES, 30, 0.001)
    elapsed = time.monotonic() - start
    drops = udp_drops(port)
    got = os.path.getsize(out) // UDP_BYTES
    p.terminate()
    p.wait(10)
    return got, drops, elapsed


def udp_bound(port):
    want = "0100007F:%04X" % port
    with open("/proc/net/udp") as f:
        return any(l.split()[1] == want for l in f.readlines()[1:])


def udp_burst(driver):
    port = free_port(socket.SOCK_DGRAM)
    assert driver.cmd("open udp %d" % port) == "ok"
    watch = LogWatch(log_path())
    driver.cmd("reset")
    start = send_udp(port, UDP_COUNT)

    def done():
        watch.poll()
        return watch.datagrams >= UDP_COUNT - udp_drops(port)
    wait_until(done, 60, 0.005)
    elapsed = time.monotonic() - start
    drops = udp_drops(port)
    time.sleep(0.2)
    watch.finish()
    late = lateness(driver)
    driver.cmd("close")
    return watch.datagrams, drops, elapsed, late


def idle_cpu(driver, minimal_pid):
    driver.cmd("watch off")
    time.sleep(2)   # the pane shows what still waits from the floods
    a0, b0 = cpu_seconds(driver.proc.pid), cpu_seconds(minimal_pid)
    time.sleep(IDLE_SECONDS)
    a1, b1 = cpu_seconds(driver.proc.pid), cpu_seconds(minimal_pid)
    driver.cmd("watch on")
    return (a1 - a0) / IDLE_SECONDS * 100, (b1 - b0) / IDLE_SECONDS * 100


def main():
    startup()

    driver = Driver()
    minimal, _ = start_minimal()

    # Receive throughput, 200,000 lines: the median of three runs each.
    stream = tcp_lines(0, TCP_LINES)
    refs, runs, late_tcp, all_ok = [], [], 0.0, True
    for run in range(FLOOD_RUNS):
        refs.append(socat_tcp_reference(stream))
        ok, took, intact = tcp_flood(driver, TCP_LINES, check=run == 0)
        all_ok = all_ok and ok and intact is not False
        runs.append(took)
        late_tcp = max(late_tcp, lateness(driver))
        time.sleep(1)   # the pane catches up with what waited
    ref, took = statistics.median(refs), statistics.median(runs)
    row("TCP receive, %d lines of %d bytes (median of %d)" % (TCP_LINES, LINE_BYTES, FLOOD_RUNS), "%.2f s" % took,
        "%.2f s socat to file" % ref, "%.2fx" % (took / ref), "<= 3x, all bytes logged",
        all_ok and took / ref <= 3)
    stats = driver.stats()
    rss_small = int(stats["rss_kb"])
    row("memory after the %d-line floods" % TCP_LINES, "%d MB" % (rss_small // 1024),
        "%d MB minimal Qt window" % (rss_kb(minimal.pid) // 1024), "%.1fx" % (rss_small / rss_kb(minimal.pid)),
        "pane bounded (%s lines), note shown" % stats["pane_blocks"],
        int(stats["pane_blocks"]) <= 20001 and stats["older_note"] == "1")

    # UDP burst.
    ref_got, ref_drops, ref_time = udp_reference()
    got, drops, took, late_udp = udp_burst(driver)
    row("UDP burst, %d datagrams of %d bytes" % (UDP_COUNT, UDP_BYTES),
        "%d logged, %d dropped by kernel, %.2f s" % (got, drops, took),
        "socat: %d, %d dropped, %.2f s" % (ref_got, ref_drops, ref_time),
        "%.2fx time" % (took / ref_time), "logged = sent - kernel drops", got == UDP_COUNT - drops)

    # Two million lines: the pane must stay bounded.
    ok, took_big, _ = tcp_flood(driver, BIG_LINES)
    late_big = lateness(driver)
    time.sleep(1)
    stats = driver.stats()
    rss_big = int(stats["rss_kb"])
    row("memory after %d lines" % BIG_LINES, "%d MB" % (rss_big // 1024), "%d MB after %d lines" % (rss_small // 1024, TCP_LINES),
        "%.2fx" % (rss_big / rss_small), "bounded (<= 1.5x), all logged", ok and rss_big <= 1.5 * rss_small)
    row("TCP receive, %d lines" % BIG_LINES, "%.2f s" % took_big, "%.2f s x 10 (socat, 200,000)" % (ref * 10),
        "%.2fx" % (took_big / (ref * 10)), "(information)", True)

    late = max(late_tcp, late_udp, late_big)
    row("longest event-loop delay during the floods", "%.1f ms" % late,
        "TCP %.1f / UDP %.1f / 2M %.1f ms; %.1f ms with waits for the CPU" % (late_tcp, late_udp, late_big, wall[0]),
        "%.2fx target" % (late / 50), "< 50 ms", late < 50)

    # Idle, socket closed.
    mine, theirs = idle_cpu(driver, minimal.pid)
    row("idle CPU, socket closed, %d s" % IDLE_SECONDS, "%.2f %%" % mine, "%.2f %% minimal Qt window" % theirs,
        "-" if theirs == 0 else "%.1fx" % (mine / theirs), "< 0.2 % of a core", mine < 0.2)

    driver.quit()
    minimal.stdin.close()
    minimal.wait(10)

    # Writing each record at once against buffering.
    out = subprocess.run([LOGCOST, "200000"], env=ENV, capture_output=True, text=True).stdout.split()
    cost = dict(kv.split("=") for kv in out)
    row("log record (200,000 records)", "%s us/record unbuffered" % cost["unbuffered_us"],
        "%s us/record buffered" % cost["buffered_us"],
        "%.1fx" % (float(cost["unbuffered_us"]) / float(cost["buffered_us"])),
        "(information; LogWrite %s us)" % cost["runlog_us"], True)

    headers = ("figure", "Selmarin", "reference, same run", "ratio", "target", "met")
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(len(headers))]
    line = lambda r: " | ".join(str(c).ljust(w) for c, w in zip(r, widths))
    print(line(headers))
    print("-+-".join("-" * w for w in widths))
    for r in rows:
        print(line(r))
    if failed:
        print("\nMissed: " + "; ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    finally:
        subprocess.run(["rm", "-rf", WORK])
