// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "routelookup.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString routeTypeWord(unsigned type)
{
    switch (type) {
    case RTN_UNICAST: return QStringLiteral("unicast");
    case RTN_LOCAL: return QStringLiteral("local");
    case RTN_BROADCAST: return QStringLiteral("broadcast");
    case RTN_MULTICAST: return QStringLiteral("multicast");
    case RTN_BLACKHOLE: return QStringLiteral("blackhole");
    case RTN_UNREACHABLE: return QStringLiteral("unreachable");
    case RTN_PROHIBIT: return QStringLiteral("prohibit");
    case RTN_THROW: return QStringLiteral("throw");
    default: return QStringLiteral("type %1").arg(type);
    }
}

QString addressOf(int family, const void *data)
{
    if (family == AF_INET) {
        quint32 raw;
        std::memcpy(&raw, data, 4);
        return QHostAddress(ntohl(raw)).toString();
    }
    Q_IPV6ADDR raw;
    std::memcpy(&raw, data, 16);
    return QHostAddress(raw).toString();
}

} // namespace

RouteFound LookUpRoute(const QHostAddress &to)
{
    RouteFound found;
    const bool ipv4 = to.protocol() == QAbstractSocket::IPv4Protocol;
    const int family = ipv4 ? AF_INET : AF_INET6;
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return found;
    struct
    {
        nlmsghdr header;
        rtmsg route;
        alignas(NLMSG_ALIGNTO) char attributes[64];
    } request{};
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = quint8(family);
    request.route.rtm_dst_len = ipv4 ? 32 : 128;
    auto *destination = reinterpret_cast<rtattr *>(request.attributes);
    destination->rta_type = RTA_DST;
    destination->rta_len = RTA_LENGTH(ipv4 ? 4 : 16);
    if (ipv4) {
        const quint32 raw = htonl(to.toIPv4Address());
        std::memcpy(RTA_DATA(destination), &raw, 4);
    } else {
        const Q_IPV6ADDR raw = to.toIPv6Address();
        std::memcpy(RTA_DATA(destination), &raw, 16);
    }
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_ALIGN(destination->rta_len);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    alignas(nlmsghdr) char answer[8192];
    pollfd ready{fd, POLLIN, 0};
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel),
                 sizeof kernel)
            < 0
        || ::poll(&ready, 1, 1000) != 1) {
        ::close(fd);
        return found;
    }
    const ssize_t size = ::recv(fd, answer, sizeof answer, 0);
    ::close(fd);
    if (size <= 0)
        return found;
    size_t left = size_t(size);
    for (auto *message = reinterpret_cast<nlmsghdr *>(answer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
        if (message->nlmsg_type == NLMSG_ERROR) {
            // A route that refuses is told by its error.
            const int error = -static_cast<const nlmsgerr *>(NLMSG_DATA(message))->error;
            found.type = error == EHOSTUNREACH ? QStringLiteral("unreachable")
                         : error == EACCES     ? QStringLiteral("prohibit")
                         : error == EINVAL     ? QStringLiteral("blackhole")
                                               : QString();
            return found;
        }
        if (message->nlmsg_type != RTM_NEWROUTE)
            continue;
        const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(message));
        found.type = routeTypeWord(route->rtm_type);
        int room = int(RTM_PAYLOAD(message));
        for (auto *a = RTM_RTA(route); RTA_OK(a, room); a = RTA_NEXT(a, room)) {
            if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(int)) {
                int index = 0;
                std::memcpy(&index, RTA_DATA(a), sizeof index);
                char name[IF_NAMESIZE] = {};
                if (::if_indextoname(unsigned(index), name))
                    found.interface = QString::fromLocal8Bit(name);
            } else if (a->rta_type == RTA_GATEWAY) {
                found.gateway = addressOf(family, RTA_DATA(a));
            }
        }
        return found;
    }
    return found;
}
