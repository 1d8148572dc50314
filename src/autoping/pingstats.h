// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What an AutoPing run measured: how many queries were answered in time,
// answered late or not at all, and how long the timely answers took.
//
// The probe tells the model three things, each with nothing but the order of
// the calls and a monotonic time in microseconds (QElapsedTimer):
//
//   tick()               at the top of every probe step, before its query
//   querySent(t)         the query was handed to the socket at t
//   responseArrived(t)   a response (exactly the response text) arrived at t
//
// A query has until the next tick to be answered, as in the probe's own
// check: its first response before then makes it answered, with the round
// trip t(response) - t(query).  At that tick a query without a response
// becomes lost; a response that comes later still turns it into late, which
// has no round trip.  Only then, at the tick, does a query enter the counts:
// the query of the current step is in flight and counted at the next tick
// (so the counts always add up, and a run's last query, which no tick
// follows, stays out of them; a command-line run that wants it judged calls
// tick() once more after one interval).
//
// Responses carry no sequence number, so the model has to decide which query
// one answers.  A response goes to the query in flight while that query has
// none; only a further response in the same interval is a late one, and it
// goes to the oldest lost query still in the history.  Taking the oldest
// outstanding query first instead would be right only when no query is ever
// lost: after a single lost datagram every later answer would be booked to
// the query before its own, and every query would show as late and lost.  The
// price of this rule is that when a delayed response and the next one arrive
// in order, the delayed one is taken as the next query's answer and its
// round trip is too long; the counts are right either way.  A response with
// no query to go to (left over from an earlier run, or a duplicate) is not
// counted.
//
// The model only measures.  The probe's pane lines and its PingAnswered flag
// do not depend on it.

#include <QList>
#include <QString>

#include <optional>

class PingStats
{
public:
    enum class Outcome { Answered, Late, Lost };
    // A judged query, as the plot shows it.
    struct Judged
    {
        Outcome outcome = Outcome::Lost;
        qint64 rttUs = 0; // the round trip, for an answered query only
    };
    // The judged queries the plot shows: the last minute at one a second.
    static constexpr int HistoryLength = 60;

    // Starts a new run against peer (shown as given, e.g. "10.213.7.1:7010"):
    // every count, the history and the query in flight are dropped.
    void reset(const QString &peer);

    void tick();
    void querySent(qint64 timeUs);
    void responseArrived(qint64 timeUs);

    QString peer() const { return m_peer; }
    // Judged queries (answered + late + lost) and each kind of them.
    int sent() const { return m_answered + m_late + m_lost; }
    int answered() const { return m_answered; }
    int late() const { return m_late; }
    int lost() const { return m_lost; }
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
    void judgeInFlight();

    struct InFlight
    {
        qint64 sentUs = 0;
        std::optional<qint64> rttUs;
    };

    QString m_peer;
    std::optional<InFlight> m_inFlight;
    QList<Judged> m_history;
    int m_answered = 0;
    int m_late = 0;
    int m_lost = 0;
    qint64 m_rttMin = 0;
    qint64 m_rttMax = 0;
    // Sums for the mean and the deviation.  The squares are summed as a
    // double: an answered round trip is up to about 1e6 us, and a run of some
    // months would overflow an integer sum of them.
    qint64 m_rttSum = 0;
    double m_rttSquares = 0;
};
