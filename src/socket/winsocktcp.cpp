// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock over TCP: connecting (with the name look-up and its visible
// states), binding and listening, accepting, and the stream's life.

#include "localaddress.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <sys/socket.h>

namespace {
constexpr int ListenBacklog = 16;
} // namespace

int BindErrorNumber(int error)
{
    switch (error) {
    case EADDRINUSE: return sck::AddressInUse;
    case EACCES:
    case EPERM: return sck::AccessDenied;
    default: return sck::AddressNotAvailable;
    }
}

// --- connecting --------------------------------------------------------------

void Winsock::Connect()
{
    if (d->protocol != sckTCPProtocol || d->state != sckClosed)
        RaiseSocketError(sck::InvalidOperation);
    const QString host = d->remoteHost.trimmed();
    if (host.isEmpty() || d->remotePort == 0)
        RaiseSocketError(sck::InvalidArgument);

    // The local port is bound in the family of the address; a name may
    // give either, so its socket takes both.
    QHostAddress address;
    const bool literal = ParseAddress(host, &address);
    const QHostAddress every = !literal ? QHostAddress(QHostAddress::Any)
                               : address.protocol() == QAbstractSocket::IPv4Protocol
                                   ? QHostAddress(QHostAddress::AnyIPv4)
                                   : QHostAddress(QHostAddress::AnyIPv6);
    auto *socket = new QTcpSocket(this);
    if (d->localPort != 0 && !socket->bind(every, static_cast<quint16>(d->localPort))) {
        const int number = MapSocketError(socket->error(), socket->errorString(), true);
        delete socket;
        RaiseSocketError(number);
    }
    d->tcp = socket;
    d->wireTcp(socket);

    if (literal) {
        d->beginConnecting(address);
        return;
    }
    d->remoteHostIP.clear();
    d->stateClock.start();
    d->setState(sckResolvingHost);
    const quint64 generation = d->generation;
    d->lookupId = QHostInfo::lookupHost(
        host, this, [this, generation](const QHostInfo &info) { d->onLookedUp(generation, info); });
}

void WinsockPrivate::onLookedUp(quint64 lookupGeneration, const QHostInfo &info)
{
    if (lookupGeneration != generation || state != Winsock::sckResolvingHost)
        return;
    lookupId = -1;
    QHostAddress found;
    int number = 0;
    if (info.error() == QHostInfo::HostNotFound) {
        number = sck::HostNotFound;
    } else if (info.error() != QHostInfo::NoError) {
        number = sck::HostNotFoundTryAgain;
    } else {
        found = PickAddress(info.addresses(), true, true);
        if (found.isNull())
            number = sck::NoData;
    }
    // State 4 lasts its minimum even when the answer came at once.
    afterHold(holdLeft(), [this, found, number] {
        if (number) {
            fail(number);
            return;
        }
        remoteHostIP = AddressText(found);
        stateClock.start();
        setState(Winsock::sckHostResolved);
        afterHold(holdLeft(), [this, found] { beginConnecting(found); });
    });
}

void WinsockPrivate::beginConnecting(const QHostAddress &address)
{
    remoteHostIP = AddressText(address);
    stateClock.start();
    setState(Winsock::sckConnecting);
    // State 6 has its minimum too: on the loopback a connection is made (or
    // refused) within a millisecond, which the watch would never see.
    afterHold(holdLeft(), [this, address] {
        connectTimer.start(connectTimeoutMs);
        tcp->connectToHost(address, static_cast<quint16>(remotePort));
    });
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
    if (state != Winsock::sckConnecting)
        return;
    connectTimer.stop();
    probe.attach(tcp->socketDescriptor());
    remoteHostIP = AddressText(tcp->peerAddress());
    remotePort = tcp->peerPort();
    localPort = tcp->localPort();
    localAddress = AddressText(tcp->localAddress());
    setState(Winsock::sckConnected);
    post({EventKind::Connect});
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
    if (!tcp || tcp->bytesAvailable() <= 0)
        return;
    const qint64 room = everything ? tcp->bytesAvailable() : Winsock::StreamChunk - inbox.size();
    if (room <= 0)
        return;
    inbox += tcp->read(room);
    tailTimer.stop();
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
    if (state == Winsock::sckConnecting) {
        fail(MapSocketError(socketError, tcp->errorString(), true));
    } else if (state == Winsock::sckConnected) {
        if (socketError == QAbstractSocket::RemoteHostClosedError)
            onRemoteClosed();
        else
            fail(MapSocketError(socketError, tcp->errorString(), false));
    }
}

void WinsockPrivate::onTcpDisconnected()
{
    if (state == Winsock::sckConnected)
        onRemoteClosed();
}

void WinsockPrivate::onRemoteClosed()
{
    if (state != Winsock::sckConnected || !tcp)
        return;
    pullStream(true);
    peerDone = true;
    tailTimer.stop();
    // A held-back tail is given out now, before the close is reported.
    if (!inbox.isEmpty())
        postDataArrival();
    if (probe.wasReset()) {
        fail(sck::ConnectionReset);
        return;
    }
    QObject::disconnect(tcp, nullptr, q, nullptr);
    setState(Winsock::sckClosing);
    post({EventKind::Close});
}

// --- binding and listening ---------------------------------------------------

void Winsock::Bind(qint32 localPort, const QString &localIP)
{
    if (localPort < 0 || localPort > 65535)
        RaiseSocketError(sck::InvalidPropertyValue);
    if (d->state != sckClosed)
        RaiseSocketError(sck::InvalidOperation);
    QHostAddress address(QHostAddress::Any);
    if (!localIP.trimmed().isEmpty() && !ParseAddress(localIP, &address))
        RaiseSocketError(sck::AddressNotAvailable);
    if (d->protocol == sckUDPProtocol)
        d->bindUdp(address, localPort);
    else
        d->bindTcp(address, localPort);
}

void WinsockPrivate::bindTcp(const QHostAddress &address, qint32 port)
{
    // A bound socket that does not listen yet: Qt offers none, so it is made
    // here and handed to QTcpServer by Listen.
    bool ipv6 = false;
    boundFd = bindSocket(SOCK_STREAM, address, port, &ipv6);
    setState(Winsock::sckOpen);
}

void Winsock::Listen()
{
    if (d->protocol != sckTCPProtocol)
        RaiseSocketError(sck::InvalidOperation);
    if (d->state == sckClosed)
        d->bindTcp(QHostAddress(QHostAddress::Any), d->localPort);
    if (d->state != sckOpen || d->boundFd < 0)
        RaiseSocketError(sck::InvalidOperation);
    d->listenTcp();
}

void WinsockPrivate::listenTcp()
{
    if (::listen(boundFd, ListenBacklog) != 0)
        RaiseSocketError(BindErrorNumber(errno));
    auto *listener = new QTcpServer(q);
    if (!listener->setSocketDescriptor(boundFd)) {
        delete listener;
        RaiseSocketError(sck::AddressNotAvailable);
    }
    boundFd = -1; // the server owns it now
    server = listener;
    QObject::connect(listener, &QTcpServer::newConnection, q, [this] { onNewConnection(); });
    setState(Winsock::sckListening);
}

void WinsockPrivate::onNewConnection()
{
    while (server && server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        socket->setParent(q); // it must outlive the listener
        const qint32 id = nextRequestId++;
        requests.emplace(id, socket);
        post({EventKind::ConnectionRequest, id});
    }
}

// --- accepting ----------------------------------------------------------------

void Winsock::Accept(qint32 requestID)
{
    if (d->protocol != sckTCPProtocol || d->state != sckClosed)
        RaiseSocketError(sck::InvalidOperation);
    const auto it = d->requests.find(requestID);
    if (it == d->requests.end())
        RaiseSocketError(sck::InvalidArgument);
    QTcpSocket *socket = it->second;
    d->requests.erase(it);

    d->tcp = socket;
    d->wireTcp(socket);
    d->probe.attach(socket->socketDescriptor());
    d->remoteHostIP = AddressText(socket->peerAddress());
    d->remotePort = socket->peerPort();
    d->localPort = socket->localPort();
    d->localAddress = AddressText(socket->localAddress());
    d->setState(sckConnected);
    // What came before the accept, and a close that came already.
    d->onTcpReadyRead();
    if (socket->state() != QAbstractSocket::ConnectedState)
        d->onRemoteClosed();
}
