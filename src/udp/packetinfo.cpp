// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "packetinfo.h"

#include <cerrno>
#include <linux/net_tstamp.h>

#include <cstring>
#include <unistd.h>

void SetIntOption(int fd, int level, int option, int value)
{
    ::setsockopt(fd, level, option, &value, sizeof value);
}

void SetReceiveRoom(int fd, int bytes)
{
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, bytes);
}

void EnablePacketInfo(int fd, bool ipv6)
{
    if (ipv6)
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO);
    else
        SetIntOption(fd, IPPROTO_IP, IP_PKTINFO);
}

void EnableTosInfo(int fd, bool ipv6)
{
    SetIntOption(fd, IPPROTO_IP, IP_RECVTOS);
    if (ipv6)
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVTCLASS);
}

int ApplyPacketPath(int fd, bool ipv6, const PacketPath &path)
{
    if (!path.device.empty()
        && ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, path.device.c_str(),
                        socklen_t(path.device.size()))
               != 0)
        return errno;
    if (path.tos < 0)
        return 0;
    // An IPv6 socket's IPv4 peers: IP_TOS, refused only where IPv4 is none.
    const int tos = path.tos;
    const int v4 = ::setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0 ? 0 : errno;
    if (!ipv6)
        return v4;
    return ::setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &tos, sizeof tos) == 0 ? 0 : errno;
}

int DeviceRefusal(const std::string &device)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int error = ApplyPacketPath(fd, false, {-1, device});
    ::close(fd);
    return error;
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
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS) {
            info.tos = *reinterpret_cast<const unsigned char *>(CMSG_DATA(c));
            info.tosIpv6 = false;
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_TCLASS) {
            std::memcpy(&info.tos, CMSG_DATA(c), sizeof info.tos);
            info.tosIpv6 = true;
        }
    }
    return info;
}

namespace {

std::size_t writeAddress(const PacketInfo &info, cmsghdr *c)
{
    if (!info.known)
        return 0;
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

} // namespace

std::size_t WritePacketInfo(const PacketInfo &info, char *control)
{
    std::memset(control, 0, PacketInfoSpace);
    std::size_t used = writeAddress(info, reinterpret_cast<cmsghdr *>(control));
    if (info.tos < 0)
        return used;
    // In the family it came in: an IPv4 datagram's answer on an IPv6
    // socket takes IP_TOS, which the system applies to IPv4 alone.
    auto *c = reinterpret_cast<cmsghdr *>(control + used);
    c->cmsg_level = info.tosIpv6 ? IPPROTO_IPV6 : IPPROTO_IP;
    c->cmsg_type = info.tosIpv6 ? IPV6_TCLASS : IP_TOS;
    c->cmsg_len = CMSG_LEN(sizeof info.tos);
    std::memcpy(CMSG_DATA(c), &info.tos, sizeof info.tos);
    return used + CMSG_SPACE(sizeof info.tos);
}

ArrivalStamps EnableArrivalStamps(int fd, bool sendStamps, SetSocketOption set)
{
    unsigned flags = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    if (sendStamps)
        flags
            |= SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_OPT_ID | SOF_TIMESTAMPING_OPT_TSONLY;
    if (set(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0)
        return ArrivalStamps::Timestamping;
    const int on = 1;
    return set(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0 ? ArrivalStamps::TimestampNs
                                                                    : ArrivalStamps::None;
}

namespace {

// The software stamp of an SCM_TIMESTAMPING or SCM_TIMESTAMPNS message, in
// ns; -1 for another message or a stamp of zero (one the system did not take).
std::int64_t stampOf(const cmsghdr *c)
{
    if (c->cmsg_level != SOL_SOCKET
        || (c->cmsg_type != SCM_TIMESTAMPING && c->cmsg_type != SCM_TIMESTAMPNS))
        return -1;
    timespec stamp{}; // the first of SCM_TIMESTAMPING's three is the software one
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    if (stamp.tv_sec == 0 && stamp.tv_nsec == 0)
        return -1;
    return std::int64_t(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
}

} // namespace

std::int64_t ReadArrivalNs(const msghdr &message)
{
    for (const cmsghdr *c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(c)))
        if (const std::int64_t ns = stampOf(c); ns >= 0)
            return ns;
    return -1;
}

std::int64_t ReadArrivalUs(const msghdr &message, std::int64_t wallAheadUs)
{
    const std::int64_t ns = ReadArrivalNs(message);
    return ns < 0 ? -1 : ns / 1000 - wallAheadUs;
}

std::int64_t WallAheadUs()
{
    timespec wall{}, monotonic{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
    return (std::int64_t(wall.tv_sec) - monotonic.tv_sec) * 1'000'000
           + (wall.tv_nsec - monotonic.tv_nsec) / 1000;
}
