// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failurereason.h"

#include "socket/icmpreport.h"
#include "socket/socketerrors.h"

FailureTold TellFailure(const NetFailure &failure, const QString &target)
{
    // A message without a sender, or a time exceeded (a routing loop), says
    // no one rejected the connection: the failure keeps its own reason.
    const IcmpSeen &icmp = failure.icmp;
    if (!icmp.present || icmp.from.isEmpty() || IcmpTimeExceeded(icmp.ipv6, icmp.type)
        || SaidBy(icmp, target) != IcmpSender::Rejecting)
        return {FailureReason(failure.number), {}};
    const bool host = icmp.from == target;
    return {QStringLiteral("rejected"),
            QStringLiteral("%1: %2 said ICMP%3 %4 (type %5, code %6)")
                .arg(host ? QStringLiteral("rejected by the host")
                          : QStringLiteral("rejected on the way"),
                     host ? QStringLiteral("the host") : QStringLiteral("the router ") + icmp.from,
                     icmp.ipv6 ? QStringLiteral("v6") : QString(), icmp.words)
                .arg(icmp.type)
                .arg(icmp.code)};
}
