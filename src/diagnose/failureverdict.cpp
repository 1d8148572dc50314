// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failureverdict.h"

#include "diagnose.h"
#include "icmpwords.h"
#include "routelookup.h"
#include "socket/localaddress.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"

#include <algorithm>
#include <cerrno>

namespace {

// The system's error behind a failure number; -1: none that tells of the path.
int systemError(Transport transport, int socketError)
{
    switch (socketError) {
    case sck::ConnectionRefused: return ECONNREFUSED;
    case sck::TimedOut: return 0; // silence
    case sck::HostUnreachable: return EHOSTUNREACH;
    case sck::NetworkUnreachable: return ENETUNREACH;
    case sck::AccessDenied: return EACCES;
    // A datagram's "reset" is the port unreachable of the host.
    case sck::ConnectionReset: return transport == Transport::Udp ? ECONNREFUSED : -1;
    default: return -1;
    }
}

} // namespace

std::optional<PathVerdict> FailureVerdict(Transport transport, const QString &host, quint16 port,
                                          int socketError, IcmpSeen icmp)
{
    const int error = systemError(transport, socketError);
    if (error < 0 && !icmp.present)
        return std::nullopt;
    if (icmp.present && icmp.words.isEmpty())
        icmp.words = IcmpWords(icmp.ipv6, icmp.type, icmp.code);
    PathVerdict verdict;
    verdict.transport = transport;
    verdict.host = verdict.address = host;
    // A peer known by name only: the host that says its port is closed is it.
    if (QHostAddress parsed; !ParseAddress(host, &parsed) && icmp.present
                             && IcmpPortUnreachable(icmp.ipv6, icmp.type, icmp.code))
        verdict.address = icmp.from;
    verdict.port = port;
    verdict.timeoutMs = Winsock::DefaultConnectTimeoutMs;
    if (error == EHOSTUNREACH || error == ENETUNREACH) {
        const RouteFound route = LookUpRoute(QHostAddress(verdict.address));
        verdict.interface = route.interface;
        verdict.gateway = route.gateway;
        verdict.routeType = route.type;
    }
    ClassifyFailure(verdict, std::max(error, 0), icmp);
    return verdict;
}
