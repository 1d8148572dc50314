// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Why and where a path to HOST PORT fails, found without privileges:
//
//   1. the name look-up: every address, the time it took, and the one
//      tried (IPv4 before IPv6, as every connection of the program goes);
//   2. one attempt (a TCP connect, or a UDP datagram with an AutoPing
//      query), its outcome told by what came back: a connection or an
//      answer (open), a reset or the host's port unreachable (refused), an
//      ICMP unreachable from a router (rejected, with the router and the
//      message), the system's refusal to send (blocked on this machine),
//      no route in this machine's table or no neighbour on its link (no
//      route), or silence until the timeout (filtered);
//   3. the hops (hopsweep.h) when the outcome is not open or when asked:
//      after silence, the last hop that still answers;
//   4. for TLS, once open, the handshake and the certificate.
//
// Diagnose runs these steps one after the other and blocks while it waits
// for the network; Diagnosis (diagnosis.h) runs it on a thread of its own.

#include "pathverdict.h"
#include "tls/tlssetup.h"

#include <QHostAddress>

#include <atomic>
#include <functional>

struct Question
{
    Transport transport = Transport::Tcp;
    QString host;
    quint16 port = 0;
    int timeoutMs = 2000; // the attempt's wait, and each wave's of the sweep
    bool hops = false;    // sweep even when open
    int maxHops = 16;
    QString source; // the local address to leave from (empty: the system's)
    int family = 0; // a name's addresses of this family only (4, 6; 0: either)
    TlsSetup tls;   // whom the handshake trusts, and whether it goes on unverified
};

// The steps as they end, so that a face can write each at once.
enum class Step { LookedUp, Tried, Swept };

// progress is called after each step with what is known so far; stop ends
// the waits early (the verdict is then what was known).
PathVerdict Diagnose(const Question &question,
                     const std::function<void(Step, const PathVerdict &)> &progress,
                     const std::atomic<bool> &stop);

// The class of an attempt that was not answered, from the system's error
// number (0: silence until the timeout) and the ICMP message that came back
// (if any); the verdict's transport and address are set.
void ClassifyFailure(PathVerdict &verdict, int error, const IcmpSeen &icmp);

// The class an ICMP message about an attempt to address gives the failure,
// by who sent it (socket/icmpreport.h): this machine (NoRoute: nobody
// answered on its link), the host saying its port is closed (Refused),
// anyone else (Rejected: a router on the way, or the host's own firewall).
Outcome IcmpOutcome(const IcmpSeen &icmp, const QString &address);

// The TLS handshake on the connection the attempt made (connected: its
// descriptor, which the check takes over; -1: a new connection from
// source): its facts or its failure go into the verdict (tlscheck.cpp).
void CheckTls(PathVerdict &verdict, int connected, const QHostAddress &source,
              const TlsSetup &setup, const std::atomic<bool> &stop);
