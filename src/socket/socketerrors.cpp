// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "socketerrors.h"

#include "base/failure.h"

QString SocketErrorText(int number)
{
    switch (number) {
    case sck::InvalidPropertyValue: return QStringLiteral("Invalid property value");
    case sck::BadState:
        return QStringLiteral(
            "Wrong protocol or connection state for the requested transaction or request");
    case sck::InvalidArgument:
        return QStringLiteral(
            "The argument passed to a function was not in the correct format or in the "
            "specified range.");
    case sck::InvalidOperation: return QStringLiteral("Invalid operation at current state");
    case sck::TlsHandshakeFailed:
        return QStringLiteral("The TLS handshake failed: no secure connection was made.");
    case sck::TlsCertificateRefused:
        return QStringLiteral("The peer's certificate did not verify: the connection is closed.");
    case sck::TlsTimedOut: return QStringLiteral("The TLS handshake did not finish in time.");
    case sck::TlsFailed: return QStringLiteral("A TLS failure ended the secure connection.");
    case sck::TlsCredentials: return TlsCredentialsText();
    case sck::AccessDenied: return QStringLiteral("Permission denied.");
    case sck::TooManyOpenFiles:
        return QStringLiteral(
            "Too many open files: no descriptor is left for a socket (the limit of open files).");
    case sck::MessageTooBig:
        return QStringLiteral("The datagram is too large to fit into the buffer and is truncated.");
    case sck::AddressFamilyNotSupported:
        return QStringLiteral(
            "An address incompatible with the requested protocol was used: the local "
            "and the remote address must both be IPv4 or both IPv6.");
    case sck::AddressInUse: return QStringLiteral("Address in use");
    case sck::AddressNotAvailable:
        return QStringLiteral("Address not available from the local machine.");
    case sck::NetworkUnreachable:
        return QStringLiteral("The network cannot be reached from this host at this time.");
    case sck::HostUnreachable: return QStringLiteral("No route to host.");
    case sck::ConnectionAborted:
        return QStringLiteral("Connection is aborted due to timeout or other failure.");
    case sck::ConnectionReset: return QStringLiteral("The connection is reset by remote side.");
    case sck::TimedOut:
        return QStringLiteral("Attempt to connect timed out without establishing a connection.");
    case sck::ConnectionRefused: return QStringLiteral("Connection is forcefully rejected.");
    case sck::HostNotFound: return QStringLiteral("Authoritative answer: Host not found.");
    case sck::HostNotFoundTryAgain:
        return QStringLiteral("Non-Authoritative answer: Host not found.");
    case sck::NoData: return QStringLiteral("Valid name, no data record of requested type.");
    default: return QString();
    }
}

qint16 SocketErrorNumber(int number)
{
    return static_cast<qint16>(static_cast<quint16>(number & 0xFFFF));
}

qint32 SocketErrorScode(int number)
{
    return static_cast<qint32>(0x800A0000u | (static_cast<quint32>(number) & 0xFFFFu));
}

void RaiseSocketError(int number)
{
    Raise(number, SocketErrorText(number));
}
