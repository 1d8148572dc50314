// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Address helpers of the socket: the machine's primary address, the texts of
// addresses, and the address texts that need no name look-up.

#include "base/hostport.h" // the texts of an address and its port

#include <QHostAddress>
#include <QString>

// The machine's primary address: the first IPv4 address of the first
// interface that is up, running and not a loopback; on a machine without
// one, the first such IPv6 address that is not link-local; "127.0.0.1" when
// there is neither.  With ipv6First the IPv6 address comes before the IPv4
// one.  The interface list costs a netlink round trip, and a responder that
// writes a line per datagram, or a probe of ten thousand targets opening its
// sockets, asks for it thousands of times a second: what it found is kept
// for a second, for every socket of the process.
QString PrimaryAddress(bool ipv6First = false);

// The text of an address: dotted for IPv4 (an IPv4-mapped IPv6 address
// counts as IPv4), the compressed lower-case form for IPv6, with "%zone"
// when it has one ("fe80::1%eth0"); an empty text for a null address.
QString AddressText(const QHostAddress &address);

// True when text is an address that needs no name look-up: a dotted IPv4
// address of four decimal parts, or an IPv6 literal, in brackets or not,
// with an optional "%zone".  An IPv4-mapped literal gives its IPv4 address.
bool ParseAddress(const QString &text, QHostAddress *address);

// Whether address (as AddressText writes it) is one of this machine's own.
bool IsLocalAddress(const QString &address);

// The interface index of a zone ("eth0", or its number); 0 when unknown.
quint32 ZoneIndex(const QString &zone);
