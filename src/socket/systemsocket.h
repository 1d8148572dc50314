// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The system's side of the sockets: addresses in the system's form, sockets
// bound by hand, and the system's and Qt's errors as the socket's failure
// numbers.  Shared by Winsock (connections and UDP) and Listener.

#include <QHostAddress>
#include <QString>

struct sockaddr;
struct sockaddr_storage;

// Maps a Qt socket error onto the socket's failure numbers.  connecting tells
// that the error ended a connection attempt.
int MapSocketError(int socketError, const QString &errorString, bool connecting);

// The failure number of a connect that failed with the system's error.
int ConnectErrorNumber(int error);

// The failure number of an open connection that failed with the system's
// error.
int StreamErrorNumber(int error);

// The failure number of a bind or listen that failed with the system's error.
int BindErrorNumber(int error);

// The failure number of a datagram that the system would not send.
int SendErrorNumber(int error);

// address and port in the system's form for a socket of the IPv6 family or
// not (an IPv4 address goes to an IPv6 socket as ::ffff:a.b.c.d); the length
// of what was written, 0 when the address cannot go to that family.
unsigned ToSockaddr(const QHostAddress &address, quint16 port, bool ipv6, sockaddr_storage *out);

// An address the system gave, with its zone when it has one; an IPv4-mapped
// one as IPv4.  port receives its port.
QHostAddress FromSockaddr(const sockaddr *address, quint16 *port);

// A socket's own end (peer false) or its peer's, as FromSockaddr gives it;
// a null address and port 0 when the system cannot tell.
QHostAddress SocketEnd(int fd, bool peer, quint16 *port);

// The local address a datagram came to, as the system told it (null when
// it did not).
QHostAddress FromPacketInfo(const struct PacketInfo &info);

// The first of addresses that a socket reaching these families can use: an
// IPv4 one before any IPv6 one (a name with both kinds is reached over
// IPv4); a null address when there is none.
QHostAddress PickAddress(const QList<QHostAddress> &addresses, bool ipv4, bool ipv6);

// A socket of type (SOCK_STREAM, SOCK_DGRAM) bound by hand, non-blocking.
// Every address ("::", QHostAddress::Any) is an IPv6 socket that takes IPv4
// as well, or an IPv4 one on a system without IPv6; "0.0.0.0" is every IPv4
// address only.  A stream socket may take its port again at once after its
// connections closed (SO_REUSEADDR); datagram ports are not shared.  Raises
// the socket's failure number when it cannot be made or bound.
struct BoundSocket
{
    int fd = -1;
    quint16 port = 0;        // the port actually bound
    QString address;         // AddressText of the address; empty when bound to every address
    bool ipv6 = false;       // an IPv6 socket
    bool anyAddress = false; // bound to every address of its family (or both)
};
BoundSocket BindSocket(int type, const QHostAddress &address, quint16 port);
