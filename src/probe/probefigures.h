// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a probe measured: one set of figures, shown by the window, the
// command line's summary, its JSON and its metrics alike.
//
// Every query ends in exactly one outcome, decided once and never changed:
//
//   answered  its answer came within the timeout; its round trip counts
//   late      its answer came after the timeout (or could not be told from
//             another query's for sure: its time is then not used)
//   lost      no answer came while it was waited for; this includes the
//             queries that could not be sent at all (failed attempts: the
//             target could not be reached, with the reason)
//
// A query that is neither yet is in flight.  So at any moment
//
//   queries = answered + late + lost + in flight,   queries = sent + failed
//
// and every count only grows, as a metrics scraper wants counters.  Answers
// that belong to no query (a duplicate, an echo, a stray) and datagrams
// from anyone but the target (foreign) are counted on their own and change
// nothing else.
//
// Nothing here grows with the length of a run: the history is the last
// HistoryLength outcomes, the failure reasons a handful of words.

#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <optional>

class ProbeFigures
{
public:
    enum class Outcome { Answered, Late, Lost };
    // A query whose outcome was decided, as the plot and the lines show it.
    struct Judged
    {
        Outcome outcome = Outcome::Lost;
        qint64 rttUs = -1; // its round trip; -1 when not known (lost, or late and unsure)
        int seq = 0;
    };
    // Times of a kind (connecting, a TLS handshake): how many, the shortest,
    // the mean and the longest.
    struct Times
    {
        quint64 count = 0;
        qint64 minUs = 0;
        qint64 maxUs = 0;
        qint64 sumUs = 0;
        void add(qint64 us);
        double avgUs() const { return count ? double(sumUs) / double(count) : 0.0; }
    };

    // The judged queries the plot shows: the last minute at one a second.
    static constexpr int HistoryLength = 60;
    // The round trips counted by their upper bounds (a histogram, as a
    // metrics scraper wants it): bucket i holds those up to BucketUs[i] and
    // above the bound before; the last one those above all of them.
    static constexpr std::array<qint64, 13> BucketUs{500,     1000,    2500,   5000,   10000,
                                                     25000,   50000,   100000, 250000, 500000,
                                                     1000000, 2500000, 5000000};
    using Buckets = std::array<quint64, BucketUs.size() + 1>;

    // Starts anew against peer (shown as given, e.g. "10.213.7.1:7010").
    void reset(const QString &peer);
    QString peer() const { return m_peer; }

    // What the engine tells.
    void querySent() { ++m_queries; }
    void queryFailed(const QString &reason);
    // A query that went out was refused at once: lost, for reason.
    void queryRefused(int seq, const QString &reason);
    void judge(const Judged &judged);
    void strayAnswer() { ++m_strays; }
    void foreignDatagram() { ++m_foreign; }
    void connected(qint64 us) { m_connect.add(us); }
    void handshakeDone(qint64 us) { m_handshake.add(us); }
    // Query seq had its answer (or its timeout passed without one): the
    // target is up (or down), unless a newer query said otherwise already.
    void setUp(int seq, bool up)
    {
        if (seq < m_upSeq)
            return;
        m_upSeq = seq;
        m_up = up;
    }

    quint64 queries() const { return m_queries; }
    quint64 sent() const { return m_queries - m_failed; }
    quint64 answered() const { return m_answered; }
    quint64 late() const { return m_late; }
    quint64 lost() const { return m_lost; }
    quint64 failed() const { return m_failed; }
    quint64 inFlight() const { return m_queries - m_answered - m_late - m_lost; }
    quint64 strays() const { return m_strays; }
    quint64 foreign() const { return m_foreign; }
    // The queries lost for a known reason, by the reason ("refused",
    // "name_not_found" ...): the failed attempts and the refused queries.
    const QMap<QString, quint64> &failures() const { return m_failures; }
    bool up() const { return m_up; }
    const Times &connectTimes() const { return m_connect; }
    const Times &handshakeTimes() const { return m_handshake; }

    // Lost queries as a share of the judged ones; 0 before any.
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
    const Buckets &rttBuckets() const { return m_buckets; }
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
    // "received" counts the late answers too; "late", "+N not sent" (failed
    // attempts), "N stray" and "N foreign" show only when there were any; the
    // rtt line only when a query was answered, and a line of connection times
    // only when connections were timed.  The lines are joined by "\n",
    // without a line end after the last.
    QString pingSummary() const;

private:
    void record(const Judged &judged);
    // The round trips min, avg, max and mdev in milliseconds, joined by between.
    QString rttSeries(int decimals, QStringView between) const;

    QString m_peer;
    quint64 m_queries = 0;
    quint64 m_answered = 0;
    quint64 m_late = 0;
    quint64 m_lost = 0;
    quint64 m_failed = 0;
    quint64 m_strays = 0;
    quint64 m_foreign = 0;
    QMap<QString, quint64> m_failures;
    bool m_up = false;
    int m_upSeq = 0; // the query that set m_up
    QList<Judged> m_history;
    qint64 m_rttMin = 0;
    qint64 m_rttMax = 0;
    // Sums for the mean and the deviation.  The squares are summed as a
    // double: a run of some months would overflow an integer sum of them.
    qint64 m_rttSum = 0;
    double m_rttSquares = 0;
    Buckets m_buckets{};
    Times m_connect;
    Times m_handshake;
};
