// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The hops toward a host, found as traceroute finds them, with the
// protocol and port under test: one packet for each hop limit from 1 to
// maxHops, each from a socket of its own; the router where
// a packet's limit ran out answers "time exceeded" (read from the socket's
// error reports), and the host answers as it answers a connection.  They go
// out in waves of `wave` hop limits sent at once, so that a sweep of a
// wave's length takes one wait; the sweep ends at the first hop that gave a
// final answer (the host, or a router that rejected the packet).  Routers
// answer few ICMP messages a second to one sender (six at once, then one a
// second, on Linux): a path that is answered at its end is swept in short
// waves, so that the limits beyond it do not use up the answers of the hops
// before it; a silent path all at once.  A path that a router rejected is
// swept one hop limit at a time and ends at that router's "time exceeded":
// the hop is known, and the router is asked for two messages a run, so that
// runs back to back stay within its allowance.

#include "pathverdict.h"

#include <QHostAddress>

#include <atomic>

struct Sweep
{
    QList<Hop> hops; // 1 .. the host, or up to one past the last hop that answered
    int lastHop = 0; // the last hop that answered (0: none)
    int error = 0;   // the system would not send them (EPERM ...)
};

struct SweepPlan
{
    int wave = 0;      // hop limits sent at once (0: all)
    QString endAt;     // the sweep ends at this router's "time exceeded"
    QHostAddress from; // the local address to leave from (null: the system's)
};

// Waits at most waitMs a wave for the answers (less when a final answer
// came and the hops before it answered, or stayed silent for twice its
// round trip and GraceMs more); stop ends the wait early.
Sweep SweepHops(bool tcp, const QHostAddress &to, quint16 port, int maxHops, int waitMs,
                const std::atomic<bool> &stop, const SweepPlan &plan = {});
inline constexpr int GraceMs = 200;
