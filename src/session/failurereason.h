// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Why a path could not be probed, as a short word: the figures count failed
// attempts by it, and a metrics scraper gets it as a label.

#include "sessionevents.h"

#include <QString>

// The reason of a socket failure number in full (10061, 40031 ...):
// "refused", "timeout", "host_unreachable", "network_unreachable",
// "not_permitted", "name_not_found", "reset", "address", "tls_handshake",
// "tls_certificate", "tls_timeout", "tls", or "failed" for the rest.
QString FailureReason(int code);
// The reason of a peer that ended the connection in order.
inline const QString ClosedByPeer = QStringLiteral("closed");

class Winsock;

// What the network said about the socket's last failed connect
// (Winsock::LastIcmp), as the session tells it.
IcmpSeen IcmpOf(const Winsock &socket);

// A failure's reason with what the network said about it: "rejected" when a
// router (or the host's own firewall) answered with an ICMP message, and the
// rejection in words with its evidence ("rejected on the way: the router
// 10.0.1.1 said ICMP destination unreachable, communication administratively
// prohibited (type 3, code 13)"); otherwise FailureReason(code) and no words.
struct FailureTold
{
    QString reason;
    QString rejection;
};
FailureTold TellFailure(int code, const IcmpSeen &icmp, const QString &target);
