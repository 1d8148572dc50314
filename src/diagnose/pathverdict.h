// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a diagnosis of one HOST PORT found, as values: the name look-up, the
// outcome's class with its evidence, and the hops toward the host.  The
// faces write it in sentences (verdictlines.h) or as JSON.

#include "base/icmpseen.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class Outcome {
    Open,         // a connection was made (UDP: the host answered)
    Refused,      // the host said no: a reset, or its own ICMP port unreachable
    Rejected,     // a router (or the host's firewall) sent an ICMP unreachable
    Filtered,     // silence: no reset, no ICMP within the timeout
    NoRoute,      // this machine has no way there (its table, or its link)
    Blocked,      // this machine's own firewall did not let the packets out
    NameNotFound, // the name gave no address
};

// The class as one word, for JSON and metrics: "open", "refused",
// "rejected", "filtered", "no_route", "blocked", "name_not_found".
QString OutcomeWord(Outcome outcome);

enum class Transport { Tcp, Udp, Tls };

// What came back to one probe with a limited number of hops.
struct Hop
{
    int ttl = 0;
    QString address; // who answered; empty: no answer
    qint64 rttUs = -1;
    QString said;         // "time exceeded", "connection made", "reset", an ICMP message in words
    bool reached = false; // the host itself answered
    IcmpSeen icmp;        // a message that ended the path (not "time exceeded")
    // The answer came after the SYN went again (the system sends it again
    // a second after it went unanswered): which of them drew it is not
    // known, so rttUs is the time since the first, not the hop's round trip.
    bool sentAgain = false;
};

// The path MTU, in bytes on the wire (IP headers included).
struct PathMtu
{
    bool measured = false;
    QString how;        // "UDP datagrams to port 7000", "a TCP write ..."
    QString why;        // why it was not measured
    int linkMtu = 0;    // what this machine's link (or its learnt path) takes
    int pathMtu = 0;    // the largest that passes to the host (0: unknown)
    QString tooBigFrom; // the router that said "too big"
    bool blackHole = false;
    int passes = 0;   // black hole: the largest size that passes
    int vanishes = 0; // and the smallest that vanishes without a word
};

struct PathVerdict
{
    // The question.
    Transport transport = Transport::Tcp;
    QString host;
    quint16 port = 0;
    int timeoutMs = 0;
    // The name look-up.
    QStringList addresses; // every address found
    qint64 lookupUs = -1;  // -1: an address was given, nothing looked up
    QString address;       // the one tried
    QString why;           // why that one
    QString lookupError;   // the resolver's answer when nothing was found
    // The outcome.
    Outcome outcome = Outcome::Filtered;
    qint64 connectUs = -1; // open: the system's connect time (UDP: the answer's round trip)
    int error = 0;         // the system's error number behind it (errno), 0: none
    IcmpSeen icmp;         // what a router or the host said
    QString interface;     // the interface the route leaves by (or would)
    QString gateway;       // its next hop, when it has one
    QString routeType;     // "unicast", "unreachable", "prohibit", "blackhole" ...
    // TLS, once open.
    bool tlsDone = false;
    QString tlsFacts;         // "TLSv1.3, cipher TLS_AES_256_GCM_SHA384"
    QStringList tlsProblems;  // why the certificate did not verify
    QString tlsFailure;       // why the handshake failed
    bool tlsInsecure = false; // a certificate that does not verify was accepted (--insecure)
    // The path MTU, once the host answered.
    PathMtu mtu;
    // The hops, when swept.
    QList<Hop> hops;
    int lastHop = 0; // the last hop that answered (0: none)
    // A TCP reset: the hop limit that drew it, and the host's hop as a UDP
    // sweep to the same port found it (0: not known exactly).  A reset drawn
    // by a hop limit no larger than one that ran out on the way was sent on
    // the way.
    int resetHop = 0;
    int hostHop = 0;
    int expiredHop = 0; // the highest hop limit that ran out on the way (UDP)
    // What cannot be known here, and why.
    QStringList notes;

    // 0 open (TLS: and verified, or accepted unverified), 1 anything else.
    int exitStatus() const;
};
