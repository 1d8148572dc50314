// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The local address a datagram arrived on, and the same address as the
// source of the answer (IP_PKTINFO, IPV6_PKTINFO).
//
// A socket bound to every address of a host with several would otherwise
// answer from whichever address the system picks for the route back, not
// from the one the client asked; a client (or a firewall) that expects the
// answer from the address it queried then drops it.  An IPv6 socket that
// takes IPv4 as well hears of an IPv4 datagram's address as an IPv4-mapped
// one, and the system takes it back so for the answer.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

struct PacketInfo
{
    bool known = false;
    bool ipv6 = false; // v6 holds it (IPv4-mapped for IPv4 on an IPv6 socket)
    in_pktinfo v4{};
    in6_pktinfo v6{};
    int tos = -1;         // the TOS byte it came with; -1: not told
    bool tosIpv6 = false; // ... told as an IPv6 traffic class
};

// Room for the control message that carries one.
inline constexpr std::size_t PacketInfoSpace
    = CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(int));

// Sets a socket option of an int (1: on); what the system says is not
// looked at, as every caller can go on without it.
void SetIntOption(int fd, int level, int option, int value = 1);
// Room for bytes of datagrams waiting to be read, for a burst while the
// program is not running (another process has the core): beyond the
// system's most (net.core.rmem_max) with the privilege to, else as much as
// it lets.  A socket that hears from many asks for BurstRoom: a sender at
// 100,000 packets a second fills the system's usual room in a few
// milliseconds.
inline constexpr int BurstRoom = 4 * 1024 * 1024;
void SetReceiveRoom(int fd, int bytes = BurstRoom);
// Asks the system to tell every datagram's local address (fd of the IPv6
// family or not).
void EnablePacketInfo(int fd, bool ipv6);
// Asks the system to tell every datagram's TOS byte (both families on an
// IPv6 socket).
void EnableTosInfo(int fd, bool ipv6);

// How a socket's packets leave: with this TOS byte (-1: the system's) and
// by this interface only (empty: as the routes say).
struct PacketPath
{
    int tos = -1;
    std::string device;
};
// Sets both on fd (of the IPv6 family or not; an IPv6 socket's IPv4 packets
// take the TOS too): the system's error number, 0 when both were taken.
int ApplyPacketPath(int fd, bool ipv6, const PacketPath &path);
// Whether a socket of this program may be bound to device: the system's
// error number (EPERM: it needs CAP_NET_RAW here), 0 when it may.
int DeviceRefusal(const std::string &device);
// A message for recvmsg: one buffer, and room bytes at control for the
// control messages.
inline msghdr ReceiveMessage(iovec &part, void *control, std::size_t room)
{
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = room;
    return message;
}

// The local address that the control messages of a received datagram tell.
PacketInfo ReadPacketInfo(const msghdr &message);
// Writes the control message that sends a datagram from that address into
// control (PacketInfoSpace bytes), with its TOS byte when it has one; the
// length written, 0 when neither is known.
std::size_t WritePacketInfo(const PacketInfo &info, char *control);

// How a socket's datagrams are stamped on arrival, best first: the
// system's time stamping (SO_TIMESTAMPING, its software receive stamp), its
// older stamp of the same time (SO_TIMESTAMPNS) where that is refused, or
// none: the program's clock when it reads is all there is.
enum class ArrivalStamps { Timestamping, TimestampNs, None };
// setsockopt, or a stand-in that refuses what a test asks it to.
using SetSocketOption = int (*)(int fd, int level, int option, const void *value, socklen_t length);
// Asks the system to stamp every datagram with the time it arrived: a
// receiver's own wake-up then adds nothing to a datagram's transit time.
// With sendStamps, it also stamps every datagram sent when it leaves and
// queues the stamp on the socket's error queue, numbered from 0 in the
// order of the sends (errorqueue.h, TakeErrorQueue).  What the socket got.
ArrivalStamps EnableArrivalStamps(int fd, bool sendStamps = false,
                                  SetSocketOption set = ::setsockopt);
// Room for a received datagram's control messages: its local address and
// its arrival stamp.
inline constexpr std::size_t ReceiveControlSpace
    = PacketInfoSpace + CMSG_SPACE(3 * sizeof(timespec));
// The arrival stamp that the control messages tell, in nanoseconds on the
// real-time clock; -1 without one.
std::int64_t ReadArrivalNs(const msghdr &message);
// The same in microseconds on the monotonic clock: the system stamps with
// the wall clock, taken over by wallAheadUs (the wall clock less the
// monotonic one, now); -1 without one.
std::int64_t ReadArrivalUs(const msghdr &message, std::int64_t wallAheadUs);
// The wall clock less the monotonic one, in microseconds.
std::int64_t WallAheadUs();
