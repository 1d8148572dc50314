// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The system's reports of what went wrong with a socket's packets on the
// way (IP_RECVERR, IPV6_RECVERR): an ICMP message from a router or the peer
// ("port unreachable", "host unreachable", "administratively prohibited",
// "time exceeded", "packet too big"), or a local failure, each with the
// error it means and who sent it.  The socket must have asked for them
// (EnableErrorQueue) before the packets went out.
//
// The same queue holds the system's transmit stamps of a socket that asked
// for them (packetinfo.h, EnableArrivalStamps): one reader takes both, so
// that a socket that wants both loses neither kind to the other.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>

struct QueuedError
{
    bool icmp = false; // from the network (an ICMP or ICMPv6 message), not local
    bool ipv6 = false; // ICMPv6
    int type = 0;      // the ICMP type and code
    int code = 0;
    int error = 0;     // the errno it means (ECONNREFUSED ...)
    unsigned info = 0; // the MTU of a "too big" message
    bool hasFrom = false;
    sockaddr_storage from{}; // who sent the message (a router, or the peer)
};

// Asks the system to queue the reports of fd (of the IPv6 family or not).
void EnableErrorQueue(int fd, bool ipv6);
// The system's transmit stamp of the send numbered number (from 0 in the
// order of the sends; 32 bits, so it wraps), at ns on the real-time clock.
using SendStampSeen = std::function<void(std::uint32_t number, std::int64_t ns)>;
// Takes every entry waiting on fd, oldest first: each report to seen, each
// transmit stamp to stamped (dropped when it is empty).  The number of
// entries taken.  Never blocks.
int TakeErrorQueue(int fd, const std::function<void(const QueuedError &)> &seen,
                   const SendStampSeen &stamped = {});
