// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What an AutoPing run measured: how many queries were answered in time,
// answered late or not at all, and how long the timely answers took.
//
// The probe tells the model, with a monotonic time in microseconds:
//
//   querySent(t)              a query was handed to the socket at t; it gets
//                             the next sequence number, from 1
//   responseArrived(t, seq)   a response arrived at t; seq is the number it
//                             carries, when it carries one
//   expire(t)                 every query waiting since timeout() or longer
//                             is lost
//   judgeAll()                every query still waiting is lost (a tick of
//                             the window's probe, the end of a run)
//
// Each query ends in exactly one of three outcomes: answered (with its round
// trip), late (an answer came, but after the query was judged lost, or one
// that cannot be matched to it for sure: its time is not used), or lost.
// Which query an answer belongs to depends on what the answers carry:
//
//   Numbered  answers carry the query's number (between two command-line
//             copies): each goes to its own query, whatever the delays and
//             losses; duplicates and unknown numbers are ignored.
//   Ordered   answers come over a stream, in the order of the queries: the
//             k-th answer belongs to the k-th query.
//   Plain     datagrams with the fixed texts only (a window at the far end):
//             an answer belongs for sure to the one query waiting when it
//             comes.  With two or more waiting (answers slower than the
//             interval) it cannot be told which: the oldest waiting one is
//             counted late.  With none waiting it is a late answer to the
//             oldest query judged lost that has none yet.
//
// The window's probe is Plain and judges at every tick: a query has one
// interval to be answered, as its "Failed to receive a response." lines
// say, so the figures agree with the lines.
//
// Nothing here grows with the length of a run: the waiting queries are
// bounded by the timeout, the lost ones that may still get a late answer by
// LostKept, the history by HistoryLength.

#include <QList>
#include <QString>

#include <array>
#include <deque>
#include <optional>

class PingStats
{
public:
    enum class Matching { Plain, Ordered, Numbered };
    enum class Outcome { Answered, Late, Lost };
    // A judged query, as the plot and the command line's lines show it.
    struct Judged
    {
        Outcome outcome = Outcome::Lost;
        qint64 rttUs = 0; // the round trip, for an answered query only
        int seq = 0;
    };
    // The judged queries the plot shows: the last minute at one a second.
    static constexpr int HistoryLength = 60;
    // Lost queries that may still be credited with a late answer.
    static constexpr int LostKept = 4096;

    // Starts a new run against peer (shown as given, e.g. "10.213.7.1:7010"):
    // every count, the history and the waiting queries are dropped.
    void reset(const QString &peer, Matching matching = Matching::Plain,
               qint64 timeoutUs = 1'000'000);

    int querySent(qint64 timeUs);
    // What the answer did: the query it answered or made late; nothing when
    // it went to no query.
    std::optional<Judged> responseArrived(qint64 timeUs, std::optional<int> seq = {});
    QList<Judged> expire(qint64 nowUs);
    // Query seq will get no answer (its connection was refused): lost now.
    std::optional<Judged> lose(int seq);
    QList<Judged> judgeAll();
    // A stream was made anew: what still waits is lost (its answers went
    // with the old one), and the next answer belongs to the next query.
    QList<Judged> restartStream();
    // When the oldest waiting query expires; nothing when none waits.
    std::optional<qint64> nextExpiryUs() const;

    QString peer() const { return m_peer; }
    Matching matching() const { return m_matching; }
    // From now on answers are matched so (a probe that finds out what the
    // far end speaks).
    void setMatching(Matching matching) { m_matching = matching; }
    // Queries sent; of them answered, late and lost, and those still waiting.
    int sent() const { return m_sent; }
    int answered() const { return m_answered; }
    int late() const { return m_late; }
    int lost() const { return m_lost; }
    // Queries whose timeout passed without an answer, whatever came later:
    // only ever grows (a metrics counter).
    int timedOut() const { return m_timedOut; }
    int waiting() const { return int(m_waiting.size()); }
    // Lost (not late) queries as a share of the judged ones; 0 before any.
    double lossPercent() const;

    // Round trips of the answered queries, in microseconds; mdev is their
    // standard deviation, sqrt(mean(rtt^2) - mean(rtt)^2).  All 0 while no
    // query was answered.
    bool hasRtt() const { return m_answered > 0; }
    qint64 rttMinUs() const { return m_rttMin; }
    qint64 rttMaxUs() const { return m_rttMax; }
    double rttAvgUs() const;
    double rttMdevUs() const;
    qint64 rttSumUs() const { return m_rttSum; }
    // The round trips counted by their upper bounds (a histogram, as a
    // metrics scraper wants it): bucket i holds those up to BucketUs[i] and
    // above the bound before; the last one those above all of them.
    static constexpr std::array<qint64, 13> BucketUs{500,     1000,    2500,   5000,   10000,
                                                     25000,   50000,   100000, 250000, 500000,
                                                     1000000, 2500000, 5000000};
    const std::array<quint64, BucketUs.size() + 1> &rttBuckets() const { return m_buckets; }
    // The outcome of the last judged query, if one was.
    std::optional<Outcome> lastOutcome() const;

    // The last HistoryLength judged queries, oldest first.
    const QList<Judged> &history() const { return m_history; }

    // One line for the window, e.g. "AutoPing 10.213.7.1:7010 — 58 sent,
    // 56 answered, 1 late, 1 lost (1.7 %), rtt 0.21 / 0.35 / 1.20 / 0.08 ms"
    // (min / avg / max / mdev).  The late part only when there were late
    // answers, the percentage only once a query was judged, the round trips
    // only when a query was answered.
    QString summary() const;
    // The closing lines of a command-line run, in ping's form:
    //   "58 packets transmitted, 57 received, 1 late, 1.72414% packet loss"
    //   "rtt min/avg/max/mdev = 0.210/0.350/1.200/0.080 ms"
    // "received" counts the late answers too, "late" shows only when there
    // were any, and the second line only when a query was answered.  The
    // lines are joined by "\n", without a line end after the last.
    QString pingSummary() const;

private:
    struct Waiting
    {
        int seq = 0;
        qint64 sentUs = 0;
    };
    Judged answer(std::deque<Waiting>::iterator query, qint64 timeUs);
    std::optional<Judged> lateFor(std::optional<int> seq);
    Judged judgeLost(const Waiting &query);
    void record(const Judged &judged);

    QString m_peer;
    Matching m_matching = Matching::Plain;
    qint64 m_timeoutUs = 1'000'000;
    std::deque<Waiting> m_waiting; // by sequence number
    std::deque<int> m_lostSeqs;    // lost, no late answer yet, oldest first
    QList<Judged> m_history;
    int m_sent = 0;
    int m_responses = 0; // answers seen (Ordered: the next one is query m_responses + 1)
    int m_answered = 0;
    int m_late = 0;
    int m_lost = 0;
    int m_timedOut = 0;
    qint64 m_rttMin = 0;
    qint64 m_rttMax = 0;
    // Sums for the mean and the deviation.  The squares are summed as a
    // double: a run of some months would overflow an integer sum of them.
    qint64 m_rttSum = 0;
    double m_rttSquares = 0;
    std::array<quint64, BucketUs.size() + 1> m_buckets{};
};
