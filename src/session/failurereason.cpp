// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failurereason.h"

#include "diagnose/icmpwords.h"
#include "socket/socketerrors.h"

#include <QNetworkInterface>

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

namespace {

// A message from someone else than this machine about the path.
bool fromTheNetwork(const std::optional<IcmpReport> &icmp, const QString &target)
{
    return icmp && !icmp->from.isEmpty()
           && !(icmp->from == target && IcmpPortUnreachable(icmp->ipv6, icmp->type, icmp->code))
           && !IcmpTimeExceeded(icmp->ipv6, icmp->type);
}

// This machine's own message: it found no neighbour on its link.
bool fromHere(const std::optional<IcmpReport> &icmp)
{
    const QHostAddress from(icmp->from);
    return QNetworkInterface::allAddresses().contains(from);
}

} // namespace

QString FailureReason(int code, const std::optional<IcmpReport> &icmp, const QString &target)
{
    if (fromTheNetwork(icmp, target) && !fromHere(icmp))
        return QStringLiteral("rejected");
    return FailureReason(code);
}

QString FailureClass(const std::optional<IcmpReport> &icmp, const QString &target)
{
    if (fromTheNetwork(icmp, target) && !fromHere(icmp))
        return QStringLiteral("%1: %2 said ICMP%3 %4 (type %5, code %6)")
            .arg(icmp->from == target ? QStringLiteral("rejected by the host")
                                      : QStringLiteral("rejected on the way"),
                 icmp->from == target ? QStringLiteral("the host")
                                      : QStringLiteral("the router ") + icmp->from,
                 icmp->ipv6 ? QStringLiteral("v6") : QString(),
                 IcmpWords(icmp->ipv6, icmp->type, icmp->code))
            .arg(icmp->type)
            .arg(icmp->code);
    return {};
}
