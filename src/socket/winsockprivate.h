// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The inside of Winsock, shared by its source files:
//   winsock.cpp        properties, Close, the state, shared helpers
//   winsockevents.cpp  the event queue and its delivery
//   winsocktcp.cpp     TCP: Connect (with the name look-up), Bind, Listen,
//                      Accept, the stream's data and its close
//   winsockudp.cpp     UDP: Bind, datagrams in and out
//   winsocktls.cpp     TLS over the TCP stream: the handshake and its report
// See winsock.h for the behaviour; the comments here say how it is done.

#include "closeprobe.h"
#include "lookup.h"
#include "streamtap.h"
#include "systemsocket.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"
#include "udp/readywatch.h"
#include "udp/sendstamps.h"
#include "udp/udpreceiver.h"
#include "udp/udpsender.h"
#include "winsock.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QSslError;
class QSslSocket;
class QTcpSocket;

class WinsockPrivate
{
public:
    explicit WinsockPrivate(Winsock *owner);
    ~WinsockPrivate();

    // --- events ------------------------------------------------------------
    enum class EventKind {
        Connect,
        DataArrival,
        Close,
        Error,
        SendComplete,
        SendProgress,
        DatagramsDropped,
        DatagramRefused,
        TlsReport
    };
    struct Event
    {
        EventKind kind;
        qint32 a = 0; // bytesSent; datagrams (UDP DataArrival, DatagramsDropped)
        qint32 b = 0; // bytesRemaining
        std::shared_ptr<const TlsFacts> tls = {};
        NetFailure failure = {}; // Error
    };
    void post(const Event &event);
    void postError(const NetFailure &failure);
    void postDataArrival(); // TCP: at most one waiting at a time
    void postProgress(qint64 sent, qint64 remaining);
    void scheduleDrain();
    // Delivers the next event, or with udpBatches up to BatchEvents of them.
    void deliverNext();
    void deliver(const Event &event);
    void deliverTcpData();
    void deliverDatagram();
    // onePeer: whether a datagram's sender is the peer.
    bool isPeer(const QHostAddress &address, quint16 port) const;

    std::deque<Event> queue;
    bool drainPosted = false;
    bool delivering = false;
    bool tcpDataQueued = false;
    quint64 generation = 1; // changes at every Close: callbacks of older sockets are ignored

    // --- state -------------------------------------------------------------
    void setState(SocketState code);
    // A background failure: state 9 and the Error event.
    void fail(NetFailure::Step what, int number, int error = 0, const IcmpSeen &icmp = {});
    void dropTransport(bool graceful);
    void afterHold(std::chrono::milliseconds delay, std::function<void()> step);
    std::chrono::milliseconds holdLeft() const;

    // --- TCP ---------------------------------------------------------------
    void wireTcp(QTcpSocket *socket);
    void onLookedUp(quint64 lookupGeneration, const LookedUp &found);
    void beginConnecting(const QHostAddress &address);
    // The connect itself, by hand: the system's answer and the time it took.
    void startConnect(const QHostAddress &address);
    void onConnectDone(qint64 atUs, int error);
    void dropConnectAttempt();
    void onTcpConnected();
    void onTcpReadyRead();
    void pullStream(bool everything);
    void onTcpBytesWritten(qint64 bytes);
    void onTcpError(int socketError);
    void onTcpDisconnected();
    void onRemoteClosed();
    void adopt(QTcpSocket *socket);
    QByteArray readStream();

    // --- TLS ---------------------------------------------------------------
    QSslSocket *ssl() const;
    void wireTls(QSslSocket *socket);
    void startClientTls();
    void onEncrypted();
    void onSslErrors(const QList<QSslError> &errors);
    // The handshake (or the secure connection) failed: its report, then the
    // Error event with number.
    void tlsFail(int number, const QString &reason);
    TlsFacts currentFacts() const;

    // --- UDP ---------------------------------------------------------------
    void bindUdp(const QHostAddress &address, qint32 port);
    void onUdpNews(quint64 receiverGeneration);
    void onUdpReadable(); // udpBatches: read a batch, deliver its events
    void onUdpSendFailed(quint64 senderGeneration);
    void reportDrops();
    void sendDatagram(const QByteArray &bytes);
    // text: the address as text, when the caller has it.
    void writeDatagramTo(const QByteArray &bytes, const QHostAddress &address, quint16 port,
                         bool inBackground, const QString *text = nullptr,
                         const PacketInfo *from = nullptr);
    void resolveForUdp();
    void onUdpLookedUp(quint64 lookupGeneration, const LookedUp &found);

    // --- members -----------------------------------------------------------
    Winsock *q;

    // properties
    qint32 localPort = 0;
    qint32 remotePort = 0;
    QString remoteHost;
    QString localHost;     // a TCP client's own address, when it was given
    int family = 0;        // the family names are looked up in (Winsock::setFamily)
    PacketPath packetPath; // the TOS and the interface of every packet
    int protocol = Winsock::sckTCPProtocol;
    SocketState state = SocketState::Closed;
    QString remoteHostIP;
    QString localAddress; // as AddressText gives it; empty while closed or bound to any address
    QString sendHost;     // where a UDP SendData goes: RemoteHost, or the last sender

    // transport
    QTcpSocket *tcp = nullptr;
    // A client's connection read with the system's stamps (setStreamStamps):
    // the tap holds it, and tcp is on the tap's far end.
    bool streamStamps = false;
    StreamTap *tap = nullptr;
    qint64 streamArrivalUs = -1; // when the bytes last taken arrived (tap), -1 unknown
    // Where each SendData of the connection ended in what Qt handed the tap
    // (-1: not known, as for data that waited for a handshake), the oldest
    // numbered streamSendBase; the last StreamSendsKept of them.
    static constexpr std::size_t StreamSendsKept = 1024;
    std::deque<qint64> streamSendEnds;
    quint64 streamSendBase = 0;
    // The TCP connection's own descriptor (the tap's, or Qt's); -1 without one.
    int connectionFd() const;
    void countStreamSend(qint64 end); // a SendData, ending there in the tap's stream
    int udpFd = -1;
    bool udpIPv6 = false;         // the UDP socket is an IPv6 one
    bool udpBothFamilies = false; // ... bound to every address: it reaches IPv4 as well
    std::unique_ptr<UdpReceiver> udpReceiver;
    bool udpBatches = false;                      // see Winsock::setUdpBatches
    std::unique_ptr<QSocketNotifier> udpReadable; // udpBatches: the socket has datagrams
    ReadyWatch *readyWatch = nullptr;             // ... or so says this (Winsock::setReadyWatch)
    std::unique_ptr<ReadyWatch::Entry> udpWatched;
    std::unique_ptr<UdpSender> udpSender; // udpBatches: sends them
    bool udpInBatch = false;              // delivering a batch: its datagrams go out at its end
    // onePeer: the system's transmit stamps of the datagrams sent, when it gives them.
    bool udpStampsSends = false;
    SendStamps sendStamps;
    CloseProbe probe;

    // TLS
    TlsSetup tlsSetup;
    QStringList tlsProblems;  // the reasons the peer's certificate did not verify
    bool tlsToldDone = false; // the handshake was reported done
    QByteArray tlsOutbox;     // sent before the handshake finished
    QTimer handshakeTimer;
    qint64 handshakeStartUs = 0; // a client's handshake started then (0: not known)

    // connecting
    bool stateHolds = true;
    int connectFd = -1; // the connection being made, before Qt takes it
    std::unique_ptr<QSocketNotifier> connectNotifier;
    qint64 connectStartUs = 0;
    qint64 connectTimeUs = -1;
    int lookupId = -1;
    QTimer holdTimer;
    std::function<void()> holdStep;
    QElapsedTimer stateClock;
    QTimer connectTimer;
    int connectTimeoutMs = Winsock::DefaultConnectTimeoutMs;

    // received data
    QByteArray inbox; // TCP bytes not yet read by GetData
    std::optional<QByteArray> currentDatagram;
    qint64 currentArrivalUs = -1; // its arrival stamp (batches), -1 without one
    // The last datagram's sender: as the system gave it, as text, and that
    // text parsed as an answer to it parses it (a burst comes from one).
    UdpReceiver::Sender lastSender{};
    QString lastSenderText;
    QHostAddress lastSenderAddress;
    quint16 lastSenderPort = 0;
    PacketInfo lastLocal;  // the local address the last datagram came to
    QString lastLocalText; // and as text (empty when not known)
    qint32 udpQueueLimit = Winsock::UdpQueueDatagrams;
    bool onePeer = false;
    NetFailure lastFailure;        // the Error event's, once delivered
    quint64 droppedUnreported = 0; // datagrams the receiver dropped, not yet reported
    QTimer dropReportTimer;        // at most one DatagramsDropped per DropReportMs

    // UDP sends that wait for a name look-up
    struct Outgoing
    {
        QByteArray data;
        QString host;
        quint16 port = 0;
    };
    std::deque<Outgoing> udpOutbox;
    int udpLookupId = -1;
    QString resolvedName;
    QHostAddress resolvedAddress;

    // The machine's address that LocalIP gives a socket bound to every
    // address, per family; looked up again after a second.
};

// Ends a connection that is given up and lets it go: gracefully, what waits
// in its write buffer goes out first and then the FIN (for at most
// LingerLimitMs, then it is cut); otherwise at once.  Its signals to owner
// are disconnected; it deletes itself.
void RetireConnection(QTcpSocket *socket, const QObject *owner, bool graceful);
