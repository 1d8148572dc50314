// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// An ICMP or ICMPv6 message about a packet of ours, as the system reported
// it (the socket's error queue, udp/errorqueue.h), and what its type and
// code say, in words as an administrator reads them ("destination
// unreachable, host unreachable") and as the questions the program asks of
// it.
//
// A packet that went more than once (a SYN sent again) may draw a message
// each time: the first one is kept, the answer to the packet that went
// first; the later ones answer the same question again.

#include <QString>

struct IcmpSeen
{
    bool present = false;
    bool ipv6 = false;
    int type = 0;
    int code = 0;
    QString from;     // the router, or the host, that sent it
    QString words;    // "destination unreachable, communication administratively prohibited"
    unsigned mtu = 0; // what a "too big" message says the next link takes
};

QString IcmpWords(bool ipv6, int type, int code);

// Whether the message is "time exceeded" (a hop limit ran out on the way).
bool IcmpTimeExceeded(bool ipv6, int type);
// Whether it is the host's own "port unreachable".
bool IcmpPortUnreachable(bool ipv6, int type, int code);
// Whether it is "host unreachable" (ICMPv6: "address unreachable"), what a
// router says once its look-up of the host on its own link found nobody.
bool IcmpHostUnreachable(bool ipv6, int type, int code);
// Whether it is "fragmentation needed" / "packet too big".
bool IcmpTooBig(bool ipv6, int type, int code);
