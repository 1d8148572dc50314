// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failureverdict.h"

#include "diagnose.h"
#include "routelookup.h"
#include "socket/localaddress.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"

#include <algorithm>
#include <cerrno>

std::optional<PathVerdict> FailureVerdict(Transport transport, const QString &host, quint16 port,
                                          const NetFailure &failure)
{
    const int error = PathError(failure);
    const IcmpSeen &icmp = failure.icmp;
    if (error < 0 && !icmp.present)
        return std::nullopt;
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
