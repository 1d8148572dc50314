// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Listener: a listening TCP socket that hands out the connections it
// accepts, each as a Winsock of its own, connected from the start.
//
// States: Closed; Bind makes it Open (bound, not listening yet); Listen makes
// it Listening (a closed listener binds LocalPort on every address of both
// families first).  Close: Closed, from any state; harmless when closed.
//
// Each connection the system accepts is taken at once (up to 64 a turn;
// with no descriptor left it is closed at once and AcceptFailed said, and
// the listener rests a moment rather than spin) and offered as
// ConnectionRequest(requestID), delivered like Winsock's events: through a
// queue, one per turn of the event loop, never from inside an operation and
// never while another request's handler runs.  While the event is handled,
// RequestHostIP/RequestPort name the requester, and Accept(requestID) hands
// out the connection.  The handler may Close the listener first: the request
// being handled survives that Close.  A request that has not been accepted
// when its handler returns is closed (its client sees the end of the
// connection), and so are the requests a Close dropped before they were
// offered.  After Close the system refuses new requests.
//
// TLS: after setTls with a certificate and its key, every connection is
// taken as a TLS server's: its handshake starts as it is taken from the
// system, and the Winsock that Accept hands out is a TLS one (winsock.h).
//
// Failures raise in the caller as Winsock's do: Bind/Listen in the wrong
// state 40020, a port outside 0..65535 380, address in use 10048, an address
// that is not local 10049; Accept of an unknown request 40014.

#include "base/socketstate.h"
#include "tls/tlssetup.h"

#include <QObject>
#include <QString>

#include <deque>
#include <map>
#include <memory>

class QSocketNotifier;
class QTcpSocket;
class Winsock;

class Listener : public QObject
{
    Q_OBJECT
public:
    static constexpr int Backlog = 16;

    explicit Listener(QObject *parent = nullptr);
    ~Listener() override;

    SocketState State() const { return m_state; }
    qint32 LocalPort() const { return m_localPort; }
    // The bound address; the machine's primary one when bound to every address.
    QString LocalIP() const;

    // The certificate and key of a TLS server; a null certificate: plain TCP.
    void setTls(const TlsSetup &setup) { m_tls = setup; }
    // The TOS byte of every connection's packets from the next Bind on (-1:
    // the system's); an accepted connection takes it from the listener.
    void setTos(int tos) { m_tos = tos; }

    void Bind(qint32 localPort, const QString &localIP);
    void Listen();
    void Close();

    // The requester of a request not yet accepted or closed (empty, 0 for
    // one that is not known).
    QString RequestHostIP(qint32 requestID) const;
    qint32 RequestPort(qint32 requestID) const;
    // Hands out the connection of a request: connected, owned by the caller.
    std::unique_ptr<Winsock> Accept(qint32 requestID);

signals:
    void ConnectionRequest(qint32 requestID);
    // A connection could not be taken: no descriptor was left, in the
    // program (its limit of open files: program true) or in the system.  It
    // was closed, and the listener rests a moment before it takes more.
    void AcceptFailed(bool program);
    // Emitted at once, from inside whatever changed it, every time State
    // changes (as Winsock::stateTouched).
    void stateTouched();

private:
    void setState(SocketState state);
    void onAcceptable();
    void shedLoad(int error);
    void scheduleDelivery();
    void deliverNext();
    void dropRequests(qint32 except);

    SocketState m_state = SocketState::Closed;
    qint32 m_localPort = 0;
    QString m_localAddress; // empty when bound to every address
    int m_boundFd = -1;     // bound, not listening yet
    int m_listenFd = -1;    // listening
    int m_spareFd = -1;     // given up to take a connection when none is left
    QSocketNotifier *m_acceptable = nullptr;
    TlsSetup m_tls;
    int m_tos = -1;
    std::map<qint32, QTcpSocket *> m_requests; // taken from the system, not accepted yet
    std::deque<qint32> m_waiting;              // offered in this order
    qint32 m_nextId = 1;
    qint32 m_inDelivery = 0;
    bool m_deliveryPosted = false;
};
