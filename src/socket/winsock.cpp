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
// State machine.  `state` changes only through setState().  Connect: Closed
// -> ResolvingHost (look-up running) -> HostResolved -> Connecting
// (connectToHost) -> Connected, or Closed -> Connecting -> Connected for a
// dotted address; the steps out of the first three wait on holdTimer so that
// each of them lasts MinStateHoldMs.  The connect timer turns a long
// Connecting into 10060.  An accepted connection starts Connected; UDP Bind:
// Closed -> Open.  From Connected: the peer's orderly close -> Closing, any
// failure -> Error (fail() drops the Qt socket at once, posts the Error
// event).  Close: any -> Closed.
//
// Transport objects.  A TCP client or accepted connection is `tcp`; a UDP
// socket is a plain descriptor (`udpFd`), read by `udpReceiver` (on its
// thread, or in batches when `udpReadable` says so) and written here with
// sendmsg(), a reply from the local address its query came to; with
// udpBatches `udpSender` writes them on its thread, a batch at a time.  A
// closed connection is retired gracefully (its write buffer drains, then
// FIN), detached from us, for at most LingerLimitMs.  CloseProbe tells an
// orderly close from a reset, which Qt does not.

#include "winsock.h"

#include "localaddress.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QSslSocket>

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
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
        if (state == SocketState::Connecting)
            fail(NetFailure::Step::Connect, sck::TimedOut);
    });
    handshakeTimer.setSingleShot(true);
    QObject::connect(&handshakeTimer, &QTimer::timeout, q, [this] {
        tlsFail(sck::TlsTimedOut, QStringLiteral("The TLS handshake did not finish within %1 s")
                                      .arg(Winsock::TlsHandshakeMs / 1000));
    });
    dropReportTimer.setSingleShot(true);
    QObject::connect(&dropReportTimer, &QTimer::timeout, q, [this] { reportDrops(); });
}

WinsockPrivate::~WinsockPrivate()
{
    udpSender.reset(); // sends what it holds, then stops: before the close
    udpReceiver.reset();
    if (udpFd >= 0)
        ::close(udpFd);
}

void WinsockPrivate::setState(SocketState code)
{
    if (state == code)
        return;
    state = code;
    emit q->stateTouched();
}

void WinsockPrivate::fail(NetFailure::Step what, int number, int error, const IcmpSeen &icmp)
{
    holdTimer.stop();
    holdStep = nullptr;
    connectTimer.stop();
    handshakeTimer.stop();
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
    lookupId = -1;
    dropTransport(false);
    setState(SocketState::Error);
    postError({what, number, error, icmp});
}

void RetireConnection(QTcpSocket *socket, const QObject *owner, bool graceful)
{
    QObject::disconnect(socket, nullptr, owner, nullptr);
    // It outlives its owner while it lingers.
    socket->setParent(nullptr);
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
    dropConnectAttempt();
    if (tap) {
        tap->retire(graceful, tcp);
        tap = nullptr;
    }
    if (tcp) {
        RetireConnection(tcp, q, graceful);
        tcp = nullptr;
    }
    if (udpFd >= 0) {
        // Possibly from inside its own signal: it goes after the handler.
        if (udpReadable) {
            udpReadable->setEnabled(false);
            udpReadable.release()->deleteLater();
        }
        udpWatched.reset();
        udpSender.reset();   // sends what it holds, then stops
        udpReceiver.reset(); // stops and joins the receive thread
        ::close(udpFd);
        udpFd = -1;
    }
}

void WinsockPrivate::afterHold(std::chrono::milliseconds delay, std::function<void()> step)
{
    holdStep = std::move(step);
    holdTimer.start(std::max(delay, std::chrono::milliseconds(0)));
}

std::chrono::milliseconds WinsockPrivate::holdLeft() const
{
    if (!stateHolds)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(Winsock::MinStateHoldMs - stateClock.elapsed());
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
    d->handshakeTimer.stop();
    if (d->lookupId >= 0)
        QHostInfo::abortHostLookup(d->lookupId);
    if (d->udpLookupId >= 0)
        QHostInfo::abortHostLookup(d->udpLookupId);
    d->dropTransport(false);
    delete d;
}

qint32 Winsock::LocalPort() const
{
    return d->localPort;
}

void Winsock::setLocalPort(qint32 port)
{
    checkPort(port);
    if (d->state != SocketState::Closed)
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

void Winsock::setLocalHost(const QString &address)
{
    d->localHost = address.trimmed();
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
    if (protocol < sckTCPProtocol || protocol > sckTLSProtocol)
        RaiseSocketError(sck::InvalidPropertyValue);
    if (d->state != SocketState::Closed)
        RaiseSocketError(sck::InvalidOperation);
    d->protocol = protocol;
}

SocketState Winsock::State() const
{
    return d->state;
}

QString Winsock::RemoteHostIP() const
{
    return d->remoteHostIP;
}

QString Winsock::LocalIP() const
{
    // Bound to every address: the address the last datagram came to (its
    // answer goes out from it), else the machine's address of the family
    // the peer is in.
    if (d->localAddress.isEmpty() && !d->lastLocalText.isEmpty() && d->state == SocketState::Open)
        return d->lastLocalText;
    if (d->localAddress.isEmpty())
        return PrimaryAddress(d->remoteHostIP.contains(u':'));
    return d->localAddress;
}

void Winsock::setUdpQueueLimit(qint32 datagrams)
{
    d->udpQueueLimit = std::max(1, datagrams);
}

void Winsock::setOnePeer(bool onePeer)
{
    d->onePeer = onePeer;
}

void Winsock::setReadyWatch(ReadyWatch *watch)
{
    d->readyWatch = watch;
}

void Winsock::setStateHolds(bool holds)
{
    d->stateHolds = holds;
}

void Winsock::setFamily(int family)
{
    d->family = family;
}

void Winsock::setPacketPath(int tos, const QString &device)
{
    d->packetPath = {tos, device.toStdString()};
}

void Winsock::setConnectTimeoutMs(int ms)
{
    d->connectTimeoutMs = ms;
}

qint64 Winsock::ConnectTimeUs() const
{
    return d->connectTimeUs;
}

qint64 Winsock::LastArrivalUs() const
{
    return d->protocol == sckUDPProtocol ? d->currentArrivalUs : d->streamArrivalUs;
}

void Winsock::setStreamStamps(bool stamps)
{
    d->streamStamps = stamps;
}

int WinsockPrivate::connectionFd() const
{
    if (tap)
        return tap->connection();
    return tcp ? int(tcp->socketDescriptor()) : -1;
}

quint64 Winsock::NextSendNumber() const
{
    return d->tap ? d->streamSendBase + d->streamSendEnds.size() : d->sendStamps.next();
}

qint64 Winsock::SentAtUs(quint64 number) const
{
    if (d->tap) {
        if (number < d->streamSendBase || number - d->streamSendBase >= d->streamSendEnds.size())
            return -1;
        const qint64 end = d->streamSendEnds[size_t(number - d->streamSendBase)];
        return end > 0 ? d->tap->leftAtUs(end - 1) : -1;
    }
    return d->udpStampsSends ? d->sendStamps.at(number) : -1;
}

void WinsockPrivate::countStreamSend(qint64 end)
{
    streamSendEnds.push_back(end);
    if (streamSendEnds.size() > StreamSendsKept) {
        streamSendEnds.pop_front();
        ++streamSendBase;
    }
}

qint64 Winsock::BytesWaiting() const
{
    if (!d->tcp)
        return 0;
    return d->tcp->bytesToWrite() + d->tlsOutbox.size()
           + (d->ssl() ? d->ssl()->encryptedBytesToWrite() : 0) + (d->tap ? d->tap->waiting() : 0);
}

qint64 Winsock::BytesUnacknowledged() const
{
    if (!d->tcp)
        return 0;
    int inSystem = 0; // handed to the system, not yet acknowledged by the peer
    if (d->connectionFd() < 0 || ::ioctl(d->connectionFd(), TIOCOUTQ, &inSystem) != 0)
        inSystem = 0;
    return BytesWaiting() + std::max(inSystem, 0);
}

qint64 Winsock::Retransmissions() const
{
    if (d->connectionFd() < 0)
        return -1;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(d->connectionFd(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return -1;
    return qint64(info.tcpi_total_retrans);
}

NetFailure Winsock::LastFailure() const
{
    return d->lastFailure;
}

void Winsock::setUdpBatches(bool batches)
{
    d->udpBatches = batches;
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
    d->handshakeTimer.stop();
    if (d->lookupId >= 0)
        QHostInfo::abortHostLookup(d->lookupId);
    d->lookupId = -1;
    if (d->udpLookupId >= 0)
        QHostInfo::abortHostLookup(d->udpLookupId);
    d->udpLookupId = -1;
    d->dropTransport(true);
    d->inbox.clear();
    d->streamArrivalUs = -1;
    d->streamSendEnds.clear();
    d->streamSendBase = 0;
    d->tlsOutbox.clear();
    d->currentDatagram.reset();
    d->udpOutbox.clear();
    d->localAddress.clear();
    d->lastLocal = PacketInfo();
    d->lastLocalText.clear();
    d->setState(SocketState::Closed);
    if (d->droppedUnreported > 0 && !d->dropReportTimer.isActive())
        d->reportDrops();
}

void Winsock::SendData(const QByteArray &data)
{
    if (d->protocol == sckUDPProtocol && d->state == SocketState::Open && d->udpFd >= 0) {
        d->sendDatagram(data);
        return;
    }
    if (d->protocol == sckUDPProtocol || d->state != SocketState::Connected || !d->tcp)
        RaiseSocketError(sck::BadState);
    // A TLS client's data waits for its handshake: before it the socket
    // would send it in the clear.
    if (d->ssl() && !d->ssl()->isEncrypted()) {
        d->tlsOutbox += data;
        if (d->tap)
            d->countStreamSend(-1);
        return;
    }
    if (!data.isEmpty() && d->tcp->write(data) != data.size())
        RaiseSocketError(MapSocketError(d->tcp->error(), d->tcp->errorString(), false));
    // A TLS socket encrypts and writes in a later turn unless told now: a
    // query or an answer would wait for the event loop on both ends.
    if (d->ssl() || d->tap)
        d->tcp->flush();
    // ... and through the tap at once too, where the system stamps it.
    if (d->tap) {
        d->tap->pump();
        d->countStreamSend(d->tap->takenFromQt());
    }
}

QByteArray Winsock::GetData()
{
    if (d->protocol == sckUDPProtocol) {
        if (d->state != SocketState::Open && d->state != SocketState::Error)
            RaiseSocketError(sck::BadState);
        if (!d->currentDatagram)
            return QByteArray();
        QByteArray bytes = std::move(*d->currentDatagram);
        d->currentDatagram.reset();
        return bytes;
    }
    if (d->state != SocketState::Connected && d->state != SocketState::Closing
        && d->state != SocketState::Error)
        RaiseSocketError(sck::BadState);
    return d->readStream();
}
