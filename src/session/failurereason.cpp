// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "failurereason.h"

#include "socket/socketerrors.h"

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
