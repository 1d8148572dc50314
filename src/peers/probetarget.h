// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// ProbeTarget: one HOST PORT of a probe, probed until its run ends.  It
// owns the path there and a Prober (probe/prober.h) that runs the probe
// engine over it:
//
//   Stream     a TCP or TLS connection; the AutoPing texts over it, the
//              answers in the order of the queries
//   Datagrams  a UDP socket that talks to the target only; the first
//              queries ask whether the far end reads numbers; the numbered
//              ones carry the target's token (probe/probetexts.h), drawn
//              from the system's random source for each target, so that
//              one target's answers do not tell how to forge another's
//   Connects   a new connection per query (connectprobe.cpp), whose answer
//              is that it was made (and its TLS handshake done and its
//              certificate verified)
//   Stamp      the two-way measurement's test packets to a reflector
//              (stampsender.h), answers matched by the number they echo
//
// The run starts when the target is first known to be up (connected; for
// TLS, the handshake done; for datagrams, bound) or down.  A connection's
// time and its handshake's count apart from the queries.  A target that
// cannot be reached, or whose connection the peer ended, is tried again
// every interval when keepTrying says so, for as long as the run lasts;
// every query due meanwhile is a failed attempt with the reason (lost).
// Without keepTrying such a target ends: it could not be probed.
//
// What happens is told as values: its session's (session()), the engine's
// events (happened), and the target's own (connectionEnded, cannotProbe).
//
// Status: 0 every query answered; 1 some not (or none was due); 2 it could
// not be probed (its address refused, a socket that could not be opened, a
// connection that failed or ended without keepTrying).

#include "probe/prober.h"
#include "probe/queryclock.h"
#include "session/session.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

class AddressRules;
class StampFigures;
class StampSender;
class Winsock;
struct NameTables;
struct TlsFacts;
struct TlsSetup;

class ProbeTarget : public QObject
{
    Q_OBJECT
public:
    enum class Path { Stream, Datagrams, Connects, Stamp };
    struct Setup
    {
        QString host;
        quint16 port = 0;
        QString name; // in its lines, summaries and metrics; empty: HOST:PORT
        // The transport and its TLS choices, the source address and the
        // local port; the ends are filled in here.
        Session::Config config;
        Path path = Path::Stream;
        // The bytes of every query, padded (probe/probetexts.h); 0: the
        // text's own.  Over datagrams the numbered queries only: a far end
        // that does not read numbers is sent the plain text, as it reads it.
        int size = 0;
        ProbeEngine::Options probe;
        bool keepTrying = false;
        // The queries' slots, every interval from here (base/clock.h), shared
        // by the targets of a run; nothing: from the target's own start.
        std::optional<qint64> slotsFromUs;
        // The run's clock, shared by its targets (probe/probeclock.h);
        // nothing: a timer of the target's own.
        ProbeClock *clock = nullptr;
    };

    ProbeTarget(const Setup &setup, const NameTables &tables, const AddressRules &rules,
                QObject *parent = nullptr);
    ~ProbeTarget() override;

    // Starts probing; false when it ended at once (refused, not opened).
    bool start();
    // Ends it now: what still waits is lost.
    void stop();
    bool isDone() const { return m_done; }
    int status() const;
    // Its name in lines, summaries and metrics: the one it was given, else
    // HOST:PORT as given (an IPv6 address in brackets).
    QString name() const;
    const ProbeFigures &figures() const { return m_prober.figures(); }
    const Session &session() const { return *m_session; }
    Path path() const { return m_setup.path; }
    // What a reflector's answers told (Stamp); none for the other paths.
    const StampFigures *stampFigures() const;
    // Which clock timed the answered queries (Datagrams); none for the other paths.
    const QueryClock::Use *datagramStamps() const;

signals:
    void happened(const ProbeEngine::Events &events);
    // Without keepTrying: the connection ended after sent of count queries
    // (count 0: no end was set).
    void connectionEnded(quint64 sent, int count);
    // It cannot be probed, and why (a TLS file that cannot be used, a name
    // that cannot be looked up, without keepTrying).
    void cannotProbe(const QString &why);
    void done();

private:
    void open();
    void openAt(const QString &address);
    void onTlsReported(const TlsFacts &facts);
    void up();
    void down(const QString &reason, const QString &detail = {});
    void end(bool failed);
    void reopen();
    Prober::Handed sendQuery(int seq, ProbeEngine::Form form);
    void openStamp(const QString &address);
    Prober::Handed sendStamp(int seq);
    // Connects (connectprobe.cpp).
    void lookUp();
    Prober::Handed connectOnce(int seq);
    void dropConnection(int seq);

    Setup m_setup;
    QString m_token; // the token its numbered queries carry (probe.tokens)
    std::unique_ptr<Session> m_session;
    Prober m_prober;
    QTimer m_reopen;          // keepTrying: the next try to open again
    QString m_downReason;     // why the path is down now (empty: it is up, or opening)
    QString m_downDetail;     // the sentence that tells it, when no line of the session did
    bool m_ready = false;     // queries can go out
    quint64 m_sentWhenUp = 0; // the queries sent when it last came up
    // A connection's and its handshake's times, told before the run starts.
    qint64 m_connectUs = -1;
    qint64 m_handshakeUs = -1;
    bool m_failed = false;
    bool m_done = false;
    // Connects: the address looked up once, the TLS setup made once, and
    // the connections on their way by their query.
    QString m_address;
    std::shared_ptr<const TlsSetup> m_tls;
    std::map<int, std::unique_ptr<Winsock>> m_connections;
    std::unique_ptr<StampSender> m_stamp;
    // Datagrams: the queries timed from the system's transmit stamps.
    QueryClock m_queryClock;
};
