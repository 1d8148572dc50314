// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Why a path could not be probed, as a short word (socket/socketerrors.h:
// FailureReason, by the failure number) and, for a rejection, in words.

#include "base/netfailure.h"

#include <QString>

// The reason of a peer that ended the connection in order.
inline const QString ClosedByPeer = QStringLiteral("closed");

// A failure's reason with what the network said about it: "rejected" when a
// router (or the host's own firewall) answered with an ICMP message, and the
// rejection in words with its evidence ("rejected on the way: the router
// 10.0.1.1 said ICMP destination unreachable, communication administratively
// prohibited (type 3, code 13)"); otherwise the reason of its number and no
// words.
struct FailureTold
{
    QString reason;
    QString rejection;
};
FailureTold TellFailure(const NetFailure &failure, const QString &target);
