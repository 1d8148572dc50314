// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Responder: the far end of `selmarin probe` and `selmarin load`, the
// command line's server.  It is a session (a server, which reads AutoPing
// texts freely, takes its UDP datagrams in batches and does not hold its
// states for a watch) and, beside it:
//
// - the clients of a TCP or TLS server, every one served at once, each
//   with its own stream of text, every AutoPing query in it answered on
//   that connection (responderclients.cpp).  Clients are capped, in all and
//   from one address, so that a flood of connections leaves room for real
//   probes; one that stays silent too long is closed.
// - its gate (sourcegate.h): the sources it answers at all, and the budgets
//   of its answers.  A connection from outside the allowed ranges is closed
//   at once; a datagram from outside, or over the budget, is neither shown
//   nor answered; both are counted for the minute's line.
// - the loads it counts (responderloads.cpp): the pieces of `selmarin
//   load`, per sender, instead of text, with the reports back in band, on
//   the socket the piece came by: a UDP datagram that starts with the
//   load's magic, a client whose stream starts with it.
//
// What it tells of its clients names them as the pane does, by address;
// the session tells the rest.

#include "base/responderlimits.h"
#include "load/loadcounter.h"
#include "session/session.h"
#include "session/textcodec.h"
#include "session/throttle.h"
#include "sourcegate.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class Winsock;

// How a client's connection ended.
struct ClientEnd
{
    enum class Kind {
        Closed,   // the client closed it
        Ended,    // the socket's error ended it (number, description)
        Failed,   // reading it failed (number, description)
        NotALoad, // it was closed: what followed a load's magic was no load
        Silent,   // it was closed: silent for seconds
        Evicted,  // ... and its place was needed
    };
    Kind kind = Kind::Closed;
    int number = 0;
    QString description;
    qint64 seconds = 0;
};

// Why the last client was turned away: count from its address already
// (perAddress), or count clients in all, none silent for seconds.
struct TurnedAway
{
    bool perAddress = false;
    qsizetype count = 0;
    QString address;
    int seconds = 0;
};

class Responder : public QObject
{
    Q_OBJECT
public:
    // The limits give the clients at once, in all and from one address,
    // and how long a client may stay silent before it is closed.
    // (maxClients, or what the limit of open files allows, two each.)  At
    // the cap, or with no descriptor left, the client silent the longest
    // makes room, when it has been silent for evictAfterMs.
    Responder(const NameTables &tables, const AddressRules &rules,
              const ResponderLimits &limits = {}, QObject *parent = nullptr);
    ~Responder() override;

    Session &session() { return m_session; }
    const Session &session() const { return m_session; }
    const ResponderLimits &limits() const { return m_limits; }
    // Answers as limits' allow-list and budgets say from now on; the
    // clients' limits stay.  A client already connected from outside the
    // new ranges is no longer answered, and leaves when silent.
    void setLimits(const ResponderLimits &limits);
    // Who it refused since the last minute (the gate's counts start again).
    SourceGate::Minute refusedMinute() { return m_gate.minute(); }
    // The configuration a responder opens with: the transport's, its ends
    // and TLS choices kept; watched by readyWatch (udp/readywatch.h).
    static Session::Config configured(Session::Config config, ReadyWatch *readyWatch);
    // AutoPing queries answered, by the session and on the clients'
    // connections, since it was made.
    quint64 answeredQueries() const { return m_session.answeredQueries() + m_answered; }
    // Opens the session as config says (configured()); the clients of an
    // open before it are closed.
    void open(const Session::Config &config);
    // A failure closed the server: it opens again as it was.
    void reopen() { open(m_session.config()); }
    // Closes the session and every client; nothing is told afterwards.
    void finish();

signals:
    // A client was accepted (from) on the server's address (to).
    void accepted(const Endpoint &from, const Endpoint &to);
    // What a client sent, and the answers that went back to it.
    void dataArrived(const DataSeen &data);
    void dataSent(const DataSeen &data);
    // A client went away, and how.
    void clientEnded(const Endpoint &client, const ClientEnd &end);
    // count clients were turned away since the last time (at most once a
    // minute), the last for why.
    void clientsTurnedAway(quint64 count, const TurnedAway &why);
    // A load's report went out (a second's), or it ended (its End came, or
    // it fell silent).
    void loadTold(const LoadReceiver::Told &told);
    // count pieces of new loads were ignored since the last time (at most
    // once a minute): LoadReceiver::MaxLoads are counted.
    void loadsTurnedAway(quint64 count);

private:
    struct Client
    {
        std::unique_ptr<Winsock> socket;
        StreamText text;
        ProbeStream texts;
        qint64 heardUs = 0; // when it last sent something (base/clock.h)
        // Its stream is a load's (it started with the magic).
        std::unique_ptr<LoadStreamReader> load;
        bool firstData = true;
    };
    void serve(std::unique_ptr<Winsock> socket);
    void clientData(Winsock *socket);
    void dropClient(Winsock *socket, const ClientEnd &end);
    void closeIdleClients();
    // Closes the client silent the longest, if it was for EvictAfterMs;
    // true when one made room.
    bool evictSilentClient();
    // A UDP datagram that is a load's piece is counted; true when it was.
    bool takeDatagram(Winsock &socket, const QByteArray &bytes, qint64 atUs);
    // A load's piece that arrived from (a datagram, or a stream's piece,
    // with the stream's reads so far); its report, if one is due, goes
    // back on socket.
    void countLoad(Winsock &socket, const QString &from, const LoadHeader &header, quint64 bytes,
                   qint64 atUs, const StreamRead &stream = {});
    void sweepLoads();

    size_t clientRoom() const;

    ResponderLimits m_limits;
    SourceGate m_gate;
    Session m_session;
    std::vector<std::unique_ptr<Client>> m_clients;
    quint64 m_answered = 0;     // queries answered on the clients' connections
    Throttle m_turnedAway;      // clients refused, told at most once a minute
    TurnedAway m_turnedAwayWhy; // the last client's reason
    QTimer m_idleSweep;         // closes clients that stay silent
    LoadReceiver m_loads;       // every sender's loads
    QTimer m_loadSweep;         // ... and the silent ones ended
    Throttle m_loadsTurnedAway; // pieces of loads beyond MaxLoads
};
