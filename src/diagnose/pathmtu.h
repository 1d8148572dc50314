// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The path MTU toward a host, and a black hole: large packets that vanish
// without a "too big" message while small ones pass.
//
// Measured with UDP datagrams to the port under test (each an AutoPing
// query padded with line ends to its size, which a responder answers),
// sent unfragmented
// whatever size the system last learnt for the path (IP_PMTUDISC_PROBE):
// a datagram passes when the host answers it (a datagram back, or its port
// unreachable); a router whose next link is too small says "too big" with
// that link's MTU (read from the socket's error reports, with the router's
// address).  A full-size datagram that is met with silence while a small
// one passes is a black hole, and a search by halves names the largest
// size that passes and the smallest that vanishes.  A host that answers no
// UDP on the port (a firewall that drops it, a service that keeps silent)
// is measured by a TCP write instead, when the port is open: a few
// full-size segments, acknowledged or not.

#include "pathverdict.h"

#include <QHostAddress>

#include <atomic>

// from: the local address to leave from (null: the system's).
void MeasurePathMtu(PathVerdict &verdict, const QHostAddress &to, const QHostAddress &from,
                    const std::atomic<bool> &stop);
