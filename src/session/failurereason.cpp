// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failurereason.h"

#include "diagnose/diagnose.h"
#include "diagnose/icmpwords.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"

QString FailureReason(int code)
{
    switch (code) {
    case sck::ConnectionRefused: return QStringLiteral("refused");
    case sck::TimedOut: return QStringLiteral("timeout");
    case sck::HostUnreachable: return QStringLiteral("host_unreachable");
    case sck::NetworkUnreachable: return QStringLiteral("network_unreachable");
    case sck::AccessDenied: return QStringLiteral("not_permitted");
    case sck::TooManyOpenFiles: return QStringLiteral("no_descriptor");
    case sck::HostNotFound:
    case sck::HostNotFoundTryAgain:
    case sck::NoData: return QStringLiteral("name_not_found");
    case sck::ConnectionReset:
    case sck::ConnectionAborted: return QStringLiteral("reset");
    case sck::AddressNotAvailable:
    case sck::AddressFamilyNotSupported:
    case sck::AddressInUse: return QStringLiteral("address");
    case sck::TlsHandshakeFailed: return QStringLiteral("tls_handshake");
    case sck::TlsCertificateRefused: return QStringLiteral("tls_certificate");
    case sck::TlsTimedOut: return QStringLiteral("tls_timeout");
    case sck::TlsFailed:
    case sck::TlsCredentials: return QStringLiteral("tls");
    default: return QStringLiteral("failed");
    }
}

IcmpSeen IcmpOf(const Winsock &socket)
{
    IcmpSeen seen;
    if (const auto icmp = socket.LastIcmp()) {
        seen.present = true;
        seen.ipv6 = icmp->ipv6;
        seen.type = icmp->type;
        seen.code = icmp->code;
        seen.from = icmp->from;
    }
    return seen;
}

FailureTold TellFailure(int code, const IcmpSeen &icmp, const QString &target)
{
    // A message without a sender, or a time exceeded (a routing loop), says
    // no one rejected the connection: the failure keeps its own reason.
    if (!icmp.present || icmp.from.isEmpty() || IcmpTimeExceeded(icmp.ipv6, icmp.type)
        || IcmpOutcome(icmp, target) != Outcome::Rejected)
        return {FailureReason(code), {}};
    const bool host = icmp.from == target;
    return {QStringLiteral("rejected"),
            QStringLiteral("%1: %2 said ICMP%3 %4 (type %5, code %6)")
                .arg(host ? QStringLiteral("rejected by the host")
                          : QStringLiteral("rejected on the way"),
                     host ? QStringLiteral("the host") : QStringLiteral("the router ") + icmp.from,
                     icmp.ipv6 ? QStringLiteral("v6") : QString(),
                     IcmpWords(icmp.ipv6, icmp.type, icmp.code))
                .arg(icmp.type)
                .arg(icmp.code)};
}
