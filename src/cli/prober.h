// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Prober: the command line's AutoPing probe, with ping's habits.  The first
// query goes out at once, then one every interval; each answer is matched to
// its query (autoping/pingstats.h) and told as a line with its number and
// time, a query not answered within the timeout as a line of its own, a late
// answer too.  The run is over when count queries were sent and each was
// answered or timed out, or at the deadline; finish() judges what still
// waits (a stop, Ctrl+C) and the summary counts every query sent.
//
// Over a stream the fixed texts are enough: the answers come in the order of
// the queries.  A connect probe's queries are connections, each answered by
// its own number.  Over UDP the first queries (NumberedAsks, as one may be
// lost) go out twice, plain and numbered ("... #1"): a command-line
// responder answers the numbered one, and from
// then on only numbered queries go out and every answer finds its query
// whatever the delays and losses; a window answers only the plain one (and
// shows the numbered one as a line), and the probe goes on with plain
// queries, matched as well as they can be (late when unsure).

#include "autoping/pingstats.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QTextStream;

class Prober : public QObject
{
    Q_OBJECT
public:
    // What a query is: an AutoPing query over a stream (answers in order)
    // or in a datagram (numbered once the far end answers numbers), or a new
    // connection whose "answer" is that it was made (--connect).
    enum class Kind { Stream, Datagrams, Connects };
    struct Options
    {
        int count = 0;         // queries to send; 0: until stopped
        int intervalMs = 1000; // between two queries
        int timeoutMs = 2000;  // an answer later than this is late
        int deadlineMs = 0;    // the run ends after this long; 0: no end
        bool quiet = false;    // no line per answer
        Kind kind = Kind::Stream;
    };
    // How a query went: handed to the socket, no connection (it counts as
    // lost), or failed (the run cannot go on).
    enum class Sent { Sent, NotConnected, Failed };
    // The first queries over UDP that go out numbered as well (one may be lost).
    static constexpr int NumberedAsks = 3;

    // send(seq, numbered) sends query seq, numbered or not.
    Prober(const Options &options, std::function<Sent(int, bool)> send, QTextStream &out,
           QObject *parent = nullptr);

    void start(const QString &peer);
    bool isRunning() const { return m_running; }
    // An answer arrived carrying seq (0: none).
    void answerArrived(int seq);
    // Query seq will get no answer, for this reason.
    void refused(int seq, const QString &reason);
    // The connection was made again (--keep-going): what waited is lost.
    void reconnected();
    // The end: no more queries, what still waits is lost.
    void finish();
    const PingStats &stats() const { return m_stats; }

signals:
    // The count was reached and every query judged, or the deadline came:
    // call finish().  failed: a query could not be sent.
    void done(bool failed);

private:
    void sendQuery();
    void expire();
    void armExpiry();
    void tell(const PingStats::Judged &judged, const QString &reason = {});
    void checkDone();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    Options m_options;
    std::function<Sent(int, bool)> m_send;
    QTextStream &m_out;
    PingStats m_stats;
    QElapsedTimer m_clock;
    QTimer m_interval;
    QTimer m_expiry;
    QTimer m_deadline;
    bool m_running = false;
};
