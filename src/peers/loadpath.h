// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// LoadPath: the sending end of `selmarin load`: pieces (load/loadwire.h)
// to HOST PORT at the pacer's rate, and the far end's reports read back.
//
//   UDP       a socket of its own that talks to the target only (connected),
//             each piece a datagram of Setup::size bytes; the datagrams due
//             at a wake-up go out together (sendmmsg), stamped with the
//             time they were handed to the system.  Datagrams the system
//             would not take at once (its buffer full) wait for the next
//             wake-up: the rate's average holds, and the pace's lag is told.
//   TCP, TLS  a connection through the program's socket (socket/winsock.h:
//             its look-up, TLS trust and failures), the pieces one after
//             the other; as fast as the connection takes them, or at the
//             rate.  What is not yet acknowledged (waiting here and in the
//             system) is kept to AheadMs at the rate the far end takes it
//             (StreamAheadLeast to StreamAhead bytes), and what was sent is
//             what the far end acknowledged: on a slow path, a queue of
//             megabytes would pass for a rate the path never had.  The
//             system's retransmissions are read from TCP_INFO.
//
// The run: a warm-up (WarmUp pieces, not counted) for Setup::warmUpUs, then
// the Data pieces for durationUs or count pieces, then (UDP) a short wait for
// what is still on its way, then the End, sent again every EndRepeatMs until
// the far end's final count comes, for EndWaitMs at most (TCP, TLS: and the
// time what is still unacknowledged takes at the rate the far end took).  A `respond`er
// reports once a second and at the end (reported()); a peer that counts
// nothing (a window in server mode, another program) sends no report.
//
// The address is checked as every remote address of the program is
// (Session::CheckEnds, which tells a refusal as the pane does): session()
// carries the lines of that check.

#include "load/loadpacer.h"
#include "load/loadwire.h"
#include "session/session.h"
#include "udp/batchsend.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class AddressRules;
class QSocketNotifier;
class Winsock;
struct NameTables;

class LoadPath : public QObject
{
    Q_OBJECT
public:
    static constexpr int DrainMs = 250;          // UDP: after the last piece, before the End
    static constexpr int EndRepeatMs = 200;      // the End again, until the final count
    static constexpr int EndWaitMs = 3000;       // ... for this long at most
    static constexpr int Batch = int(BatchMost); // datagrams handed over with one call
    static constexpr qsizetype StreamAhead = 16 * 1024 * 1024; // TCP bytes unacknowledged, at most
    static constexpr qsizetype StreamAheadLeast = 256 * 1024;  // ... allowed at any rate
    static constexpr int AheadMs = 250;          // ... else this long at the far end's rate
    static constexpr int EndWaitMostMs = 60'000; // the End's wait with what is queued, at most
    static constexpr qsizetype StreamBatchBytes = 1024 * 1024; // handed over in one call

    struct Setup
    {
        QString host;
        quint16 port = 0;
        Session::Config config; // transport, TLS choices, source address
        int size = 1400;        // bytes of a piece (UDP payload)
        double perSecond = 0;   // pieces a second; 0: as fast as the path takes
        int burst = 1;          // pieces back to back per tick
        qint64 durationUs = 0;  // the Data pieces' time (with count 0)
        quint64 count = 0;      // or their number
        qint64 warmUpUs = 0;
    };
    // What the sender did.
    struct Sent
    {
        quint64 pieces = 0;      // Data pieces handed to the system (TCP, TLS: acknowledged)
        quint64 bytes = 0;       // ... and their bytes
        quint64 warmUp = 0;      // WarmUp pieces
        quint64 failures = 0;    // datagrams the system refused (not EAGAIN)
        qint64 startedUs = -1;   // the first Data piece
        qint64 endedUs = -1;     // the last (TCP, TLS: its acknowledgement)
        qint64 lagMaxUs = 0;     // the furthest behind the pace a piece went out
        qint64 retransmits = -1; // TCP: the system's retransmissions; -1: not told
        quint64 refusals = 0;    // UDP: the far end's system said no one listens
    };
    enum class Phase { Idle, Connecting, WarmUp, Sending, Draining, Ending, Done };

    LoadPath(const Setup &setup, const NameTables &tables, const AddressRules &rules,
             QObject *parent = nullptr);
    ~LoadPath() override;

    // Starts; false when it ended at once (refused, or no socket).
    bool start();
    // Ends the sending now (Ctrl+C): the End goes, the final count is
    // waited for (EndWaitMs at most).
    void stop();
    // Ends everything now, nothing more is waited for.
    void abort();

    // TCP, TLS: the acknowledgements are looked at first.
    const Sent &sent();
    Phase phase() const { return m_phase; }
    // The peer as "address:port" once known, else HOST:PORT as given.
    QString peerName() const;
    const Session &session() const { return *m_session; }
    quint32 id() const { return m_id; }

signals:
    // The Data pieces begin (after the warm-up) at atUs.
    void sending(qint64 atUs);
    // The last Data piece went (or the sending was stopped).
    void doneSending();
    // A report of the far end (final: its count of the whole run).
    void reported(const LoadTally &tally, bool final);
    // The path could not be used, and why (the run ends with 2).
    void failed(const QString &why);
    // The far end's system said that nobody listens on the port (once).
    void refused();
    // The run is over; final: the far end's final count came.
    void finished(bool final);

private:
    bool udp() const { return m_setup.config.transport == Session::Transport::Udp; }
    void opened(const QString &address);
    void openUdp(const QString &address);
    void openStream(const QString &address);
    void begin();
    void tick();
    void arm(qint64 atUs);
    // Sends up to n pieces of kind from number seq on; how many went.
    // Hands the pieces due (up to due) to the socket, and counts them.
    void handOut(bool data, quint64 due, qint64 now);
    quint64 sendUdp(LoadKind kind, quint64 seq, quint64 n, qint64 dueUs);
    quint64 sendStream(LoadKind kind, quint64 seq, quint64 n, qint64 dueUs);
    void sendEnd();
    // TCP, TLS: the Data pieces the far end acknowledged go into m_sent.
    void takeAcknowledged();
    // TCP, TLS: bytes acknowledged a second so far; what may be unacknowledged.
    double streamRate() const;
    qint64 ahead() const;
    void readUdp();
    void readStream();
    void takeReport(const char *data, qsizetype size);
    void fail(const QString &why);
    void finish(bool final);
    void closeAll();

    Setup m_setup;
    std::unique_ptr<Session> m_session; // the address check and its lines
    LoadPacer m_pacer;
    Phase m_phase = Phase::Idle;
    quint32 m_id;
    QString m_peer;
    Sent m_sent;
    QTimer m_timer;
    QTimer m_endTimer;       // the End again
    qint64 m_phaseUs = 0;    // when the phase began
    qint64 m_endWaitUs = 0;  // the End's wait ends
    quint64 m_phaseSent = 0; // pieces of this phase sent
    quint64 m_lastDue = 0;   // of those, due at the last wake-up
    quint64 m_handed = 0;    // Data pieces handed to the system (the End's count)
    bool m_gotFinal = false;
    // UDP
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::vector<char> m_buffers; // Batch pieces
    // TCP, TLS
    std::unique_ptr<Winsock> m_stream;
    QByteArray m_piece;        // Data pieces, their headers written anew each time
    QByteArray m_inbox;        // the far end's reports, as they came
    qint64 m_waiting = 0;      // bytes not yet acknowledged, as last looked at
    quint64 m_streamBytes = 0; // bytes handed over (warm-up, data, End)
    qint64 m_streamUs = -1;    // the first of them
};
