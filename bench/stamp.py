#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""The two-way measurement's benchmark rows (run as root).

    python3 bench/stamp.py BUILD [--old OLD_SELMARIN] [--rows rate,accuracy] [--paths P,...]

BUILD is a build folder made with -DSELMARIN_BUILD_BENCH=ON (bench/run makes
build-bench).  Each row is the median of three runs.

rate      The reflector's highest rate with no loss, against the plain UDP
          echo loop on the same path (127.0.0.1), each loaded by
          bench/stampload.cpp: the rate steps up by a quarter until answers
          go missing, then is narrowed down between the last rate without
          loss and the first with.  Goals: 0.8 times the echo loop's, and
          100,000 answers a second.
accuracy  Round trips against a capture of the same packets on the path's
          link: two network namespaces joined by a veth pair, the reflector
          and a UDP responder in one, the probe and tcpdump (nanosecond
          stamps) on the other's end of the link, one busy loop per core
          beside them.  Per query: our round trip less the capture's (answer
          less query).  Goals: the median within 20 us, the 99th percentile
          within 100 us.  The same for the TCP and the TLS probe against the
          responder, whose queries and answers are told apart by their
          direction and paired in order (TLS hides the numbers).  With --old,
          the same for another selmarin binary (the one before the system's
          stamps were used), as the row to beat.

Exits 1 when a goal is missed.
"""

import argparse
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ARGS = argparse.ArgumentParser()
ARGS.add_argument("build")
ARGS.add_argument("--old", help="a selmarin binary to compare the accuracy with")
ARGS.add_argument("--rows", default="rate,accuracy")
ARGS.add_argument("--runs", type=int, default=3)
ARGS.add_argument("--paths", default="STAMP,UDP probe,TCP probe,TLS probe",
                  help="the accuracy rows to run")
ARGS.add_argument("--queries", type=int, default=2000, help="per accuracy run")
ARGS.add_argument("--shape", metavar="MBIT", type=int,
                  help="a slow link: the probe's way out limited to MBIT (tbf) and kept full "
                       "by a bulk transfer beside it, so that queries wait in its queue")
ARGS.add_argument("--interval", default="0.01", help="between the probe's queries, s")
ARGS.add_argument("--try-seconds", type=float, default=1.0, help="per rate tried")
OPTS = ARGS.parse_args()

BUILD = os.path.abspath(OPTS.build)
SELMARIN = os.path.join(BUILD, "src", "selmarin")
STAMPLOAD = os.path.join(BUILD, "bench", "selmarin_bench_stampload")
UDPECHO = os.path.join(BUILD, "bench", "selmarin_bench_udpecho")
WORK = tempfile.mkdtemp(prefix="selmarin-stampbench-")
os.makedirs(os.path.join(WORK, "Selmarin"))
ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen", PROGRAMFILES=WORK, COMPUTERNAME="BENCH")
NEAR, FAR = "selm-bench-n%d" % os.getpid(), "selm-bench-f%d" % os.getpid()
NEAR_IP, FAR_IP = "10.231.7.1", "10.231.7.2"
STAMP_PORT, UDP_PORT, TCP_PORT, TLS_PORT = 8620, 8621, 8622, 8623
# Each accuracy row: the responder's words, the probe's and the port.
PATHS = {
    "STAMP": (["--stamp"], ["--stamp"], STAMP_PORT),
    "UDP probe": (["--udp"], ["--udp"], UDP_PORT),
    "TCP probe": (["--tcp"], ["--tcp"], TCP_PORT),
    "TLS probe": (["--tls"], ["--tls", "--insecure"], TLS_PORT),
}
missed = False


def row(name, value, goal, met):
    global missed
    missed = missed or not met
    print("%-58s %-28s %-22s %s" % (name, value, goal, "ok" if met else "MISSED"), flush=True)


def wait_ready(process, word):
    deadline = time.time() + 10
    seen = b""
    while time.time() < deadline and word not in seen:
        seen += os.read(process.stdout.fileno(), 4096)
    if word not in seen:
        raise SystemExit("did not start: %r" % seen)


# --- the reflector's rate ----------------------------------------------------

def lossless(port, rate):
    sent, answered = map(int, subprocess.run(
        [STAMPLOAD, str(port), str(int(rate)), str(OPTS.try_seconds)],
        capture_output=True, text=True, check=True).stdout.split())
    return sent > 0 and answered >= sent


def highest_rate(port):
    good, rate = 0, 20_000.0
    while lossless(port, rate):
        good, rate = rate, rate * 1.25
        if rate > 2_000_000:
            return good
    bad = rate
    for _ in range(4):
        middle = (good + bad) / 2
        if lossless(port, middle):
            good = middle
        else:
            bad = middle
    return good


def rate_rows():
    echo = subprocess.Popen([UDPECHO, str(UDP_PORT)], stdout=subprocess.PIPE)
    reflector = subprocess.Popen(
        [SELMARIN, "respond", "--stamp", "--port", str(STAMP_PORT), "--local", "127.0.0.1"],
        stdout=subprocess.PIPE, env=ENV)
    try:
        wait_ready(echo, b"ready")
        wait_ready(reflector, b"Reflecting")
        echo_rates, ours = [], []
        for _ in range(OPTS.runs):  # in turns: both see the same machine
            echo_rates.append(highest_rate(UDP_PORT))
            ours.append(highest_rate(STAMP_PORT))
        e, r = statistics.median(echo_rates), statistics.median(ours)
        runs = "runs %s / %s" % ([int(x) for x in ours], [int(x) for x in echo_rates])
        row("reflector's rate with no loss / plain echo loop", "%.0f/s / %.0f/s" % (r, e),
            ">= 0.8x", r >= 0.8 * e)
        row("reflector's rate with no loss (" + runs + ")", "%.0f/s" % r, ">= 100000/s",
            r >= 100_000)
    finally:
        echo.kill()
        reflector.kill()


# --- the accuracy of round trips ---------------------------------------------

def ip(*words, check=True):
    subprocess.run(["ip", *words], check=check, capture_output=True)


def make_link():
    for step in (["netns", "add", NEAR], ["netns", "add", FAR],
                 ["-n", NEAR, "link", "add", "veth0", "type", "veth", "peer", "name", "veth0",
                  "netns", FAR],
                 ["-n", NEAR, "addr", "add", NEAR_IP + "/24", "dev", "veth0"],
                 ["-n", FAR, "addr", "add", FAR_IP + "/24", "dev", "veth0"],
                 ["-n", NEAR, "link", "set", "veth0", "up"],
                 ["-n", FAR, "link", "set", "veth0", "up"],
                 ["-n", NEAR, "link", "set", "lo", "up"], ["-n", FAR, "link", "set", "lo", "up"]):
        ip(*step)


def drop_link():
    ip("netns", "del", NEAR, check=False)
    ip("netns", "del", FAR, check=False)


def read_pcap(path):
    """(time in ns, UDP or TCP source port, payload) of each IPv4 packet (Ethernet)."""
    data = open(path, "rb").read()
    magic = struct.unpack("<I", data[:4])[0]
    scale = 1 if magic == 0xA1B23C4D else 1000
    packets, at = [], 24
    while at + 16 <= len(data):
        sec, frac, length, _ = struct.unpack("<IIII", data[at:at + 16])
        frame = data[at + 16:at + 16 + length]
        at += 16 + length
        if len(frame) < 42 or frame[12:14] != b"\x08\x00":
            continue
        ihl = (frame[14] & 15) * 4
        end = 14 + struct.unpack("!H", frame[16:18])[0]  # past the Ethernet padding
        segment = frame[14 + ihl:end]
        header = (segment[12] >> 4) * 4 if frame[23] == 6 else 8
        packets.append((sec * 1_000_000_000 + frac * scale,
                        struct.unpack("!H", segment[:2])[0], segment[header:]))
    return packets


def stream_rtts(packets, port, answered):
    """The same for a stream: each segment with data towards the responder
    paired with the first with data back before the next one; the last
    `answered` pairs are the queries 1..answered (before them: the TLS
    handshake's)."""
    pairs, query = [], None
    for ns, source, payload in packets:
        if not payload:
            continue
        if source != port:
            query = ns
        elif query is not None:
            pairs.append(ns - query)
            query = None
    return {seq + 1: rtt for seq, rtt in enumerate(pairs[-answered:])}


def capture_rtts(packets, stamp):
    """Query number to the capture's answer - query, in ns."""
    sent, rtts = {}, {}
    for ns, source, payload in packets:
        if stamp:
            if source == STAMP_PORT and len(payload) >= 28:
                seq = struct.unpack("!I", payload[24:28])[0] + 1
                if seq in sent:
                    rtts.setdefault(seq, ns - sent[seq])
            elif len(payload) >= 4:
                sent.setdefault(struct.unpack("!I", payload[:4])[0] + 1, ns)
        else:
            found = re.search(rb"#(\d+)", payload)
            if not found:
                continue
            seq = int(found.group(1))
            if source == UDP_PORT and seq in sent:
                rtts.setdefault(seq, ns - sent[seq])
            elif source != UDP_PORT:
                sent.setdefault(seq, ns)
    return rtts


def accuracy_run(selmarin, path):
    """Our round trip less the capture's, in ns, per query answered."""
    pcap = os.path.join(WORK, "link.pcap")
    serving, probing, port = PATHS[path]
    stamp = path == "STAMP"
    server = subprocess.Popen(
        ["ip", "netns", "exec", FAR, selmarin, "respond", *serving, "--port", str(port)],
        stdout=subprocess.PIPE, env=ENV)
    wait_ready(server, b"Reflecting" if stamp else b"Open" if path == "UDP probe" else b"Listening")
    # The adapter's own stamps where it has them (tcpdump warns and takes
    # the system's where not: a veth has none).
    dump = subprocess.Popen(
        ["ip", "netns", "exec", NEAR, "tcpdump", "-i", "veth0", "-n", "--immediate-mode",
         "-j", "adapter_unsynced", "--time-stamp-precision=nano", "-w", pcap,
         "port", str(port)], stderr=subprocess.DEVNULL)
    bulk = []
    if OPTS.shape:
        bulk = [subprocess.Popen(["ip", "netns", "exec", FAR, "iperf3", "-s", "-1", "-p", "5299"],
                                 stdout=subprocess.DEVNULL)]
        time.sleep(0.5)
        bulk.append(subprocess.Popen(["ip", "netns", "exec", NEAR, "iperf3", "-c", FAR_IP, "-p",
                                      "5299", "-t", "600"], stdout=subprocess.DEVNULL))
    time.sleep(1)
    probe = subprocess.run(
        ["ip", "netns", "exec", NEAR, selmarin, "probe", *probing,
         FAR_IP, str(port), "-c", str(OPTS.queries), "-i", OPTS.interval, "-W", "1"],
        capture_output=True, text=True, env=ENV)
    for process in reversed(bulk):
        process.kill()
        process.wait()
    time.sleep(0.5)
    dump.terminate()
    dump.wait()
    server.kill()
    ours = {int(m.group(1)): float(m.group(2)) * 1e6
            for m in re.finditer(r"seq=(\d+) time=([0-9.]+) ms", probe.stdout)}
    packets = read_pcap(pcap)
    theirs = (capture_rtts(packets, stamp) if path in ("STAMP", "UDP probe")
              else stream_rtts(packets, port, max(ours, default=0)))
    if not ours or not theirs:
        raise SystemExit("no round trips: %d of ours, %d captured of %d packets\n%s"
                         % (len(ours), len(theirs), len(packets), probe.stdout[-500:] + probe.stderr[-500:]))
    return [ours[seq] - theirs[seq] for seq in ours if seq in theirs]


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def accuracy_rows():
    drop_link()
    make_link()
    if OPTS.shape:
        ip("-n", NEAR, "link", "set", "veth0", "gso_max_size", "1500")
        subprocess.run(["tc", "-n", NEAR, "qdisc", "replace", "dev", "veth0", "root", "tbf",
                        "rate", "%dmbit" % OPTS.shape, "burst", "3000", "latency", "20ms"],
                       check=True)
    busy = [subprocess.Popen(["sh", "-c", "while :; do :; done"])
            for _ in range(os.cpu_count() or 1)]
    try:
        for name, selmarin in (("", SELMARIN), (" (before)", OPTS.old)):
            if not selmarin:
                continue
            for what in OPTS.paths.split(","):
                medians, tails = [], []
                for _ in range(OPTS.runs):
                    differences = accuracy_run(selmarin, what)
                    medians.append(statistics.median(differences) / 1000)
                    tails.append(percentile(differences, 0.99) / 1000)
                # Early counts as much as late: a stamp taken before the wire
                # saw the packet is as wrong as one taken after.
                met = (abs(statistics.median(medians)) <= 20
                       and abs(statistics.median(tails)) <= 100)
                shaped = ", %d Mbit/s full" % OPTS.shape if OPTS.shape else ""
                row("%s%s%s: round trip - capture's, median / 99th pct" % (what, shaped, name),
                    "%.1f us / %.1f us" % (statistics.median(medians), statistics.median(tails)),
                    "<= 20 us / <= 100 us", met or bool(name))
    finally:
        for loop in busy:
            loop.kill()
        drop_link()


if __name__ == "__main__":
    if os.geteuid() != 0:
        raise SystemExit("run as root: namespaces, tcpdump, forced socket buffers")
    rows = OPTS.rows.split(",")
    if "rate" in rows:
        rate_rows()
    if "accuracy" in rows:
        accuracy_rows()
    sys.exit(1 if missed else 0)
