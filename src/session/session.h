// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Session: one test's socket, its AutoPing probe, the chosen role and
// transport, and the state watch.  It opens, closes, sends and accepts,
// handles the socket's events, and tells what happened as lines through the
// MsgSink it was given (the same speakers and sentences the messages pane
// shows) and as signals for whatever displays it.  It knows no window: the
// main window owns one and shows it, the command line runs one without a
// window.
//
// The socket moves bytes; the session is where they become text and back:
// what is sent is the UTF-8 of its text, what arrives is shown as
// textcodec.h says, losslessly.  A stream may split a character between two
// reads: its first bytes wait (at most TailWaitMs, or until the peer closes)
// for the rest, so a character is never shown as two escapes.
//
// A TCP server is a Listener.  As the console has always worked, the first
// connection it accepts replaces it: the listener closes and the session's
// socket is that connection, so it serves one client and listens no more
// until it is opened again.  A framed server (the command line's responder)
// serves every client at once instead: the listener stays, and each
// connection is answered on its own (manyclients.cpp); a UDP one reads its
// datagrams in batches and answers them in the same turn
// (Winsock::setUdpBatches), so nothing queues beyond what the system holds
// and after a flood it answers new queries within a fraction of a second.
//
// Lines: "You" and "Remote" lines are written under the socket's LocalIP and
// RemoteHostIP, read at the moment of writing; everything else under its
// speaker ("Winsock", "AutoPing", "++ PEBKAC" ...).
//
// The state watch (Timer1) reports every change of the socket's state once,
// as a "Winsock" line, then emits stateShown().  Instead of ticking every
// millisecond for the whole run it ticks once, 1 ms after the socket or the
// listener reports that its state was touched (emitted from inside the
// operation that changed it).  Because the tick runs from the event loop,
// after the handler that made the change has returned, it sees exactly what a
// 1 ms poll would: every state that lasts until the next turn of the event
// loop, each once, and nothing for a change undone inside one handler.  An
// idle session therefore costs nothing.  A state outside the ready group
// stops AutoPing.
//
// TLS is TCP with a handshake on top: the same states, lines and sending;
// the handshake's outcome is written as "TLS" lines (sessiontls.cpp).
//
// Failures are reported with the window's procedure names (" in
// frmMain.OpenIt; " ...): they are the names the user reads in the pane and
// the log, wherever the session runs.

#include "autoping/autoping.h"
#include "autoping/probetexts.h"
#include "base/socketstate.h"
#include "textcodec.h"
#include "tls/credentials.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class AddressRules;
class Listener;
class MsgSink;
class Winsock;
struct NameTables;
struct TlsFacts;
struct TlsSetup;

class Session : public QObject, private ProbeLink
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

    // The texts of the four fields that say where to open.
    struct Ends
    {
        QString localAddress;
        QString localPort;
        QString remoteAddress;
        QString remotePort;
    };
    // The choices of a TLS connection (tls/credentials.h).
    using Tls = TlsChoices;
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
        // How AutoPing texts are read.  The window's rule: a piece of data
        // counts only when it is exactly the query or the response.  Framed,
        // the command line's: every text in a stream, split, merged or with
        // line ends, and numbered ones (autoping/probetexts.h); a server
        // answers each, a client reports each with probeAnswered(); a UDP
        // client also tells, once, that its datagrams find no one listening
        // (the system's ICMP "port unreachable").
        bool framed = false;
        Tls tls = {};
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

    static constexpr int TailWaitMs = 100; // a split character's first bytes wait this long

    Session(const NameTables &tables, const AddressRules &rules, MsgSink &lines,
            QObject *parent = nullptr);
    ~Session() override;

    AutoPing &probe() { return AutoPingProbe; }
    const AutoPing &probe() const { return AutoPingProbe; }
    // How the user's typed text goes out: as typed, or with its escapes
    // read into bytes (escapes.h), and the line end it takes.
    struct Typing
    {
        bool escapes = false;
        LineEnd lineEnd = LineEnd::CrLf;
    };

    // A server's figures: AutoPing queries it answered, datagrams it had to
    // drop (its queue was full), since the session was made.
    quint64 answeredQueries() const { return m_answeredQueries; }
    quint64 droppedDatagrams() const { return m_droppedDatagrams; }

    // The configuration of the last open.
    const Config &config() const { return m_config; }

    SocketState state() const;
    // The display name of the state ("Closed" ...).
    QString stateName() const;
    View view() const;

    // The peer as "address:port", as the figures name it ("[address]:port"
    // for IPv6).
    QString peer() const;

    // The first steps of the open/close button: stops AutoPing; an open
    // socket (any state but closed) is closed and the answer is true.  A
    // closed one is closed again and the answer is false: go on and open.
    bool closeIfOpen();
    // Checks the ends for the role, writing one "++ PEBKAC" line for every
    // fault; true when there was none.
    bool CheckEnds(const Config &config);
    bool CheckPort(const QString &port);
    void OpenIt(const Config &config);

    // Sends an AutoPing text, bare, and echoes it under "You" with a line
    // end; refuses with "++ PEBKAC" when the socket cannot send.  False only
    // for an empty text or a failed step.
    bool Send(const QString &text) override;
    // Sends what the user typed, its lines joined and ended by the line end
    // (with LineEnd::None they are joined by CR LF and nothing follows the
    // last), in one piece (one datagram), as Send does; the echo shows the
    // bytes sent as received bytes are shown.  With escapes on, a malformed
    // escape is refused with a "++ PEBKAC" line naming where it is, and
    // nothing is sent: only then is the answer false, and the typed text
    // should be kept for mending.
    bool SendTyped(const QStringList &lines, const Typing &typing);

    // The state watch may run from now on (the window's load sets it going).
    void startStateWatch() { m_watchInterval = StateWatchInterval; }
    // The end of the run: closes the socket and stops everything; no line,
    // no signal comes afterwards.
    void finish();

signals:
    // The state watch has written a state line: bring the display in line.
    void stateShown();
    // The display must be brought in line after a failed read.
    void displayStale();
    void statusShown(Session::Status status);
    // Data arrived from this sender: the remote fields show it.
    void senderShown(const QString &address, const QString &port);
    // Framed: a client read an AutoPing response carrying seq (0: none).
    void probeAnswered(int seq);

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
    void showReceived(const QString &text);
    void writeAccepting(const Winsock &socket);
    // A framed server answers the queries found, a framed client takes the
    // answers.
    void answerProbeTexts(const QList<ProbeText> &found);
    void writeYou(const QString &sentence);
    // Send's steps once the bytes are known.
    // probeQuery: the window's AutoPing sent it (its figures time it).
    bool sendBytes(const QByteArray &bytes, const QString &echo, const QString &piece,
                   bool probeQuery = false);

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

    // The clients of a framed TCP server (manyclients.cpp).
    struct Client
    {
        std::unique_ptr<Winsock> socket;
        StreamText text;
        ProbeStream texts;
    };
    bool servesMany() const;
    void serve(std::unique_ptr<Winsock> socket);
    void clientData(Winsock *socket);
    void dropClient(Winsock *socket, const QString &why);
    void Winsock1_TlsReport(const TlsFacts &facts);
    // The TLS setup of the socket (client) or the listener (server) for
    // config; lines to write once the pane is cleared.  Raises when a file
    // cannot be used.
    TlsSetup tlsSetup(const Config &config, QStringList &lines);

    const NameTables &m_tables;
    const AddressRules &m_rules;
    MsgSink &m_lines;

    std::unique_ptr<Listener> m_listener;
    std::unique_ptr<Winsock> Winsock1;
    AutoPing AutoPingProbe{*this, m_lines};
    Config m_config;
    QTimer Timer1;
    int m_watchInterval = -1; // unset until the window's load
    SocketState LastState = SocketState::Closed;
    StreamText m_stream; // a stream's bytes as text
    ProbeStream m_probeStream;
    qint32 m_senderPort = -1; // the last sender's port, and as text
    QString m_senderPortText;
    std::vector<std::unique_ptr<Client>> m_clients;
    QTimer m_tailTimer;
    bool m_finished = false;
    quint64 m_answeredQueries = 0;
    quint64 m_droppedDatagrams = 0;
    bool m_refusalTold = false; // a framed UDP client tells it once per open
};
