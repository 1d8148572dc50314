// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "socketerrors.h"

#include "base/failure.h"

#include <cerrno>

namespace {

// What a failure number tells of the path to the peer, as the system's
// error that means the same (the diagnosis classes by it): 0 silence, None
// nothing (a local, name or TLS failure).  A reset tells it of a datagram
// only: there it is the host's port unreachable, on a stream the end of a
// connection that was made.
constexpr int None = -1;
constexpr int DatagramRefused = -2;

struct Row
{
    int number;
    const char *reason;   // the short word (FailureReason)
    int pathError;        // what it tells of the path (see above)
    const char *sentence; // the text; nullptr: the credentials' own
};

constexpr Row Rows[] = {
    {sck::InvalidPropertyValue, "failed", None, "Invalid property value"},
    {sck::BadState, "failed", None,
     "Wrong protocol or connection state for the requested transaction or request"},
    {sck::InvalidArgument, "failed", None,
     "The argument passed to a function was not in the correct format or in the specified "
     "range."},
    {sck::InvalidOperation, "failed", None, "Invalid operation at current state"},
    {sck::TlsHandshakeFailed, "tls_handshake", None,
     "The TLS handshake failed: no secure connection was made."},
    {sck::TlsCertificateRefused, "tls_certificate", None,
     "The peer's certificate did not verify: the connection is closed."},
    {sck::TlsTimedOut, "tls_timeout", None, "The TLS handshake did not finish in time."},
    {sck::TlsFailed, "tls", None, "A TLS failure ended the secure connection."},
    {sck::TlsCredentials, "tls", None, nullptr},
    {sck::AccessDenied, "not_permitted", EACCES, "Permission denied."},
    {sck::TooManyOpenFiles, "no_descriptor", None,
     "Too many open files: no descriptor is left for a socket (the limit of open files)."},
    {sck::MessageTooBig, "failed", None,
     "The datagram is too large to fit into the buffer and is truncated."},
    {sck::AddressFamilyNotSupported, "address", None,
     "An address incompatible with the requested protocol was used: the local and the remote "
     "address must both be IPv4 or both IPv6."},
    {sck::AddressInUse, "address", None, "Address in use"},
    {sck::AddressNotAvailable, "address", None, "Address not available from the local machine."},
    {sck::NetworkUnreachable, "network_unreachable", ENETUNREACH,
     "The network cannot be reached from this host at this time."},
    {sck::HostUnreachable, "host_unreachable", EHOSTUNREACH, "No route to host."},
    {sck::ConnectionAborted, "reset", None,
     "Connection is aborted due to timeout or other failure."},
    {sck::ConnectionReset, "reset", DatagramRefused, "The connection is reset by remote side."},
    {sck::TimedOut, "timeout", 0,
     "Attempt to connect timed out without establishing a connection."},
    {sck::ConnectionRefused, "refused", ECONNREFUSED, "Connection is forcefully rejected."},
    {sck::HostNotFound, "name_not_found", None, "Authoritative answer: Host not found."},
    {sck::HostNotFoundTryAgain, "name_not_found", None,
     "Non-Authoritative answer: Host not found."},
    {sck::NoData, "name_not_found", None, "Valid name, no data record of requested type."},
};

const Row *rowOf(int number)
{
    for (const Row &row : Rows)
        if (row.number == number)
            return &row;
    return nullptr;
}

} // namespace

QString SocketErrorText(int number)
{
    const Row *row = rowOf(number);
    if (!row)
        return QString();
    return row->sentence ? QString::fromUtf8(row->sentence) : TlsCredentialsText();
}

QString FailureReason(int number)
{
    const Row *row = rowOf(number);
    return QString::fromUtf8(row ? row->reason : "failed");
}

int PathError(const NetFailure &failure)
{
    const Row *row = rowOf(failure.number);
    if (!row)
        return None;
    if (row->pathError == DatagramRefused)
        return failure.what == NetFailure::Step::Datagram ? ECONNREFUSED : None;
    return row->pathError;
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
