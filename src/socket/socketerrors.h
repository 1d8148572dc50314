// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The socket's failure numbers and their texts.
//
// The same numbers serve both ways a failure reaches the program: raised as a
// RuntimeError in the caller of an operation that fails at once, or carried
// by the Error event for failures in the background.  The event's Number is
// the 16-bit form of the number (40006 arrives as -25530) and its Scode is
// 0x800A0000 | number, whose low 16 bits equal Number.  One table holds
// what each number means: its text, its reason word and what it tells of
// the path.

#include "base/netfailure.h"
#include "tls/credentials.h"

#include <QString>
#include <QtGlobal>

namespace sck {
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int BadState = 40006;
inline constexpr int InvalidArgument = 40014;
inline constexpr int InvalidOperation = 40020;
inline constexpr int TlsHandshakeFailed = 40030;
inline constexpr int TlsCertificateRefused = 40031;
inline constexpr int TlsTimedOut = 40032;
inline constexpr int TlsFailed = 40033;
inline constexpr int TlsCredentials = TlsCredentialsError;
inline constexpr int AccessDenied = 10013;
inline constexpr int TooManyOpenFiles = 10024;
inline constexpr int MessageTooBig = 10040;
inline constexpr int AddressFamilyNotSupported = 10047;
inline constexpr int AddressInUse = 10048;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int HostUnreachable = 10065;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int HostNotFound = 11001;
inline constexpr int HostNotFoundTryAgain = 11002;
inline constexpr int NoData = 11004;
} // namespace sck

// The text of a socket failure number; an empty text for unknown numbers.
QString SocketErrorText(int number);

// Why a path could not be probed, as a short word (the figures count failed
// attempts by it, a metrics scraper gets it as a label), by the number:
// "refused", "timeout", "host_unreachable", "network_unreachable",
// "not_permitted", "no_descriptor", "name_not_found", "reset", "address",
// "tls_handshake", "tls_certificate", "tls_timeout", "tls", or "failed"
// for the rest.
QString FailureReason(int number);

// What a failure tells of the path to its peer, as the system's error that
// means the same (ECONNREFUSED for a refusal, and for a datagram's reset,
// the host's port unreachable; EHOSTUNREACH, ENETUNREACH, EACCES); 0 for
// silence until the timeout; -1 when it tells nothing of the path (a name,
// TLS or local failure, or a stream reset once it was connected).
int PathError(const NetFailure &failure);

// The Error event's Number: the low 16 bits of number, signed.
qint16 SocketErrorNumber(int number);

// The Error event's Scode: 0x800A0000 | the low 16 bits of number.
qint32 SocketErrorScode(int number);

// Raises number with its text in the caller.
[[noreturn]] void RaiseSocketError(int number);
