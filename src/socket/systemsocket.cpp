// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "systemsocket.h"

#include "localaddress.h"
#include "socketerrors.h"
#include "udp/packetinfo.h"

#include <QAbstractSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int MapSocketError(int socketError, const QString &errorString, bool connecting)
{
    switch (static_cast<QAbstractSocket::SocketError>(socketError)) {
    case QAbstractSocket::ConnectionRefusedError: return sck::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError: return sck::ConnectionReset;
    case QAbstractSocket::HostNotFoundError: return sck::HostNotFound;
    case QAbstractSocket::SocketAccessError: return sck::AccessDenied;
    case QAbstractSocket::SocketTimeoutError: return sck::TimedOut;
    case QAbstractSocket::DatagramTooLargeError: return sck::MessageTooBig;
    case QAbstractSocket::AddressInUseError: return sck::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError: return sck::AddressNotAvailable;
    case QAbstractSocket::NetworkError:
        // Qt folds several system errors into NetworkError; its (untranslated)
        // text still tells them apart.
        if (errorString.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return sck::TimedOut;
        if (errorString.contains(QLatin1String("host unreachable"), Qt::CaseInsensitive))
            return sck::HostUnreachable;
        if (errorString.contains(QLatin1String("unreachable"), Qt::CaseInsensitive))
            return sck::NetworkUnreachable;
        return connecting ? sck::NetworkUnreachable : sck::ConnectionAborted;
    default: return connecting ? sck::NetworkUnreachable : sck::ConnectionAborted;
    }
}

int StreamErrorNumber(int error)
{
    switch (error) {
    case ECONNRESET:
    case EPIPE: return sck::ConnectionReset;
    case ETIMEDOUT: return sck::TimedOut;
    case EHOSTUNREACH: return sck::HostUnreachable;
    case ENETUNREACH: return sck::NetworkUnreachable;
    default: return sck::ConnectionAborted;
    }
}

namespace {

// The failure numbers of the system's errors, by the call that failed;
// 0: the call's number for any other error (Otherwise).
struct ErrorRow
{
    int error;
    int connect;
    int bind; // or listen
    int send; // a datagram's
};

constexpr ErrorRow ErrorRows[] = {
    {EMFILE, sck::TooManyOpenFiles, sck::TooManyOpenFiles, 0},
    {ENFILE, sck::TooManyOpenFiles, sck::TooManyOpenFiles, 0},
    // A datagram's: the host's port unreachable.
    {ECONNREFUSED, sck::ConnectionRefused, 0, sck::ConnectionReset},
    {ETIMEDOUT, sck::TimedOut, 0, 0},
    {EHOSTUNREACH, sck::HostUnreachable, 0, sck::HostUnreachable},
    {ENETUNREACH, 0, 0, sck::NetworkUnreachable},
    {EACCES, sck::AccessDenied, sck::AccessDenied, sck::AccessDenied},
    {EPERM, sck::AccessDenied, sck::AccessDenied, sck::AccessDenied},
    {EADDRINUSE, sck::AddressInUse, sck::AddressInUse, 0},
    {EADDRNOTAVAIL, sck::AddressNotAvailable, 0, 0},
    {ECONNRESET, sck::ConnectionReset, 0, sck::ConnectionReset},
    {EAFNOSUPPORT, sck::AddressFamilyNotSupported, 0, 0},
    {EMSGSIZE, 0, 0, sck::MessageTooBig},
};
constexpr ErrorRow Otherwise{0, sck::NetworkUnreachable, sck::AddressNotAvailable,
                             sck::ConnectionAborted};

int numberOf(int error, int ErrorRow::*call)
{
    for (const ErrorRow &row : ErrorRows)
        if (row.error == error && row.*call != 0)
            return row.*call;
    return Otherwise.*call;
}

} // namespace

int ConnectErrorNumber(int error)
{
    return numberOf(error, &ErrorRow::connect);
}

int BindErrorNumber(int error)
{
    return numberOf(error, &ErrorRow::bind);
}

int SendErrorNumber(int error)
{
    return numberOf(error, &ErrorRow::send);
}

unsigned ToSockaddr(const QHostAddress &address, quint16 port, bool ipv6, sockaddr_storage *out)
{
    *out = {};
    const bool isIPv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    if (!ipv6) {
        if (!isIPv4)
            return 0;
        auto *in = reinterpret_cast<sockaddr_in *>(out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof *in;
    }
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    if (isIPv4) {
        const quint32 ip4 = htonl(address.toIPv4Address());
        in6->sin6_addr.s6_addr[10] = 0xff;
        in6->sin6_addr.s6_addr[11] = 0xff;
        std::memcpy(in6->sin6_addr.s6_addr + 12, &ip4, sizeof ip4);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(in6->sin6_addr.s6_addr, bytes.c, sizeof bytes.c);
        if (!address.scopeId().isEmpty())
            in6->sin6_scope_id = ZoneIndex(address.scopeId());
    } else {
        return 0;
    }
    return sizeof *in6;
}

QHostAddress FromSockaddr(const sockaddr *address, quint16 *port)
{
    *port = 0;
    if (address->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        *port = ntohs(in->sin_port);
        return QHostAddress(ntohl(in->sin_addr.s_addr));
    }
    if (address->sa_family != AF_INET6)
        return QHostAddress();
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
    *port = ntohs(in6->sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
        quint32 ip4 = 0;
        std::memcpy(&ip4, in6->sin6_addr.s6_addr + 12, sizeof ip4);
        return QHostAddress(ntohl(ip4));
    }
    QHostAddress result(in6->sin6_addr.s6_addr);
    if (in6->sin6_scope_id != 0) {
        char name[IF_NAMESIZE] = {};
        result.setScopeId(if_indextoname(in6->sin6_scope_id, name)
                              ? QString::fromLocal8Bit(name)
                              : QString::number(in6->sin6_scope_id));
    }
    return result;
}

QHostAddress SocketEnd(int fd, bool peer, quint16 *port)
{
    sockaddr_storage address;
    socklen_t size = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    *port = 0;
    if ((peer ? ::getpeername(fd, raw, &size) : ::getsockname(fd, raw, &size)) != 0)
        return QHostAddress();
    return FromSockaddr(raw, port);
}

QHostAddress FromPacketInfo(const PacketInfo &info)
{
    if (!info.known)
        return QHostAddress();
    if (!info.ipv6)
        return QHostAddress(ntohl(info.v4.ipi_addr.s_addr));
    if (IN6_IS_ADDR_V4MAPPED(&info.v6.ipi6_addr)) {
        quint32 ip4 = 0;
        std::memcpy(&ip4, info.v6.ipi6_addr.s6_addr + 12, sizeof ip4);
        return QHostAddress(ntohl(ip4));
    }
    QHostAddress address(info.v6.ipi6_addr.s6_addr);
    if (IN6_IS_ADDR_LINKLOCAL(&info.v6.ipi6_addr) && info.v6.ipi6_ifindex != 0) {
        char name[IF_NAMESIZE] = {};
        if (if_indextoname(info.v6.ipi6_ifindex, name))
            address.setScopeId(QString::fromLocal8Bit(name));
    }
    return address;
}

QHostAddress PickAddress(const QList<QHostAddress> &addresses, bool ipv4, bool ipv6)
{
    for (const bool wantIPv4 : {true, false}) {
        if (!(wantIPv4 ? ipv4 : ipv6))
            continue;
        for (const QHostAddress &address : addresses) {
            const QString text = AddressText(address);
            if (!text.isEmpty() && text.contains(u':') != wantIPv4)
                return QHostAddress(text);
        }
    }
    return QHostAddress();
}

BoundSocket BindSocket(int type, const QHostAddress &address, quint16 port)
{
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    const bool everyAddress
        = address.protocol() == QAbstractSocket::AnyIPProtocol
          || (address.protocol() == QAbstractSocket::IPv6Protocol
              && std::all_of(bytes.c, bytes.c + 16, [](quint8 b) { return b == 0; }));
    const bool everyIPv4
        = address.protocol() == QAbstractSocket::IPv4Protocol && address.toIPv4Address() == 0;
    bool family6 = address.protocol() != QAbstractSocket::IPv4Protocol;
    int fd = ::socket(family6 ? AF_INET6 : AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && everyAddress && errno == EAFNOSUPPORT) {
        family6 = false;
        fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0)
        RaiseSocketError(BindErrorNumber(errno));
    const int on = 1, off = 0;
    if (type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family6 && everyAddress)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_storage local;
    const QHostAddress target = !everyAddress ? address
                                : family6     ? QHostAddress(QHostAddress::AnyIPv6)
                                              : QHostAddress(QHostAddress::AnyIPv4);
    const socklen_t length = ToSockaddr(target, port, family6, &local);
    if (length == 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&local), length) != 0) {
        const int error = length == 0 ? EADDRNOTAVAIL : errno;
        ::close(fd);
        RaiseSocketError(BindErrorNumber(error));
    }
    BoundSocket bound;
    bound.fd = fd;
    SocketEnd(fd, false, &bound.port);
    bound.anyAddress = everyAddress || everyIPv4;
    bound.address = bound.anyAddress ? QString() : AddressText(address);
    bound.ipv6 = family6;
    return bound;
}
