// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "icmpreport.h"

#include "localaddress.h"
#include "systemsocket.h"
#include "udp/errorqueue.h"

IcmpSeen TakeIcmp(int fd)
{
    IcmpSeen icmp;
    TakeErrorQueue(fd, [&icmp](const QueuedError &report) {
        if (!report.icmp || icmp.present)
            return;
        icmp.present = true;
        icmp.ipv6 = report.ipv6;
        icmp.type = report.type;
        icmp.code = report.code;
        icmp.mtu = report.info;
        icmp.words = IcmpWords(report.ipv6, report.type, report.code);
        if (report.hasFrom) {
            quint16 port = 0;
            icmp.from = AddressText(
                FromSockaddr(reinterpret_cast<const sockaddr *>(&report.from), &port));
        }
    });
    return icmp;
}

IcmpSender SaidBy(const IcmpSeen &icmp, const QString &target)
{
    if (IsLocalAddress(icmp.from))
        return IcmpSender::ThisMachine;
    if (icmp.from == target && IcmpPortUnreachable(icmp.ipv6, icmp.type, icmp.code))
        return IcmpSender::ClosedPort;
    return IcmpSender::Rejecting;
}
