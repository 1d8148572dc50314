// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock over TCP: connecting (with the name look-up and its visible
// states), taking over an accepted connection, and the stream's life.

#include "localaddress.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QSslSocket>

// --- connecting --------------------------------------------------------------

void Winsock::Connect()
{
    if (d->protocol == sckUDPProtocol || d->state != SocketState::Closed)
        RaiseSocketError(sck::InvalidOperation);
    const QString host = d->remoteHost.trimmed();
    if (host.isEmpty() || d->remotePort == 0)
        RaiseSocketError(sck::InvalidArgument);

    // The local port is bound in the family of the address; a name may
    // give either, so its socket takes both.
    QHostAddress address;
    const bool literal = ParseAddress(host, &address);
    QHostAddress from = !literal ? QHostAddress(QHostAddress::Any)
                        : address.protocol() == QAbstractSocket::IPv4Protocol
                            ? QHostAddress(QHostAddress::AnyIPv4)
                            : QHostAddress(QHostAddress::AnyIPv6);
    if (!d->localHost.isEmpty() && !ParseAddress(d->localHost, &from))
        RaiseSocketError(sck::AddressNotAvailable);
    QTcpSocket *socket
        = d->protocol == sckTLSProtocol ? new QSslSocket(this) : new QTcpSocket(this);
    if ((d->localPort != 0 || !d->localHost.isEmpty())
        && !socket->bind(from, static_cast<quint16>(d->localPort))) {
        const int number = MapSocketError(socket->error(), socket->errorString(), true);
        delete socket;
        RaiseSocketError(number);
    }
    d->tcp = socket;
    d->wireTcp(socket);
    if (d->ssl())
        d->wireTls(d->ssl());

    if (literal) {
        d->beginConnecting(address);
        return;
    }
    d->remoteHostIP.clear();
    d->stateClock.start();
    d->setState(SocketState::ResolvingHost);
    const quint64 generation = d->generation;
    d->lookupId = QHostInfo::lookupHost(
        host, this, [this, generation](const QHostInfo &info) { d->onLookedUp(generation, info); });
}

void WinsockPrivate::onLookedUp(quint64 lookupGeneration, const QHostInfo &info)
{
    if (lookupGeneration != generation || state != SocketState::ResolvingHost)
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
    afterHold(holdLeft(), [this, address] {
        connectTimer.start(Winsock::DefaultConnectTimeoutMs);
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
    if (state != SocketState::Connecting)
        return;
    connectTimer.stop();
    probe.attach(tcp->socketDescriptor());
    remoteHostIP = AddressText(tcp->peerAddress());
    remotePort = tcp->peerPort();
    localPort = tcp->localPort();
    localAddress = AddressText(tcp->localAddress());
    setState(SocketState::Connected);
    post({EventKind::Connect});
    // Connected lasts its minimum too, so that the watch shows it before
    // the handshake's outcome.
    if (ssl())
        afterHold(std::chrono::milliseconds(Winsock::MinStateHoldMs), [this] { startClientTls(); });
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
        fail(MapSocketError(socketError, tcp->errorString(), true));
    } else if (state == SocketState::Connected) {
        const auto error = QAbstractSocket::SocketError(socketError);
        if (ssl() && error >= QAbstractSocket::SslHandshakeFailedError
            && error <= QAbstractSocket::SslInvalidUserDataError)
            tlsFail(!ssl()->isEncrypted() ? sck::TlsHandshakeFailed : sck::TlsFailed,
                    tcp->errorString());
        else if (socketError == QAbstractSocket::RemoteHostClosedError)
            onRemoteClosed();
        else
            fail(MapSocketError(socketError, tcp->errorString(), false));
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
    if (ssl() && !ssl()->isEncrypted() && !probe.wasReset()) {
        tlsFail(sck::TlsHandshakeFailed,
                QStringLiteral("The peer closed the connection during the TLS handshake"));
        return;
    }
    if (probe.wasReset()) {
        fail(sck::ConnectionReset);
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
