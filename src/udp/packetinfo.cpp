// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "packetinfo.h"

#include <cstring>

void SetIntOption(int fd, int level, int option, int value)
{
    ::setsockopt(fd, level, option, &value, sizeof value);
}

void EnablePacketInfo(int fd, bool ipv6)
{
    if (ipv6)
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO);
    else
        SetIntOption(fd, IPPROTO_IP, IP_PKTINFO);
}

PacketInfo ReadPacketInfo(const msghdr &message)
{
    PacketInfo info;
    for (const cmsghdr *c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(c))) {
        if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            std::memcpy(&info.v6, CMSG_DATA(c), sizeof info.v6);
            info.ipv6 = info.known = true;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            std::memcpy(&info.v4, CMSG_DATA(c), sizeof info.v4);
            info.ipv6 = false;
            info.known = true;
        }
    }
    return info;
}

std::size_t WritePacketInfo(const PacketInfo &info, char *control)
{
    if (!info.known)
        return 0;
    std::memset(control, 0, PacketInfoSpace);
    auto *c = reinterpret_cast<cmsghdr *>(control);
    if (info.ipv6) {
        c->cmsg_level = IPPROTO_IPV6;
        c->cmsg_type = IPV6_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
        // From the address asked, on the interface it came in on.
        std::memcpy(CMSG_DATA(c), &info.v6, sizeof info.v6);
        return CMSG_SPACE(sizeof(in6_pktinfo));
    }
    in_pktinfo out{};
    out.ipi_ifindex = 0; // the route chooses the interface
    out.ipi_spec_dst = info.v4.ipi_addr;
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof out);
    std::memcpy(CMSG_DATA(c), &out, sizeof out);
    return CMSG_SPACE(sizeof(in_pktinfo));
}

void EnableArrivalStamps(int fd)
{
    SetIntOption(fd, SOL_SOCKET, SO_TIMESTAMPNS);
}

std::int64_t ReadArrivalUs(const msghdr &message, std::int64_t wallAheadUs)
{
    for (const cmsghdr *c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(c))) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return std::int64_t(stamp.tv_sec) * 1'000'000 + stamp.tv_nsec / 1000 - wallAheadUs;
        }
    }
    return -1;
}

std::int64_t WallAheadUs()
{
    timespec wall{}, monotonic{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
    return (std::int64_t(wall.tv_sec) - monotonic.tv_sec) * 1'000'000
           + (wall.tv_nsec - monotonic.tv_nsec) / 1000;
}
