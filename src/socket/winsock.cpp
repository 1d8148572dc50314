// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock's properties, Close, the state and the helpers the TCP and UDP
// parts share.  The behaviour is described in winsock.h; this is how it is
// built.
//
// Event queue (winsockevents.cpp).  Everything that happens on the network
// arrives as a Qt signal of one of our Qt sockets; the slot updates the state
// (emitting stateTouched at once) and appends an Event to WinsockPrivate::
// queue.  post() schedules one queued invocation of deliverNext(), which takes
// one event, emits it and schedules the next one if more wait.  While an
// event is being emitted (`delivering`) no delivery starts, even from a nested
// event loop inside the handler.  Close() clears the queue and bumps
// `generation`; callbacks that outlive a socket (name look-ups) compare the
// generation they started with and do nothing when it changed.
//
// State machine.  `state` changes only through setState().  Connect: 0 -> 4
// (look-up running) -> 5 -> 6 (connectToHost) -> 7, or 0 -> 6 -> 7 for a
// dotted address; the steps out of 4, 5 and 6 wait on holdTimer so that each
// of those states lasts MinStateHoldMs.  The connect timer turns a long
// state 6 into 10060.  Bind/Listen: 0 -> 1 -> 2; Accept: 0 -> 7; UDP Bind:
// 0 -> 1.  From 7: the peer's orderly close -> 8, any failure -> 9 (fail()
// drops the Qt socket at once, posts the Error event).  Close: any -> 0.
//
// Transport objects.  A TCP client or accepted connection is `tcp`; a
// listening socket is `server`; a bound TCP socket that does not listen yet
// is a plain descriptor (`boundFd`) that Listen hands to QTcpServer; a UDP
// socket is a plain descriptor too (`udpFd`), read by `udpReceiver`'s thread
// and written by sendto() here.  Requests taken from the server wait in
// `requests` until accepted or closed.  A closed connection is retired
// gracefully (its write buffer drains, then FIN), detached from us, for at
// most LingerLimitMs.
// CloseProbe tells an orderly close from a reset, which Qt does not.
//
// Background errors of Qt sockets are mapped onto the socket's numbers by
// MapSocketError below.

#include "winsock.h"

#include "localaddress.h"
#include "socketerrors.h"
#include "textcodec.h"
#include "winsockprivate.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// How long a closed connection may take to hand over the data still waiting
// in its write buffer before it is cut.
constexpr int LingerLimitMs = 30000;

void checkPort(qint32 port)
{
    if (port < 0 || port > 65535)
        RaiseSocketError(sck::InvalidPropertyValue);
}
} // namespace

WinsockPrivate::WinsockPrivate(Winsock *owner) : q(owner)
{
    holdTimer.setSingleShot(true);
    holdTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&holdTimer, &QTimer::timeout, q, [this] {
        auto step = std::move(holdStep);
        holdStep = nullptr;
        if (step)
            step();
    });
    connectTimer.setSingleShot(true);
    QObject::connect(&connectTimer, &QTimer::timeout, q, [this] {
        if (state == Winsock::sckConnecting)
            fail(sck::TimedOut);
    });
    dropReportTimer.setSingleShot(true);
    QObject::connect(&dropReportTimer, &QTimer::timeout, q, [this] { reportDrops(); });
    tailTimer.setSingleShot(true);
    tailTimer.setInterval(Winsock::TailWaitMs);
    QObject::connect(&tailTimer, &QTimer::timeout, q, [this] {
        if (!inbox.isEmpty()) {
            flushTail = true;
            postDataArrival();
        }
    });
}

WinsockPrivate::~WinsockPrivate()
{
    udpReceiver.reset();
    if (udpFd >= 0)
        ::close(udpFd);
    if (boundFd >= 0)
        ::close(boundFd);
}

void WinsockPrivate::setState(qint16 code)
{
    if (state == code)
        return;
    state = code;
    emit q->stateTouched();
}

void WinsockPrivate::fail(int number)
{
    holdTimer.stop();
    holdStep = nullptr;
    connectTimer.stop();
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
    lookupId = -1;
    dropTransport(false);
    setState(Winsock::sckError);
    postError(number);
}

void WinsockPrivate::retire(QTcpSocket *socket, bool graceful)
{
    QObject::disconnect(socket, nullptr, q, nullptr);
    if (graceful && socket->state() == QAbstractSocket::ConnectedState) {
        // Let what waits in the write buffer go out, then the FIN.
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(LingerLimitMs, socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
            return;
        }
    } else {
        socket->abort();
    }
    socket->deleteLater();
}

void WinsockPrivate::dropTransport(bool graceful)
{
    probe.release();
    if (tcp) {
        retire(tcp, graceful);
        tcp = nullptr;
    }
    if (server) {
        QObject::disconnect(server, nullptr, q, nullptr);
        server->close();
        server->deleteLater();
        server = nullptr;
    }
    if (udpFd >= 0) {
        udpReceiver.reset(); // stops and joins the receive thread
        ::close(udpFd);
        udpFd = -1;
    }
    if (boundFd >= 0) {
        ::close(boundFd);
        boundFd = -1;
    }
}

void WinsockPrivate::closeRequests(qint32 except)
{
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->first == except) {
            ++it;
            continue;
        }
        retire(it->second, true);
        it = requests.erase(it);
    }
}

void WinsockPrivate::afterHold(std::chrono::milliseconds delay, std::function<void()> step)
{
    holdStep = std::move(step);
    holdTimer.start(std::max(delay, std::chrono::milliseconds(0)));
}

std::chrono::milliseconds WinsockPrivate::holdLeft() const
{
    return std::chrono::milliseconds(Winsock::MinStateHoldMs - stateClock.elapsed());
}

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
        if (errorString.contains(QLatin1String("unreachable"), Qt::CaseInsensitive))
            return sck::NetworkUnreachable;
        return connecting ? sck::NetworkUnreachable : sck::ConnectionAborted;
    default: return connecting ? sck::NetworkUnreachable : sck::ConnectionAborted;
    }
}

// --- addresses in the system's form ------------------------------------------

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

// A socket bound by hand (SOCK_STREAM, SOCK_DGRAM): every address ("::",
// QHostAddress::Any) is an IPv6 socket that takes IPv4 as well, or an IPv4
// one on a system without IPv6; "0.0.0.0" is every IPv4 address only.
int WinsockPrivate::bindSocket(int type, const QHostAddress &address, qint32 port, bool *ipv6)
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
        RaiseSocketError(sck::AddressNotAvailable);
    const int on = 1, off = 0;
    // A listening port may be taken again at once after its connections
    // closed; datagram ports are not shared.
    if (type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family6 && everyAddress)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_storage local;
    const QHostAddress target = !everyAddress ? address
                                : family6     ? QHostAddress(QHostAddress::AnyIPv6)
                                              : QHostAddress(QHostAddress::AnyIPv4);
    const socklen_t length = ToSockaddr(target, static_cast<quint16>(port), family6, &local);
    if (length == 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&local), length) != 0) {
        const int error = length == 0 ? EADDRNOTAVAIL : errno;
        ::close(fd);
        RaiseSocketError(BindErrorNumber(error));
    }
    socklen_t size = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size);
    quint16 boundPort = 0;
    FromSockaddr(reinterpret_cast<const sockaddr *>(&local), &boundPort);
    localPort = boundPort;
    localAddress = everyAddress || everyIPv4 ? QString() : AddressText(address);
    *ipv6 = family6;
    return fd;
}

// --- Winsock ---------------------------------------------------------------

Winsock::Winsock(QObject *parent) : QObject(parent), d(new WinsockPrivate(this)) {}

Winsock::~Winsock()
{
    // The owner may be half destroyed already: nothing is emitted any more.
    blockSignals(true);
    d->queue.clear();
    d->holdTimer.stop();
    d->connectTimer.stop();
    d->tailTimer.stop();
    if (d->lookupId >= 0)
        QHostInfo::abortHostLookup(d->lookupId);
    if (d->udpLookupId >= 0)
        QHostInfo::abortHostLookup(d->udpLookupId);
    d->dropTransport(false);
    d->closeRequests(0);
    delete d;
}

qint32 Winsock::LocalPort() const
{
    return d->localPort;
}

void Winsock::setLocalPort(qint32 port)
{
    checkPort(port);
    if (d->state != sckClosed)
        RaiseSocketError(sck::InvalidOperation);
    d->localPort = port;
}

qint32 Winsock::RemotePort() const
{
    return d->remotePort;
}

void Winsock::setRemotePort(qint32 port)
{
    checkPort(port);
    d->remotePort = port;
}

QString Winsock::RemoteHost() const
{
    return d->remoteHost;
}

void Winsock::setRemoteHost(const QString &host)
{
    d->remoteHost = host;
    d->sendHost = host;
}

int Winsock::Protocol() const
{
    return d->protocol;
}

void Winsock::setProtocol(int protocol)
{
    if (protocol != sckTCPProtocol && protocol != sckUDPProtocol)
        RaiseSocketError(sck::InvalidPropertyValue);
    if (d->state != sckClosed)
        RaiseSocketError(sck::InvalidOperation);
    d->protocol = protocol;
}

qint16 Winsock::State() const
{
    return d->state;
}

QString Winsock::RemoteHostIP() const
{
    return d->remoteHostIP;
}

QString Winsock::LocalIP() const
{
    // Bound to every address: the machine's address of the family the peer
    // is in.
    if (d->localAddress.isEmpty())
        return PrimaryAddress(d->remoteHostIP.contains(u':'));
    return d->localAddress;
}

int Winsock::connectTimeout() const
{
    return d->connectTimeoutMs;
}

void Winsock::setConnectTimeout(int milliseconds)
{
    d->connectTimeoutMs = std::max(1, milliseconds);
}

void Winsock::setUdpQueueLimit(qint32 datagrams)
{
    d->udpQueueLimit = std::max(1, datagrams);
}

void Winsock::Close()
{
    // Datagrams the program dropped are reported even so.
    if (d->udpReceiver)
        d->droppedUnreported += d->udpReceiver->collect().dropped;
    // Everything still queued belongs to the socket being closed.
    d->queue.clear();
    d->tcpDataQueued = false;
    ++d->generation;
    d->holdTimer.stop();
    d->holdStep = nullptr;
    d->connectTimer.stop();
    d->tailTimer.stop();
    if (d->lookupId >= 0)
        QHostInfo::abortHostLookup(d->lookupId);
    d->lookupId = -1;
    if (d->udpLookupId >= 0)
        QHostInfo::abortHostLookup(d->udpLookupId);
    d->udpLookupId = -1;
    d->dropTransport(true);
    // The request whose handler runs now stays acceptable.
    d->closeRequests(d->requestInDelivery);
    d->inbox.clear();
    d->peerDone = false;
    d->flushTail = false;
    d->currentDatagram.reset();
    d->udpOutbox.clear();
    d->localAddress.clear();
    d->setState(sckClosed);
    if (d->droppedUnreported > 0 && !d->dropReportTimer.isActive())
        d->reportDrops();
}

void Winsock::SendData(const QString &data)
{
    if (d->protocol == sckUDPProtocol && d->state == sckOpen && d->udpFd >= 0) {
        d->sendDatagram(EncodeForSending(data));
        return;
    }
    if (d->protocol != sckTCPProtocol || d->state != sckConnected || !d->tcp)
        RaiseSocketError(sck::BadState);
    const QByteArray bytes = EncodeForSending(data);
    if (!bytes.isEmpty() && d->tcp->write(bytes) != bytes.size())
        RaiseSocketError(MapSocketError(d->tcp->error(), d->tcp->errorString(), false));
}

QString Winsock::GetData()
{
    if (d->protocol == sckUDPProtocol) {
        if (d->state != sckOpen && d->state != sckError)
            RaiseSocketError(sck::BadState);
        if (!d->currentDatagram)
            return QString();
        const QByteArray bytes = *d->currentDatagram;
        d->currentDatagram.reset();
        return DecodeReceived(bytes, true).text;
    }
    if (d->state != sckConnected && d->state != sckClosing && d->state != sckError)
        RaiseSocketError(sck::BadState);
    return d->readStream();
}
