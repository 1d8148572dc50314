// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Session: one test's socket, the chosen role and transport, and the state
// watch.  It opens, closes, sends and accepts, handles the socket's events,
// and tells what happened as values (sessionevents.h), through its signals;
// sessionlines.h turns them into the lines the messages pane shows.  It
// knows no window and writes no line: the main window owns one and shows
// it, the command line runs one without a window.
//
// The socket moves bytes; the session is where they become text and back:
// what is sent is the UTF-8 of its text, what arrives is shown as
// textcodec.h says, losslessly.  A stream may split a character between two
// reads: its first bytes wait (at most TailWaitMs, or until the peer closes)
// for the rest, so a character is never shown as two escapes.
//
// AutoPing texts: a server answers every query it reads with the response;
// a client tells every response it reads (DataSeen::probeTexts) to whatever
// probes.  How they are read is the window's rule unless the configuration
// says otherwise (Reading): a piece of data counts only when it is exactly
// one of the two texts.
//
// A TCP server is a Listener.  As the console has always worked, the first
// connection it accepts replaces it: the listener closes and the session's
// socket is that connection, so it serves one client and listens no more
// until it is opened again.  A server whose connections an acceptor serves
// (the command line's responder, peers/responder.h) keeps listening and
// hands each one over.
//
// The state watch (Timer1) reports every change of the socket's state once
// (stateSeen), then emits stateShown().  Instead of ticking every
// millisecond for the whole run it ticks once, 1 ms after the socket or the
// listener reports that its state was touched (emitted from inside the
// operation that changed it).  Because the tick runs from the event loop,
// after the handler that made the change has returned, it sees exactly what a
// 1 ms poll would: every state that lasts until the next turn of the event
// loop, each once, and nothing for a change undone inside one handler.  An
// idle session therefore costs nothing.
//
// TLS is TCP with a handshake on top: the same states and sending; the
// handshake's outcome is told by tlsReported.
//
// Failures are told with the procedure they happened in (Procedure): the
// lines name it as the window does (" in frmMain.Send; "), wherever the
// session runs.

#include "base/socketstate.h"
#include "sessionevents.h"
#include "textcodec.h"
#include "throttle.h"
#include "tls/credentials.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class AddressRules;
class Listener;
class ReadyWatch;
class Winsock;
struct NameTables;
struct TlsFacts;
struct TlsSetup;

class Session : public QObject
{
    Q_OBJECT
public:
    enum class Role { Client, Server };
    // The transports; each one's value is its protocol code, the entry of
    // the Protocol name table that names it in lines.
    enum class Transport { Tcp = 0, Udp = 1, Tls = 2 };
    // The lights: ready, on the way, and nothing (or a failure).
    enum class Status { Ok, Pending, Bad };
    // What ends a typed line on the wire.
    enum class LineEnd { CrLf, Lf, Cr, None };

    // The texts of the four fields that say where to open, as the window's
    // boxes hold them.
    struct Fields
    {
        QString localAddress;
        QString localPort;
        QString remoteAddress;
        QString remotePort;
    };
    // Where to open: the addresses (or names) as given, the ports as
    // numbers (a local port of 0: any).
    struct Ends
    {
        QString localAddress;
        qint32 localPort = 0;
        QString remoteAddress;
        qint32 remotePort = 0;
    };
    // The choices of a TLS connection (tls/credentials.h).
    using Tls = TlsChoices;
    // How AutoPing texts are read: as the window reads them, a piece of
    // data that is exactly one of the two texts; or freely
    // (probe/probetexts.h), every text in a stream, split, merged or with
    // line ends, and a datagram that is one text, numbered or not, with
    // line ends.
    enum class Reading { Whole, Free };
    // How the socket is run; the window leaves each of these off.
    struct SocketOptions
    {
        // A UDP server takes its datagrams in batches and answers them in
        // the same turn (Winsock::setUdpBatches).
        bool batches = false;
        // A UDP client sends to its target only and takes nothing from
        // anyone else (foreignDatagram), and hears that its datagrams find
        // no one listening (datagramRefused).
        bool onePeer = false;
        // A TCP or TLS client reads its stream with the system's receive
        // stamps (Winsock::setStreamStamps), which then time what arrived.
        bool streamStamps = false;
        // A UDP socket that is in batches or has one peer is watched by
        // this, with other sockets (udp/readywatch.h); nothing: by a
        // notifier of its own.
        ReadyWatch *readyWatch = nullptr;
        // States on the way to a connection pass as fast as they come
        // (Winsock::setStateHolds): nobody watches them.
        bool quickStates = false;
        // A name is looked up in this family only (4, 6; 0: either); every
        // packet carries this TOS byte (-1: the system's) and leaves by this
        // interface (empty: as the routes say).  A server's TOS is that of
        // its TCP connections: a UDP server answers with each query's own.
        int family = 0;
        int tos = -1;
        QString device;
    };
    // What to open: a value, as the window's controls or the command line
    // give it.
    struct Config
    {
        Role role = Role::Client;
        Transport transport = Transport::Tcp;
        Ends ends;
        // A TCP client's own address (the command line's --source); empty:
        // the system chooses, as the window's client does.
        QString source;
        Reading reading = Reading::Whole;
        SocketOptions socket = {};
        Tls tls = {};
        // A client's connect is given up after this (0: the socket's 20 s).
        int connectTimeoutMs = 0;
    };
    // The socket as a display shows it.
    struct View
    {
        SocketState state = SocketState::Closed;
        StateGroup group = StateGroup::Idle;
        bool canSend = false;  // ready: data can go out
        bool canProbe = false; // ready, and a client: AutoPing may run
        QString localAddress;  // LocalIP
        qint32 localPort = 0;
        QString remoteAddress; // see remoteHostShown()
        qint32 remotePort = 0;
    };
    // How the user's typed text goes out: as typed, or with its escapes
    // read into bytes (escapes.h), and the line end it takes.
    struct Typing
    {
        bool escapes = false;
        LineEnd lineEnd = LineEnd::CrLf;
    };

    static constexpr int TailWaitMs = 100; // a split character's first bytes wait this long

    // Who serves the connections a TCP or TLS server accepts, instead of
    // the session: each is handed over as it comes, and the listener goes
    // on listening.  Nothing: the first connection replaces the listener.
    using Acceptor = std::function<void(std::unique_ptr<Winsock>)>;
    // Who may take a datagram a UDP server reads, before it is shown: true
    // when it was taken (neither shown nor answered).  It is handed the
    // socket that read it, its bytes and the time they arrived (base/clock.h).
    using DatagramTaker = std::function<bool(Winsock &, const QByteArray &, qint64 atUs)>;

    Session(const NameTables &tables, const AddressRules &rules, QObject *parent = nullptr);
    ~Session() override;

    // A server's figures: AutoPing queries it answered, datagrams it had to
    // drop (its queue was full), since the session was made.
    quint64 answeredQueries() const { return m_answeredQueries; }
    quint64 droppedDatagrams() const { return m_droppedDatagrams; }

    // Set before OpenIt; they stay for every open after it.
    void setAcceptor(Acceptor acceptor) { m_acceptor = std::move(acceptor); }
    void setDatagramTaker(DatagramTaker taker) { m_taker = std::move(taker); }

    // The configuration of the last open.
    const Config &config() const { return m_config; }

    SocketState state() const;
    // The display name of the state ("Closed" ...).
    QString stateName() const;
    View view() const;

    // The peer as "address:port", as the figures name it ("[address]:port"
    // for IPv6).
    QString peer() const;
    // The same peer as an address (or a name) and a port.
    Endpoint peerEnd() const;
    // A UDP client's datagrams: the number the next one sent gets, and when
    // one left by the system's stamp, -1 when not known (Winsock::SentAtUs).
    quint64 nextSendNumber() const;
    qint64 sentAtUs(quint64 number) const;

    // The first steps of the open/close button: an open socket (any state
    // but closed) is closed and the answer is true.  A closed one is closed
    // again and the answer is false: go on and open.
    bool closeIfOpen();
    // Checks the window's fields for the role, telling one refusal for
    // every fault; true when there was none.
    bool CheckFields(Role role, const Fields &fields);
    bool CheckPort(const QString &port);
    // The same for ends given as values (the command line's).
    bool CheckEnds(const Config &config);
    // Opens at the ends the fields give: their ports are read as numbers
    // here, once (a failure is told as OpenIt's).
    void OpenFields(Config config, const Fields &fields);
    void OpenIt(const Config &config);

    // Sends a text (an AutoPing text, bare) and echoes it with a line end;
    // refuses when the socket cannot send.  False only for an empty text or
    // a failed step.
    bool Send(const QString &text);
    // Sends what the user typed, its lines joined and ended by the line end
    // (with LineEnd::None they are joined by CR LF and nothing follows the
    // last), in one piece (one datagram), as Send does; the echo shows the
    // bytes sent as received bytes are shown.  With escapes on, a malformed
    // escape is refused with the place it is at, and nothing is sent: only
    // then is the answer false, and the typed text should be kept for
    // mending.
    bool SendTyped(const QStringList &lines, const Typing &typing);

    // The state watch may run from now on (the window's load sets it going).
    void startStateWatch() { m_watchInterval = StateWatchInterval; }
    // The end of the run: closes the socket and stops everything; nothing is
    // told afterwards.
    void finish();

signals:
    // --- what happened, for the lines (sessionlines.h) and for probes ----
    void paneCleared();
    void stateSeen(const StateSeen &seen);
    // The socket's Close event: the peer closed the connection.
    void peerClosed();
    // The socket's Connect event: the connection was made, in us.
    void connectionCompleted(qint64 us);
    void dataArrived(const DataSeen &data);
    void dataSent(const DataSeen &data);
    // A server accepted a client (from) on its own address (to).
    void accepted(const Endpoint &from, const Endpoint &to);
    void acceptFailed(const Endpoint &from, const Endpoint &to, const RuntimeError &error);
    void socketFailed(const SocketFailure &failure);
    // A procedure failed.
    void failed(Procedure piece, const RuntimeError &error);
    // OpenIt failed with the socket in this state.
    void openFailed(SocketState state, const RuntimeError &error);
    // Reading arrived data failed; the socket was closed.
    void readFailed(const RuntimeError &error);
    // The user's input was refused, and why.
    void refused(const Refusal &refusal);
    // What a TLS connection is set up with, before it starts.
    void tlsSetUp(const TlsUsed &used);
    // How a TLS handshake went; verifiedName: the name a client checked the
    // certificate against (empty for a server).
    void tlsReported(const TlsFacts &facts, const QString &verifiedName);
    void datagramsDropped(qint32 count);
    // count datagrams longer than kept bytes came since the last time this
    // was told (at most once a second), each cut to kept bytes.
    void datagramsTruncated(quint64 count, qint32 kept);
    // count connections could not be taken since the last time: no
    // descriptor was left, in the program (program) or the system.
    void connectionsNotTaken(quint64 count, bool program);
    // One connection could not be taken, for want of a descriptor (told
    // every time, for an acceptor to make room).
    void descriptorShort();
    // The datagrams to peer find no one listening there (told once per open).
    void datagramRefused(const Endpoint &peer);
    // onePeer: a datagram came from someone else (told for every one).
    void foreignDatagram(const Endpoint &from);

    // --- what a display shows ---------------------------------------------
    // The state watch has told a state: bring the display in line.
    void stateShown();
    // The display must be brought in line after a failed read.
    void displayStale();
    void statusShown(Session::Status status);
    // Data arrived from this sender: the remote fields show it.
    void senderShown(const Endpoint &sender);

private:
    static constexpr int StateWatchInterval = 1; // ms

    // The remote host as the remote address box shows it: the socket's
    // RemoteHostIP; for a UDP client that has neither sent a datagram nor
    // received one yet, the host its datagrams go to, as it was given.
    QString remoteHostShown() const;
    void wire(Winsock &socket);
    void adopt(std::unique_ptr<Winsock> socket);
    void armStateWatch();
    void Timer1_Timer();
    // Received bytes as text: a stream's split character waits for the rest.
    QString takeText(const QByteArray &bytes);
    void flushTail();
    void showReceived(const QString &text, qint64 atUs);
    // The AutoPing texts in what arrived, as the configuration reads them.
    QList<ProbeText> readProbeTexts(const QString &text, bool stream, ProbeStream &texts) const;
    void tellAccepted(const Winsock &socket);
    // The checks of CheckFields and CheckEnds: portValid(local) says whether
    // the local (or the remote) port is one from 1 to 65535.
    bool checkEnds(Role role, const QString &localAddress, const QString &remoteAddress,
                   const std::function<bool(bool local)> &portValid);
    // Runs body; a failure is told with piece.
    template<typename Body>
    bool guard(Procedure piece, Body &&body)
    {
        return TryRun(std::forward<Body>(body),
                      [&](const RuntimeError &e) { emit failed(piece, e); });
    }
    // Send's steps once the bytes are known.
    bool sendBytes(const QByteArray &bytes, const QString &echo, Procedure piece, bool lineEnded);

    void Winsock1_Close();
    void Winsock1_Connect();
    void Winsock1_ConnectionRequest(qint32 requestID);
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                        const QString &source, const QString &helpFile, qint32 helpContext,
                        bool *cancelDisplay);
    void Winsock1_SendComplete();
    void Winsock1_SendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void Winsock1_DatagramsDropped(qint32 count);
    void Winsock1_DatagramRefused();
    void Winsock1_ForeignDatagram(const QString &address, qint32 port);
    void Winsock1_DatagramTruncated(qint32 kept);
    void Winsock1_TlsReport(const TlsFacts &facts);

    // The TLS setup of the socket (client) or the listener (server) for
    // config; what it uses is told once the pane is cleared.  Raises when
    // a file cannot be used.
    TlsSetup tlsSetup(const Config &config, TlsUsed &used);

    const NameTables &m_tables;
    const AddressRules &m_rules;

    std::unique_ptr<Listener> m_listener;
    std::unique_ptr<Winsock> Winsock1;
    Config m_config;
    QTimer Timer1;
    int m_watchInterval = -1; // unset until the window's load
    SocketState LastState = SocketState::Closed;
    StreamText m_stream; // a stream's bytes as text
    ProbeStream m_probeStream;
    QTimer m_tailTimer;
    bool m_finished = false;
    quint64 m_answeredQueries = 0;
    quint64 m_droppedDatagrams = 0;
    bool m_refusalTold = false; // datagramRefused is told once per open
    Throttle m_truncated;       // datagrams cut, told at most once a second
    Throttle m_noDescriptor;    // connections the listener could not take
    bool m_lastShortage = true; // the last connection not taken: the program's limit
    Acceptor m_acceptor;
    DatagramTaker m_taker;
};
