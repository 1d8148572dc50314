// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorqueue.h"

#include "packetinfo.h"

#include <cstring>

#include <linux/errqueue.h>

void EnableErrorQueue(int fd, bool ipv6)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (ipv6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
}

int TakeErrorQueue(int fd, const std::function<void(const QueuedError &)> &seen,
                   const SendStampSeen &stamped)
{
    // Room for the extended error and the offender's address behind it.
    alignas(cmsghdr) char control[512];
    char data[64];
    int taken = 0;
    for (;;) {
        iovec piece{data, sizeof data};
        msghdr message = ReceiveMessage(piece, control, sizeof control);
        if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            break;
        ++taken;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (!((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR)
                  || (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)))
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            // A transmit stamp: its time is the message's stamp, its
            // number the report's data.
            if (error.ee_origin == SO_EE_ORIGIN_TIMESTAMPING) {
                if (const std::int64_t ns = ReadArrivalNs(message); ns >= 0 && stamped)
                    stamped(error.ee_data, ns);
                continue;
            }
            QueuedError report;
            report.icmp
                = error.ee_origin == SO_EE_ORIGIN_ICMP || error.ee_origin == SO_EE_ORIGIN_ICMP6;
            report.ipv6 = error.ee_origin == SO_EE_ORIGIN_ICMP6;
            report.type = error.ee_type;
            report.code = error.ee_code;
            report.error = int(error.ee_errno);
            report.info = error.ee_info;
            // The offender's address follows the structure in the message.
            const auto *offender
                = reinterpret_cast<const sockaddr *>(CMSG_DATA(c) + sizeof(sock_extended_err));
            const size_t room = c->cmsg_len - CMSG_LEN(sizeof(sock_extended_err));
            if (offender->sa_family == AF_INET && room >= sizeof(sockaddr_in)) {
                std::memcpy(&report.from, offender, sizeof(sockaddr_in));
                report.hasFrom = true;
            } else if (offender->sa_family == AF_INET6 && room >= sizeof(sockaddr_in6)) {
                std::memcpy(&report.from, offender, sizeof(sockaddr_in6));
                report.hasFrom = true;
            }
            seen(report);
        }
    }
    return taken;
}
