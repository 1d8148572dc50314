// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The inside of Winsock, shared by its source files:
//   winsock.cpp        properties, Close, the state, shared helpers
//   winsockevents.cpp  the event queue and its delivery
//   winsocktcp.cpp     TCP: Connect (with the name look-up), Bind, Listen,
//                      Accept, the stream's data and its close
//   winsockudp.cpp     UDP: Bind, datagrams in and out
// See winsock.h for the behaviour; the comments here say how it is done.

#include "closeprobe.h"
#include "udpreceiver.h"
#include "winsock.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;
struct sockaddr;
struct sockaddr_storage;

class WinsockPrivate
{
public:
    explicit WinsockPrivate(Winsock *owner);
    ~WinsockPrivate();

    // --- events ------------------------------------------------------------
    enum class EventKind {
        Connect,
        ConnectionRequest,
        DataArrival,
        Close,
        Error,
        SendComplete,
        SendProgress,
        DatagramsDropped
    };
    struct Event
    {
        EventKind kind;
        qint32 a = 0;   // requestID; bytesSent; datagrams (UDP DataArrival, DatagramsDropped)
        qint32 b = 0;   // bytesRemaining
        int number = 0; // Error
    };
    void post(const Event &event);
    void postError(int number);
    void postDataArrival(); // TCP: at most one waiting at a time
    void postProgress(qint64 sent, qint64 remaining);
    void scheduleDrain();
    void deliverNext();
    void deliver(const Event &event);
    void deliverTcpData();
    void deliverDatagram();
    void deliverRequest(qint32 requestID);

    std::deque<Event> queue;
    bool drainPosted = false;
    bool delivering = false;
    bool tcpDataQueued = false;
    quint64 generation = 1; // changes at every Close: callbacks of older sockets are ignored

    // --- state -------------------------------------------------------------
    void setState(qint16 code);
    void fail(int number); // background failure: state 9 and the Error event
    void dropTransport(bool graceful);
    void retire(QTcpSocket *socket, bool graceful);
    void afterHold(std::chrono::milliseconds delay, std::function<void()> step);
    std::chrono::milliseconds holdLeft() const;
    void closeRequests(qint32 except);

    // --- TCP ---------------------------------------------------------------
    void wireTcp(QTcpSocket *socket);
    void onLookedUp(quint64 lookupGeneration, const QHostInfo &info);
    void beginConnecting(const QHostAddress &address);
    void onTcpConnected();
    void onTcpReadyRead();
    void pullStream(bool everything);
    void onTcpBytesWritten(qint64 bytes);
    void onTcpError(int socketError);
    void onTcpDisconnected();
    void onRemoteClosed();
    void onNewConnection();
    void bindTcp(const QHostAddress &address, qint32 port);
    int bindSocket(int type, const QHostAddress &address, qint32 port, bool *ipv6);
    void listenTcp();
    QString readStream();

    // --- UDP ---------------------------------------------------------------
    void bindUdp(const QHostAddress &address, qint32 port);
    void onUdpNews(quint64 receiverGeneration);
    void reportDrops();
    void sendDatagram(const QByteArray &bytes);
    void writeDatagramTo(const QByteArray &bytes, const QHostAddress &address, quint16 port,
                         bool inBackground);
    void resolveForUdp();
    void onUdpLookedUp(quint64 lookupGeneration, const QHostInfo &info);

    // --- members -----------------------------------------------------------
    Winsock *q;

    // properties
    qint32 localPort = 0;
    qint32 remotePort = 0;
    QString remoteHost;
    int protocol = Winsock::sckTCPProtocol;
    qint16 state = Winsock::sckClosed;
    QString remoteHostIP;
    QString localAddress; // as AddressText gives it; empty while closed or bound to any address
    QString sendHost;     // where a UDP SendData goes: RemoteHost, or the last sender

    // transport
    QTcpSocket *tcp = nullptr;
    QTcpServer *server = nullptr;
    int udpFd = -1;
    bool udpIPv6 = false;         // the UDP socket is an IPv6 one
    bool udpBothFamilies = false; // ... bound to every address: it reaches IPv4 as well
    std::unique_ptr<UdpReceiver> udpReceiver;
    int boundFd = -1; // a bound TCP socket that does not listen yet
    CloseProbe probe;

    // connecting
    int lookupId = -1;
    QTimer holdTimer;
    std::function<void()> holdStep;
    QElapsedTimer stateClock;
    QTimer connectTimer;
    int connectTimeoutMs = Winsock::DefaultConnectTimeoutMs;

    // connection requests of a listening socket
    std::map<qint32, QTcpSocket *> requests;
    qint32 nextRequestId = 1;
    qint32 requestInDelivery = 0;

    // received data
    QByteArray inbox;       // TCP bytes not yet read by GetData
    bool peerDone = false;  // the peer will send nothing more: no tail is held back
    bool flushTail = false; // the held-back tail waited long enough
    QTimer tailTimer;
    std::optional<QByteArray> currentDatagram;
    qint32 udpQueueLimit = Winsock::UdpQueueDatagrams;
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
};

// Maps a Qt socket error onto the socket's failure numbers.  connecting tells
// that the error ended a connection attempt.
int MapSocketError(int socketError, const QString &errorString, bool connecting);

// The failure number of a bind that failed with the system's error.
int BindErrorNumber(int error);

// address and port in the system's form for a socket of the IPv6 family or
// not (an IPv4 address goes to an IPv6 socket as ::ffff:a.b.c.d); the length
// of what was written, 0 when the address cannot go to that family.
unsigned ToSockaddr(const QHostAddress &address, quint16 port, bool ipv6, sockaddr_storage *out);

// An address the system gave, with its zone when it has one; an IPv4-mapped
// one as IPv4.  port receives its port.
QHostAddress FromSockaddr(const sockaddr *address, quint16 *port);

// The first of addresses that a socket reaching these families can use: an
// IPv4 one before any IPv6 one (a name with both kinds is reached over
// IPv4); a null address when there is none.
QHostAddress PickAddress(const QList<QHostAddress> &addresses, bool ipv4, bool ipv6);
