// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock over TCP: connecting (with the name look-up and its visible
// states), taking over an accepted connection, and the stream's life.

#include "base/clock.h"
#include "icmpreport.h"
#include "localaddress.h"
#include "lookup.h"
#include "socketerrors.h"
#include "udp/errorqueue.h"
#include "winsockprivate.h"

#include <QSslSocket>

#include <cerrno>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

// --- connecting --------------------------------------------------------------

void Winsock::Connect()
{
    if (d->protocol == sckUDPProtocol || d->state != SocketState::Closed)
        RaiseSocketError(sck::InvalidOperation);
    const QString host = d->remoteHost.trimmed();
    if (host.isEmpty() || d->remotePort == 0)
        RaiseSocketError(sck::InvalidArgument);

    // A local port or address is bound now, in the family of the address;
    // a name may give either, so its socket takes both.
    QHostAddress address;
    const bool literal = ParseAddress(host, &address);
    if (d->localPort != 0 || !d->localHost.isEmpty()) {
        QHostAddress from = !literal ? QHostAddress(QHostAddress::Any)
                            : address.protocol() == QAbstractSocket::IPv4Protocol
                                ? QHostAddress(QHostAddress::AnyIPv4)
                                : QHostAddress(QHostAddress::AnyIPv6);
        if (!d->localHost.isEmpty() && !ParseAddress(d->localHost, &from))
            RaiseSocketError(sck::AddressNotAvailable);
        d->connectFd = BindSocket(SOCK_STREAM, from, quint16(d->localPort)).fd;
    }
    if (literal) {
        d->beginConnecting(address);
        return;
    }
    d->remoteHostIP.clear();
    d->stateClock.start();
    d->setState(SocketState::ResolvingHost);
    const quint64 generation = d->generation;
    d->lookupId = LookUpHost(
        host, this, [this, generation](const LookedUp &found) { d->onLookedUp(generation, found); },
        d->family != 6, d->family != 4);
}

void WinsockPrivate::onLookedUp(quint64 lookupGeneration, const LookedUp &lookedUp)
{
    if (lookupGeneration != generation || state != SocketState::ResolvingHost)
        return;
    lookupId = -1;
    const QHostAddress found = lookedUp.address;
    const int number = lookedUp.error;
    // State 4 lasts its minimum even when the answer came at once.
    afterHold(holdLeft(), [this, found, number] {
        if (number) {
            fail(NetFailure::Step::Lookup, number);
            return;
        }
        remoteHostIP = AddressText(found);
        stateClock.start();
        setState(SocketState::HostResolved);
        afterHold(holdLeft(), [this, found] { beginConnecting(found); });
    });
}

void WinsockPrivate::beginConnecting(const QHostAddress &address)
{
    remoteHostIP = AddressText(address);
    stateClock.start();
    setState(SocketState::Connecting);
    // State 6 has its minimum too: on the loopback a connection is made (or
    // refused) within a millisecond, which the watch would never see.
    afterHold(holdLeft(), [this, address] { startConnect(address); });
}

// The connection is made here rather than by Qt, so that its time is the
// system's alone and a refusal's cause (the system's error, an ICMP
// message and who sent it) is known; Qt takes the connected descriptor.
void WinsockPrivate::startConnect(const QHostAddress &address)
{
    connectTimer.start(connectTimeoutMs);
    const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    bool family6 = !ipv4;
    if (connectFd >= 0) {
        sockaddr_storage bound;
        socklen_t size = sizeof bound;
        ::getsockname(connectFd, reinterpret_cast<sockaddr *>(&bound), &size);
        family6 = bound.ss_family == AF_INET6;
    } else {
        connectFd
            = ::socket(ipv4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (connectFd < 0) {
            onConnectDone(MonotonicUs(), errno);
            return;
        }
    }
    const int on = 1;
    ::setsockopt(connectFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    EnableErrorQueue(connectFd, family6);
    if (const int error = ApplyPacketPath(connectFd, family6, packetPath)) {
        onConnectDone(MonotonicUs(), error);
        return;
    }
    sockaddr_storage target;
    const socklen_t length = ToSockaddr(address, quint16(remotePort), family6, &target);
    if (length == 0) {
        onConnectDone(MonotonicUs(), EAFNOSUPPORT);
        return;
    }
    connectStartUs = MonotonicUs();
    if (::connect(connectFd, reinterpret_cast<const sockaddr *>(&target), length) == 0) {
        onConnectDone(MonotonicUs(), 0);
        return;
    }
    if (errno != EINPROGRESS) {
        onConnectDone(MonotonicUs(), errno);
        return;
    }
    connectNotifier = std::make_unique<QSocketNotifier>(connectFd, QSocketNotifier::Write);
    QObject::connect(connectNotifier.get(), &QSocketNotifier::activated, q, [this] {
        const qint64 at = MonotonicUs();
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(connectFd, SOL_SOCKET, SO_ERROR, &error, &size);
        onConnectDone(at, error);
    });
}

void WinsockPrivate::onConnectDone(qint64 atUs, int error)
{
    if (connectNotifier) {
        connectNotifier->setEnabled(false);
        connectNotifier.release()->deleteLater(); // possibly from inside its own signal
    }
    if (error != 0) {
        // With what a router or the host said, if anything did.
        fail(NetFailure::Step::Connect, ConnectErrorNumber(error), error, TakeIcmp(connectFd));
        return;
    }
    connectTimeUs = atUs - connectStartUs;
    QTcpSocket *socket
        = protocol == Winsock::sckTLSProtocol ? new QSslSocket(q) : new QTcpSocket(q);
    // With stream stamps Qt takes the tap's far end, and the tap the
    // connection; without a tap (no pair to be had), Qt takes it.
    StreamTap *taken = streamStamps ? StreamTap::take(connectFd, q) : nullptr;
    if (!socket->setSocketDescriptor(taken ? taken->qtEnd() : connectFd)) {
        delete socket;
        if (taken) {
            ::close(taken->qtEnd());
            delete taken; // closes the connection
            connectFd = -1;
        }
        fail(NetFailure::Step::Connect, sck::NetworkUnreachable);
        return;
    }
    connectFd = -1; // Qt's or the tap's now
    tap = taken;
    tcp = socket;
    wireTcp(socket);
    if (ssl())
        wireTls(ssl());
    onTcpConnected();
}

void WinsockPrivate::dropConnectAttempt()
{
    if (connectNotifier) {
        connectNotifier->setEnabled(false);
        connectNotifier.release()->deleteLater();
    }
    if (connectFd >= 0) {
        ::close(connectFd);
        connectFd = -1;
    }
}

void WinsockPrivate::wireTcp(QTcpSocket *socket)
{
    QObject::connect(socket, &QAbstractSocket::connected, q, [this] { onTcpConnected(); });
    // Qt's own buffer holds at most one chunk; the rest waits in the system.
    socket->setReadBufferSize(Winsock::StreamChunk);
    QObject::connect(socket, &QIODevice::readyRead, q, [this] { onTcpReadyRead(); });
    QObject::connect(socket, &QIODevice::bytesWritten, q,
                     [this](qint64 bytes) { onTcpBytesWritten(bytes); });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, q,
                     [this](QAbstractSocket::SocketError error) { onTcpError(error); });
    QObject::connect(socket, &QAbstractSocket::disconnected, q, [this] { onTcpDisconnected(); });
}

void WinsockPrivate::onTcpConnected()
{
    if (state != SocketState::Connecting)
        return;
    connectTimer.stop();
    probe.attach(connectionFd());
    if (tap) {
        // Qt's socket is on the pair: the connection's ends are the tap's.
        quint16 port = 0;
        if (const QHostAddress peer = SocketEnd(tap->connection(), true, &port); !peer.isNull())
            remoteHostIP = AddressText(peer);
        remotePort = port;
        if (const QHostAddress own = SocketEnd(tap->connection(), false, &port); !own.isNull())
            localAddress = AddressText(own);
        localPort = port;
    } else {
        remoteHostIP = AddressText(tcp->peerAddress());
        remotePort = tcp->peerPort();
        localPort = tcp->localPort();
        localAddress = AddressText(tcp->localAddress());
    }
    setState(SocketState::Connected);
    post({EventKind::Connect});
    // Connected lasts its minimum too, so that the watch shows it before
    // the handshake's outcome.
    if (ssl())
        afterHold(std::chrono::milliseconds(stateHolds ? Winsock::MinStateHoldMs : 0),
                  [this] { startClientTls(); });
}

// --- the stream --------------------------------------------------------------

void WinsockPrivate::onTcpReadyRead()
{
    pullStream(false);
}

// Takes stream bytes from the socket into the inbox: up to StreamChunk
// waiting there, or everything (when the peer has closed).
void WinsockPrivate::pullStream(bool everything)
{
    // Before its handshake a TLS stream's bytes belong to the handshake.
    if (!tcp || tcp->bytesAvailable() <= 0 || (ssl() && !ssl()->isEncrypted()))
        return;
    const qint64 room = everything ? tcp->bytesAvailable() : Winsock::StreamChunk - inbox.size();
    if (room <= 0)
        return;
    inbox += tcp->read(room);
    if (tap)
        streamArrivalUs = tap->arrivalOfRead();
    postDataArrival();
}

void WinsockPrivate::onTcpBytesWritten(qint64 bytes)
{
    if (!tcp)
        return;
    const qint64 remaining = tcp->bytesToWrite();
    postProgress(bytes, remaining);
    if (remaining == 0)
        post({EventKind::SendComplete});
}

void WinsockPrivate::onTcpError(int socketError)
{
    if (!tcp)
        return;
    if (state == SocketState::Connecting) {
        fail(NetFailure::Step::Connect, MapSocketError(socketError, tcp->errorString(), true));
    } else if (state == SocketState::Connected) {
        const auto error = QAbstractSocket::SocketError(socketError);
        if (ssl() && error >= QAbstractSocket::SslHandshakeFailedError
            && error <= QAbstractSocket::SslInvalidUserDataError)
            tlsFail(!ssl()->isEncrypted() ? sck::TlsHandshakeFailed : sck::TlsFailed,
                    tcp->errorString());
        else if (socketError == QAbstractSocket::RemoteHostClosedError)
            onRemoteClosed();
        else
            fail(NetFailure::Step::Stream, MapSocketError(socketError, tcp->errorString(), false));
    }
}

void WinsockPrivate::onTcpDisconnected()
{
    if (state == SocketState::Connected)
        onRemoteClosed();
}

void WinsockPrivate::onRemoteClosed()
{
    if (state != SocketState::Connected || !tcp)
        return;
    pullStream(true);
    // A failure the tap saw (Qt heard only the end of the stream) is
    // told as Qt would have told it.
    if (tap && tap->failure() != 0 && tap->failure() != ECONNRESET) {
        fail(NetFailure::Step::Stream, StreamErrorNumber(tap->failure()));
        return;
    }
    if (ssl() && !ssl()->isEncrypted() && !probe.wasReset()) {
        tlsFail(sck::TlsHandshakeFailed,
                QStringLiteral("The peer closed the connection during the TLS handshake"));
        return;
    }
    if (probe.wasReset()) {
        fail(NetFailure::Step::Stream, sck::ConnectionReset);
        return;
    }
    QObject::disconnect(tcp, nullptr, q, nullptr);
    setState(SocketState::Closing);
    post({EventKind::Close});
}

// --- an accepted connection ------------------------------------------------

Winsock::Winsock(QTcpSocket *accepted, QObject *parent) : Winsock(parent)
{
    d->adopt(accepted);
}

void WinsockPrivate::adopt(QTcpSocket *socket)
{
    socket->setParent(q);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    tcp = socket;
    wireTcp(socket);
    probe.attach(socket->socketDescriptor());
    remoteHostIP = AddressText(socket->peerAddress());
    remotePort = socket->peerPort();
    localPort = socket->localPort();
    localAddress = AddressText(socket->localAddress());
    state = SocketState::Connected;
    if (auto *secure = qobject_cast<QSslSocket *>(socket);
        secure && secure->mode() != QSslSocket::UnencryptedMode) {
        protocol = Winsock::sckTLSProtocol;
        wireTls(secure);
        // The listener started the handshake at the accept; it may be over.
        if (secure->isEncrypted())
            onEncrypted();
        else
            handshakeTimer.start(Winsock::TlsHandshakeMs);
    }
    // What came before the accept, and a close that came already.
    onTcpReadyRead();
    if (socket->state() != QAbstractSocket::ConnectedState)
        onRemoteClosed();
}
