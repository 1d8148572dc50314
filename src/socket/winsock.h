// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Winsock: one event-driven socket that moves bytes: a TCP connection (a
// client's, or one a Listener accepted) or a UDP socket, client or server.
//
// The session is written against this object: properties that are read and
// written before an open, operations that return at once, and events that
// report what happened in the background.  It looks names up once
// (lookup.h), connects a non-blocking system socket itself (so that it can
// time the connect and read the ICMP error behind a failure) and hands the
// connection to a QTcpSocket or QSslSocket; a UDP socket is a plain system
// socket.  It is used on the user-interface thread only.  The one thread it
// may start, which receives the datagrams of a bound UDP socket (see UDP
// below), touches nothing else and ends when the socket closes.  Listening is Listener's
// (listener.h): it hands out each accepted connection as a Winsock of its own, connected from the
// start.
//
// Events
// ------
// Everything the object has to report is put into its own queue, and the
// queue is drained by a queued invocation, one event per turn of the event
// loop, in the order the events arose.  So an event is never emitted from
// inside one of the object's operations, timers (the state watch) run between
// two events, and a handler that calls Close or SendData is never re-entered
// by another event: not even when it runs a nested event loop (a modal box),
// because the queue waits until the running handler has returned.  Close
// empties the queue: events of a socket that was closed after they were
// queued are never delivered.  Two kinds are merged while they wait:
// DataArrival of a stream (one waits at a time; bytesTotal is counted when it
// is delivered) and SendProgress when it is the last event in the queue (its
// bytesSent add up).  Close is harmless on a closed socket, and CloseEvent
// comes only from the peer's close, never from Close.
//
// States (base/socketstate.h)
// ------
// - Connect with a host name: ResolvingHost, HostResolved, Connecting,
//   Connected.  Connect with a dotted address ("192.0.2.7", four decimal
//   parts) or an IPv6 literal ("2001:db8::7", "[2001:db8::7]",
//   "fe80::7%eth0") needs no look-up: straight to Connecting, then Connected.
// - ResolvingHost, HostResolved and Connecting each last at least
//   MinStateHoldMs (10 ms), unless setStateHolds(false) says nobody watches
//   them: the step that ends a state (taking the look-up's
//   answer, starting the system's connect) runs from a precise single-shot
//   timer that long after the state began; nothing waits in a loop.  On the
//   loopback a look-up or a connect is over within a millisecond, and a watch
//   that looks 1 ms after stateTouched would miss the state.  Qt fires
//   expired timers in the order of their expiry, so the watch's 1 ms timer,
//   armed when the state changed, runs before the hold ends even when the
//   event loop was busy.  The price is at most 30 ms on a connect.  A name is
//   reached at the first IPv4 result of the look-up ("localhost" gives
//   127.0.0.1); a name with only IPv6 addresses at its first IPv6 one.  A
//   failed look-up ends in Error.
// - The connection is made by the socket itself (a non-blocking connect):
//   ConnectTimeUs() is how long the system took, from the call to the
//   moment it said the connection was made, not counting this object's own
//   work.  Every TCP connection, made or accepted, sends small writes at
//   once (TCP_NODELAY): a test's queries and answers are not held back to
//   be sent together.  A connect that fails because a router or the host
//   said so (an ICMP error) keeps what it said: LastFailure().
// - A connection attempt that has not succeeded after
//   DefaultConnectTimeoutMs (20 s), or what setConnectTimeoutMs gave, is
//   given up with 10060.
// - The peer closes in order: Closing until Close, with the CloseEvent.  A
//   reset by the peer is a failure (10054), not a close.  Data that arrived
//   before the close is still delivered and can be read in Closing and Error.
// - Any background failure: Error until Close, with the Error event.
// - UDP Bind: Open.  A TCP Winsock is never bound by Bind (Listener binds
//   and listens); Bind on one fails with 40020.
//
// UDP
// ---
// Each datagram is one DataArrival; when it is delivered RemoteHostIP and
// RemotePort become its sender, and one GetData in that handler returns it (a
// datagram not read by its handler is dropped when the handler returns).
// SendData goes to the last sender, unless the program set RemoteHost after
// that arrival (RemotePort set alone keeps the sender's address and changes
// the port).  A host name there is looked up before the datagram goes out;
// the datagrams wait for it in order.  One SendComplete follows each datagram
// that went out.  The receive buffer is UdpReceiveBuffer (65,536) bytes, so
// every datagram UDP can carry arrives whole (65,507 bytes over IPv4, 65,527
// over IPv6); should a longer one come (an IPv6 jumbogram), it is delivered
// cut to that, and an Error event 10040
// follows its DataArrival, so the loss is reported and never silent (the
// socket stays open; the program decides whether to close it), or for a
// socket in batches or with one peer the DatagramTruncated signal.
// Datagrams are taken from the system as fast as they arrive, by a thread of
// the socket's own that does nothing else (udpreceiver.h; a socket with one
// peer, as a probe's, has no thread: it reads its few datagrams on the
// event loop when the socket is readable), and wait in a
// queue for their DataArrival, which still comes one per turn of the event
// loop on the user-interface thread, in the order of arrival.  The thread
// lives from Bind to Close (or the object's end).  The queue holds at most
// UdpQueueDatagrams datagrams and UdpQueueBytes bytes, which bounds the
// memory a flood can take; a datagram that arrives while it is full is
// dropped by this object and counted, and the count is reported by the
// DatagramsDropped signal, at most once every DropReportMs.  It goes through
// the queue like an event, and is the one report a Close does not drop: the
// count not reported yet when the socket closes follows the Close.
//
// TLS
// ---
// Protocol sckTLSProtocol is TCP with TLS on top.  A client goes through the
// TCP states to Connected (with its ConnectEvent), then makes the TLS
// handshake as setTls said; a connection a TLS Listener accepted starts
// Connected with its handshake on the way.  The handshake's outcome is the
// TlsReport event: established (version, cipher, the peer's certificate and
// any reasons it did not verify), or a failure with its reason, followed by
// the Error event (40030 handshake failed, 40031 certificate refused, 40032
// no handshake within TlsHandshakeMs, 40033 a TLS failure after the
// handshake).  Data sent before the handshake has finished waits for it;
// DataArrival brings decrypted bytes only.
//
// Data
// ----
// The socket moves bytes and nothing else: SendData sends exactly its bytes,
// GetData returns exactly the bytes that arrived.  Turning them into text is
// the caller's business (the session's).
// The stream is taken from the system StreamChunk (256 KiB) bytes at a time:
// what waits beyond that stays with the system, which then slows the peer
// down (TCP flow control), so a fast peer can neither fill the memory nor
// keep one DataArrival handler busy for long.  The next bytes are taken as
// soon as GetData has emptied what was taken, and all of them when the peer
// closes, so nothing is lost and the close still comes after the data.
// GetData returns all the stream's data that was taken; DataArrival's
// bytesTotal is that number.
// SendProgress(bytesSent, bytesRemaining) follows the real writes to the
// system (QAbstractSocket::bytesWritten): bytesSent is the number of bytes
// written since the previous SendProgress, bytesRemaining what still waits;
// SendComplete follows when nothing waits any more.
//
// Addresses
// ---------
// Every address property is an address's text: dotted for IPv4 (also for an
// IPv4 peer of an IPv6 socket, never "::ffff:192.0.2.7"), the compressed
// lower-case form for IPv6, with its zone when it has one ("fe80::7%eth0");
// never in brackets.  LocalIP of a closed socket, or of one bound to every
// address, is the machine's primary address (the first IPv4 address of the
// first interface that is up and not a loopback; without one, the first such
// IPv6 address that is not link-local; 127.0.0.1 when there is neither), or
// its primary IPv6 address (the other way round) while RemoteHostIP is an
// IPv6 address; of an open socket its local address.
//
// Bind takes a local address of either family, in brackets or not: an IPv6
// one makes an IPv6 socket.  Every address is "::" or an empty text (both
// families: an IPv6 socket that takes IPv4 as well, or IPv4 alone on a system
// without IPv6), or "0.0.0.0" (IPv4 alone).  A UDP socket sends only to the
// family it was bound in (both, bound to every address): a datagram to the
// other family fails with 10047; a name there is sent to at the first result
// of that family, IPv4 first.  A TCP client with LocalPort set binds it in
// the family of its address, or in both for a name.
// RemoteHostIP: the peer once connected or accepted, the last UDP sender, or
// the address the last UDP datagram went to (RemoteHost, looked up when it is
// a name); a UDP socket just bound has none (empty).  LocalPort becomes the
// port actually used once a socket is bound or connected.  A TCP client with
// LocalPort not 0 binds that port before it connects.  Close keeps the
// property values.
//
// Failures
// --------
// Operations that fail at once raise a RuntimeError in the caller (numbers
// and texts in socketerrors.h): SendData/GetData in the wrong state 40006,
// port or address in use 10048, an address that is not local 10049, a UDP
// datagram to an address of the family the socket cannot reach 10047, a port
// property outside 0..65535 or an unknown protocol 380, an operation in the
// wrong state 40020, Connect without a remote host or port 40014.  Failures
// in the background arrive only as the Error event (Number 16-bit, Scode
// 0x800A0000 | number, Source "Winsock", no help file), and LastFailure()
// tells its handler the failure behind it as a value.  The object shows
// nothing itself, whatever CancelDisplay says.

#include "base/netfailure.h"
#include "base/socketstate.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class ReadyWatch;
class QTcpSocket;
struct TlsFacts;
struct TlsSetup;

class WinsockPrivate;

class Winsock : public QObject
{
    Q_OBJECT
public:
    enum ProtocolCode : int { sckTCPProtocol = 0, sckUDPProtocol = 1, sckTLSProtocol = 2 };

    static constexpr int MinStateHoldMs = 10; // states 4, 5 and 6 last at least this
    static constexpr int DefaultConnectTimeoutMs = 20000;
    static constexpr int UdpReceiveBuffer = 65536;  // bytes of one received datagram
    static constexpr int StreamChunk = 256 * 1024;  // stream bytes taken from the system at a time
    static constexpr int UdpQueueDatagrams = 65536; // datagrams waiting for their DataArrival
    static constexpr qsizetype UdpQueueBytes = 16 * 1024 * 1024; // and their bytes, at most
    static constexpr int UdpBatch = 64;                  // datagrams read at once (setUdpBatches)
    static constexpr int OnePeerBatch = 4;               // ... and with one peer (setOnePeer)
    static constexpr qsizetype OnePeerBytes = 64 * 1024; // what waits with one peer, at most
    static constexpr int BatchEvents = 512;      // events delivered in one turn (setUdpBatches)
    static constexpr int DropReportMs = 1000;    // DatagramsDropped comes at most this often
    static constexpr int TlsHandshakeMs = 10000; // a TLS handshake must finish within this

    explicit Winsock(QObject *parent = nullptr);
    ~Winsock() override;

    // Properties
    qint32 LocalPort() const;
    void setLocalPort(qint32 port); // 380 outside 0..65535; 40020 while not closed
    qint32 RemotePort() const;
    void setRemotePort(qint32 port); // 380 outside 0..65535
    QString RemoteHost() const;
    void setRemoteHost(const QString &host);
    // The address a TCP client connects from (bound with LocalPort before
    // it connects); empty: the system chooses.  Not a local address: 10049.
    void setLocalHost(const QString &address);
    int Protocol() const;
    void setProtocol(int protocol); // 380 for other codes; 40020 while not closed
    SocketState State() const;
    QString RemoteHostIP() const; // dotted IPv4 or IPv6, empty when unknown
    QString LocalIP() const;      // dotted IPv4 or IPv6 (see the class notes)

    // The number of datagrams the UDP queue holds, from the next Bind on
    // (UdpQueueDatagrams unless set; tests make it small).
    void setUdpQueueLimit(qint32 datagrams);
    // From the next Bind on, a UDP socket talks to RemoteHost and
    // RemotePort only (and reads its datagrams a few at a time when the
    // socket is readable, with no thread of its own: a probe has one per
    // target): SendData always goes there (never to the last
    // sender), a datagram from anyone else is not delivered but told as
    // ForeignDatagram, and a datagram that found no one listening at the
    // peer (the system's ICMP "port unreachable") is told as
    // DatagramRefused.  Off unless set: the window's UDP socket answers
    // whoever wrote to it and hears nothing of refusals.
    void setOnePeer(bool onePeer);
    // A socket in batches or with one peer is told that it has datagrams
    // by this watch, shared with other sockets (udp/readywatch.h), instead
    // of a notifier of its own: a probe of a thousand targets keeps the
    // event loop watching one descriptor.  It must outlive the socket.
    void setReadyWatch(ReadyWatch *watch);
    // Whether the states before Connected last at least MinStateHoldMs, so
    // that a watch sees each (on unless set).
    void setStateHolds(bool holds);
    // From the next Connect or Bind on: a name is looked up in this family
    // only (4 or 6; 0: either, IPv4 first), and every packet leaves with
    // this TOS byte (-1: the system's) and by this interface (empty: as the
    // routes say).  What the system refuses fails the connect, or the Bind.
    void setFamily(int family);
    void setPacketPath(int tos, const QString &device);
    // How long a connection attempt may take before it is given up with
    // 10060 (DefaultConnectTimeoutMs unless set).
    void setConnectTimeoutMs(int ms);
    // How long the system took to make the last connection (see States);
    // -1 before one was made.
    qint64 ConnectTimeUs() const;
    // The failure behind the last Error event (base/netfailure.h): what
    // failed, its number, the system's error and, for a connect that a
    // router or the peer refused, the ICMP message and who sent it.  Read
    // in the Error handler.
    NetFailure LastFailure() const;
    // A TCP or TLS connection's segments the system sent again so far
    // (TCP_INFO's total retransmissions); -1 when it does not tell.
    qint64 Retransmissions() const;
    // A TCP or TLS connection's bytes handed to SendData and not yet given
    // to the system (TLS: encrypted or not).
    qint64 BytesWaiting() const;
    // ... and those, with the ones in the system that the peer has not
    // acknowledged yet (TLS: the system's are encrypted).
    qint64 BytesUnacknowledged() const;
    // A socket in batches: when the datagram its DataArrival delivers
    // arrived, by the system's stamp, in microseconds on base/clock.h's
    // monotonic clock; a stream with setStreamStamps: when the last byte
    // GetData returns arrived; -1 when not known.
    qint64 LastArrivalUs() const;
    // From the next Connect on, a TCP or TLS client's stream is read with
    // the system's receive stamps (streamtap.h), for LastArrivalUs.  Off
    // unless set: the window's sockets are Qt's alone.
    void setStreamStamps(bool stamps);
    // A UDP socket with one peer (setOnePeer) has each datagram it sends
    // stamped by the system as it leaves (udp/sendstamps.h): the number the
    // next datagram sent gets (from 0 at every Bind), and when datagram
    // number left, in microseconds on the monotonic clock; -1 when the
    // system gave no stamp (yet, or at all).  The same for each SendData of
    // a stream with setStreamStamps (from 0 at every Connect): when its
    // last byte left.
    quint64 NextSendNumber() const;
    qint64 SentAtUs(quint64 number) const;
    // From the next Bind on, a UDP socket takes its datagrams on the
    // user-interface thread instead of a thread of its own: when the socket
    // is readable it reads up to UdpBatch of them at once and delivers their
    // DataArrival events, and the events their handlers cause, in that same
    // turn of the event loop (at most BatchEvents of them; the rest follow
    // in the next turn).  The system's receive buffer is then the queue: a
    // datagram it has no room for is dropped by the system and counted in
    // DatagramsDropped like the others.  What SendData sends goes out from
    // a thread of the socket's own (udpsender.h), the datagrams of a batch
    // together at its end; SendComplete follows each at once, and a datagram
    // the system refuses fails the socket as a failure in the background
    // does (state Error, then the Error event).  For a program that answers
    // each datagram at once and keeps up (the command line's responder); the
    // window keeps its thread and one event per turn.  Off unless set.
    void setUdpBatches(bool batches);

    // How a TLS client's handshake goes, from the next Connect on.
    void setTls(const TlsSetup &setup);

    // Operations
    void Close();
    void Bind(qint32 localPort, const QString &localIP); // UDP only
    void Connect();
    void SendData(const QByteArray &data);
    QByteArray GetData();

signals:
    // The events.  Connect and Close carry an "Event" suffix because the
    // operations of the same names take those names in C++.  Connection
    // requests are the Listener's.
    void ConnectEvent();
    void DataArrival(qint32 bytesTotal);
    void CloseEvent();
    void Error(qint16 number, const QString &description, qint32 scode, const QString &source,
               const QString &helpFile, qint32 helpContext, bool *cancelDisplay);
    void SendComplete();
    void SendProgress(qint32 bytesSent, qint32 bytesRemaining);

    // Not one of the seven events, but delivered like them: count datagrams
    // arrived and were dropped by this object because its queue was full
    // (the network delivered them).
    void DatagramsDropped(qint32 count);
    // Delivered like the events: count datagrams sent found no one
    // listening (see setOnePeer).
    void DatagramRefused(qint32 count);
    // Delivered like the events, instead of DataArrival: a datagram came
    // from someone else than the peer (see setOnePeer).
    void ForeignDatagram(const QString &address, qint32 port);
    // Right after the DataArrival of a datagram longer than
    // UdpReceiveBuffer, which was cut to kept bytes: instead of the Error
    // event 10040 for a socket that answers in batches or talks to one peer,
    // which stays open.
    void DatagramTruncated(qint32 kept);

    // Not one of the seven events either, delivered like them: how a TLS
    // handshake went (see TLS above).
    void TlsReport(const TlsFacts &facts);

    // Not an event: emitted at once, from inside whatever changed it (an
    // operation or the object's own reaction to the network), every time
    // State changes.  The state watch uses it to know when to look again; it
    // must not call back into the object.
    void stateTouched();

private:
    friend class WinsockPrivate;
    friend class Listener;
    // A connection the Listener accepted: TCP (or TLS when it is a
    // QSslSocket in server mode), connected from the start.
    Winsock(QTcpSocket *accepted, QObject *parent);
    WinsockPrivate *d;
};
