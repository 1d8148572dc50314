# SPDX-FileCopyrightText: 2026 The Selmarin developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""The other end of the two-way measurement, on scapy's model of its test
packets (an implementation written by others), for tst_stamp:

  stamppeer.py reflect ADDRESS PORT [light]
      a stateful reflector: its own number per session from 0, T2 on
      receipt, T3 at sending, the TTL (hop limit) received; "light": in the
      TWAMP-Light form, every answer numbered 0, no SSID, 41 octets.  Says
      "ready" once bound; ends after 20 s without a packet.
  stamppeer.py send HOST PORT COUNT INTERVAL
      a sender of COUNT packets numbered from 0; then one line of JSON: the
      answers, the loss forward and backward from the reflector's numbers,
      the queries after the last answer, and the TTLs the reflector saw.
  stamppeer.py path up NAME forward|backward LAST
      makes the namespaces NAME-c (the client), NAME-r (a router) and NAME-s
      (the server), 10.78.1.2 -- 10.78.1.1 router 10.78.2.1 -- 10.78.2.2 and
      fd78:N::M alike, with the router's nft rule (its one counter) dropping
      at random a third of the test packets to or from port 862 of that
      direction, all but those of the sender's number LAST; returns once the
      server answers the client over both families.
      With "autoping" for the direction: the rule drops every datagram to
      UDP port 7010 from the client instead.
  stamppeer.py forge SOURCE DESTINATION PORT
      (on the router) AutoPing answers forged with SOURCE as their sender,
      from its port 7010 to PORT: numbered without a token, with a wrong one,
      with a truncated one; prints how many it sent.
  stamppeer.py path down NAME
      removes them.
"""

import json
import socket
import subprocess
import sys
import time

from scapy.contrib.stamp import ErrorEstimate
from scapy.contrib.stamp import STAMPSessionReflectorTestUnauthenticated as Reflected
from scapy.contrib.stamp import STAMPSessionSenderTestUnauthenticated as Sent
from scapy.contrib.stamp import STAMPTestTLV as Tlv
from scapy.layers.inet import UDP

NTP_EPOCH = 2208988800


def now():
    return time.time() + NTP_EPOCH


def family(address):
    return socket.AF_INET6 if ":" in address else socket.AF_INET


def reflect(address, port, light):
    s = socket.socket(family(address), socket.SOCK_DGRAM)
    six = s.family == socket.AF_INET6
    if six:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_RECVHOPLIMIT, 1)
    else:
        s.setsockopt(socket.IPPROTO_IP, getattr(socket, "IP_RECVTTL", 12), 1)
    s.bind((address, port))
    s.settimeout(20)
    print("ready", flush=True)
    numbers = {}
    while True:
        try:
            data, control, _, sender = s.recvmsg(2048, 64)
        except socket.timeout:
            return
        t2 = now()
        if len(data) < 14:
            continue
        query = Sent(data)
        ttl = int.from_bytes(control[0][2], sys.byteorder) if control else 0
        session = (sender[0], sender[1], 0 if light else query.ssid)
        seq = 0 if light else numbers.get(session, 0)
        numbers[session] = seq + 1
        answer = Reflected(
            seq=seq, ts=now(), err_estimate=ErrorEstimate(S=1, scale=0, multiplier=1),
            ssid=0 if light else query.ssid, ts_rx=t2, seq_sender=query.seq,
            ts_sender=query.ts, err_estimate_sender=query.err_estimate, ttl_sender=ttl)
        s.sendto(bytes(answer)[:41] if light else bytes(answer), sender)


def send(host, port, count, interval):
    s = socket.socket(family(host), socket.SOCK_DGRAM)
    s.connect((host, port))
    s.setblocking(False)
    answers, ttls = {}, set()
    deadline = 0

    def read():
        while True:
            try:
                data = s.recv(2048)
            except BlockingIOError:
                return
            answer = Reflected(data)
            answers.setdefault(answer.seq_sender, answer.seq)
            ttls.add(answer.ttl_sender)

    for seq in range(count + 1):
        # A second to spare after the last one.
        deadline = time.time() + (interval if seq < count else 1)
        if seq < count:
            s.send(bytes(Sent(seq=seq, ts=now(), err_estimate=ErrorEstimate(S=1), ssid=7)))
        while time.time() < deadline:
            read()
            time.sleep(0.005)
    forward = backward = 0
    sender = reflector = -1
    for seq in sorted(answers):
        unanswered = seq - sender - 1
        counted = min(max(answers[seq] - reflector - 1, 0), unanswered)
        backward += counted
        forward += unanswered - counted
        sender, reflector = seq, max(reflector, answers[seq])
    print(json.dumps({"answers": len(answers), "forward": forward, "backward": backward,
                      "after": count - sender - 1, "ttls": sorted(ttls)}), flush=True)


def probe(host, port):
    six = ":" in host

    def sock():
        s = socket.socket(family(host), socket.SOCK_DGRAM)
        level = socket.IPPROTO_IPV6 if six else socket.IPPROTO_IP
        s.setsockopt(level, socket.IPV6_UNICAST_HOPS if six else socket.IP_TTL, 77)
        s.setsockopt(level, socket.IPV6_TCLASS if six else socket.IP_TOS, 46 << 2)
        s.setsockopt(level, socket.IPV6_RECVTCLASS if six else socket.IP_RECVTOS, 1)
        s.settimeout(1)
        return s

    a, b = sock(), sock()
    tlvs = [Tlv(type=1, len=4, value=b"pad!"), Tlv(type=3, len=4, value=bytes(4)),
            Tlv(type=4, len=4, value=bytes([10 << 2, 0, 0, 0])), Tlv(type=200, len=2, value=b"xy")]
    for s, seq, ssid, cut, tlv in [(a, 5, 9, 0, tlvs), (a, 6, 9, 0, []), (a, 7, 10, 0, []),
                                   (b, 100, 9, 0, []), (a, 8, 9, 14, []), (a, 9, 9, 13, [])]:
        data = bytes(Sent(seq=seq, ts=now(), ssid=ssid, tlv_objects=tlv))
        data = data[:cut] if cut else data
        s.sendto(data, (host, port))
        try:
            r, control, _, src = s.recvmsg(70000, 64)
        except socket.timeout:
            print(json.dumps({"sent": seq}), flush=True)
            continue
        x = Reflected(r, _parent=UDP(len=8 + len(r)))
        tos = [c[2][-1] if not six else int.from_bytes(c[2], sys.byteorder) for c in control]
        print(json.dumps({
            "sent": seq, "src": src[0], "len": len(r), "seq": x.seq, "seq_sender": x.seq_sender,
            "ssid": x.ssid, "ttl": x.ttl_sender, "dscp": tos[0] >> 2 if tos else -1,
            "echo": r[28:38] == data[4:14], "t2": float(x.ts_rx), "t3": float(x.ts), "now": now(),
            "tlvs": " ".join("%02x%02x:%s" % (int(t.flags), t.type, t.value.hex())
                             for t in x.tlv_objects)}), flush=True)


def reach(host):
    """True once host answered a datagram to its port 9 (with a refusal)."""
    s = socket.socket(family(host), socket.SOCK_DGRAM)
    s.settimeout(1)
    s.connect((host, 9))
    s.send(b"?")
    try:
        s.recv(16)
    except ConnectionRefusedError:
        return True
    except socket.timeout:
        return False


def forge(source, destination, port):
    from scapy.layers.inet import IP
    from scapy.layers.inet6 import IPv6
    from scapy.sendrecv import send
    layer = IPv6 if ":" in source else IP
    sent = 0
    for seq in range(1, 5):
        for token in ("", " ~0123456789abcdef", " ~0123"):
            text = "++ AutoPing Response ++ #%d%s" % (seq, token)
            send(layer(src=source, dst=destination) / UDP(sport=7010, dport=port) / text.encode(),
                 verbose=False)
            sent += 1
    print(sent)


def run(*command):
    subprocess.run(command, check=True, timeout=10)


def path_up(name, direction, last):
    client, router, server = name + "-c", name + "-r", name + "-s"
    for ns in (client, router, server):
        run("ip", "netns", "add", ns)
        run("ip", "-n", ns, "link", "set", "lo", "up")
    for end, net in ((client, 1), (server, 2)):
        far = "v%d" % net
        run("ip", "-n", end, "link", "add", "v0", "type", "veth", "peer", "name", far,
            "netns", router)
        for ns, device, host in ((end, "v0", 2), (router, far, 1)):
            run("ip", "-n", ns, "addr", "add", "10.78.%d.%d/24" % (net, host), "dev", device)
            run("ip", "-n", ns, "addr", "add", "fd78:%d::%d/64" % (net, host), "dev", device,
                "nodad")
            run("ip", "-n", ns, "link", "set", device, "up")
        run("ip", "-n", end, "route", "add", "default", "via", "10.78.%d.1" % net)
        run("ip", "-n", end, "route", "add", "default", "via", "fd78:%d::1" % net)
    run("ip", "netns", "exec", router, "sysctl", "-qw", "net.ipv4.ip_forward=1",
        "net.ipv6.conf.all.forwarding=1")
    # The sender's number is at offset 0 of its packet, at 24 of the answer.
    match = ('iifname "v2" udp sport 862 @th,256,32' if direction == "backward"
             else 'iifname "v1" udp dport 862 @th,64,32')
    drop = ("%s != %d numgen random mod 3 == 0" % (match, last) if direction != "autoping"
            else 'iifname "v1" udp dport 7010')
    run("ip", "netns", "exec", router, "nft",
        "add table inet s; add chain inet s fw { type filter hook forward priority 0; }; "
        "add rule inet s fw %s counter drop" % drop)
    # No test packet is to meet a link still coming up.
    for host in ("10.78.2.2", "fd78:2::2"):
        for _ in range(10):
            if subprocess.run(["ip", "netns", "exec", client, sys.executable, __file__,
                               "reach", host], timeout=10).returncode == 0:
                break
        else:
            sys.exit("no path to " + host)


if __name__ == "__main__":
    if sys.argv[1] == "probe":
        probe(sys.argv[2], int(sys.argv[3]))
    elif sys.argv[1] == "forge":
        forge(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif sys.argv[1] == "reach":
        sys.exit(0 if reach(sys.argv[2]) else 1)
    elif sys.argv[1:3] == ["path", "up"]:
        path_up(sys.argv[3], sys.argv[4], int(sys.argv[5]))
    elif sys.argv[1:3] == ["path", "down"]:
        for ns in ("-c", "-r", "-s"):
            subprocess.run(["ip", "netns", "del", sys.argv[3] + ns], stderr=subprocess.DEVNULL)
    elif sys.argv[1] == "reflect":
        reflect(sys.argv[2], int(sys.argv[3]), sys.argv[4:] == ["light"])
    else:
        send(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]))
