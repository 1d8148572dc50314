// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "pingstats.h"

#include <algorithm>
#include <cmath>

namespace {

QString milliseconds(double us, int decimals)
{
    return QString::number(us / 1000.0, 'f', decimals);
}

} // namespace

void PingStats::reset(const QString &peer, Matching matching, qint64 timeoutUs)
{
    *this = PingStats();
    m_peer = peer;
    m_matching = matching;
    m_timeoutUs = timeoutUs;
}

int PingStats::querySent(qint64 timeUs)
{
    m_waiting.push_back({++m_sent, timeUs});
    return m_sent;
}

std::optional<PingStats::Judged> PingStats::responseArrived(qint64 timeUs, std::optional<int> seq)
{
    if (m_matching == Matching::Plain) {
        if (m_waiting.size() == 1)
            return answer(m_waiting.begin(), timeUs);
        if (m_waiting.empty())
            return lateFor(std::nullopt);
        // Two or more wait: whose answer this is cannot be told.
        const Judged judged{Outcome::Late, 0, m_waiting.front().seq};
        m_waiting.pop_front();
        ++m_late;
        record(judged);
        return judged;
    }
    if (m_matching == Matching::Ordered)
        seq = ++m_responses;
    if (!seq)
        return std::nullopt;
    const auto query = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&](const Waiting &w) { return w.seq == *seq; });
    if (query != m_waiting.end())
        return answer(query, timeUs);
    return lateFor(seq);
}

PingStats::Judged PingStats::answer(std::deque<Waiting>::iterator query, qint64 timeUs)
{
    const qint64 rtt = std::max<qint64>(0, timeUs - query->sentUs);
    const Judged judged{Outcome::Answered, rtt, query->seq};
    m_waiting.erase(query);
    m_rttMin = m_answered == 0 ? rtt : std::min(m_rttMin, rtt);
    m_rttMax = std::max(m_rttMax, rtt);
    m_rttSum += rtt;
    m_rttSquares += double(rtt) * double(rtt);
    ++m_buckets[std::lower_bound(BucketUs.begin(), BucketUs.end(), rtt) - BucketUs.begin()];
    ++m_answered;
    record(judged);
    return judged;
}

// A late answer: to the lost query seq, or without a number to the oldest
// lost one that has none yet.
std::optional<PingStats::Judged> PingStats::lateFor(std::optional<int> seq)
{
    const auto it
        = seq ? std::find(m_lostSeqs.begin(), m_lostSeqs.end(), *seq) : m_lostSeqs.begin();
    if (it == m_lostSeqs.end())
        return std::nullopt; // a duplicate, or left over from an earlier run
    const Judged judged{Outcome::Late, 0, *it};
    m_lostSeqs.erase(it);
    --m_lost;
    ++m_late;
    for (Judged &shown : m_history) {
        if (shown.seq == judged.seq)
            shown.outcome = Outcome::Late;
    }
    return judged;
}

PingStats::Judged PingStats::judgeLost(const Waiting &query)
{
    const Judged judged{Outcome::Lost, 0, query.seq};
    ++m_lost;
    ++m_timedOut;
    m_lostSeqs.push_back(query.seq);
    if (m_lostSeqs.size() > LostKept)
        m_lostSeqs.pop_front();
    record(judged);
    return judged;
}

QList<PingStats::Judged> PingStats::expire(qint64 nowUs)
{
    QList<Judged> lost;
    while (!m_waiting.empty() && m_waiting.front().sentUs + m_timeoutUs <= nowUs) {
        lost.append(judgeLost(m_waiting.front()));
        m_waiting.pop_front();
    }
    return lost;
}

std::optional<PingStats::Judged> PingStats::lose(int seq)
{
    const auto query = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&](const Waiting &w) { return w.seq == seq; });
    if (query == m_waiting.end())
        return std::nullopt;
    const Judged judged = judgeLost(*query);
    m_waiting.erase(query);
    return judged;
}

QList<PingStats::Judged> PingStats::judgeAll()
{
    QList<Judged> lost;
    for (const Waiting &query : m_waiting)
        lost.append(judgeLost(query));
    m_waiting.clear();
    return lost;
}

QList<PingStats::Judged> PingStats::restartStream()
{
    QList<Judged> lost = judgeAll();
    m_responses = m_sent;
    return lost;
}

std::optional<qint64> PingStats::nextExpiryUs() const
{
    if (m_waiting.empty())
        return std::nullopt;
    return m_waiting.front().sentUs + m_timeoutUs;
}

void PingStats::record(const Judged &judged)
{
    if (m_history.size() == HistoryLength)
        m_history.removeFirst();
    m_history.append(judged);
}

std::optional<PingStats::Outcome> PingStats::lastOutcome() const
{
    if (m_history.isEmpty())
        return std::nullopt;
    return m_history.last().outcome;
}

double PingStats::lossPercent() const
{
    const int judged = m_answered + m_late + m_lost;
    return judged == 0 ? 0.0 : 100.0 * m_lost / judged;
}

double PingStats::rttAvgUs() const
{
    return hasRtt() ? double(m_rttSum) / m_answered : 0.0;
}

double PingStats::rttMdevUs() const
{
    if (!hasRtt())
        return 0.0;
    const double mean = rttAvgUs();
    // Rounding can leave the difference a hair below zero for equal trips.
    return std::sqrt(std::max(0.0, m_rttSquares / m_answered - mean * mean));
}

QString PingStats::summary() const
{
    QString line = QStringLiteral("AutoPing ") + m_peer + QStringLiteral(" \u2014 ")
                   + QString::number(sent()) + QStringLiteral(" sent, ")
                   + QString::number(m_answered) + QStringLiteral(" answered, ");
    if (m_late > 0)
        line += QString::number(m_late) + QStringLiteral(" late, ");
    line += QString::number(m_lost) + QStringLiteral(" lost");
    if (m_answered + m_late + m_lost > 0)
        line += QStringLiteral(" (") + QString::number(lossPercent(), 'f', 1)
                + QStringLiteral(" %)");
    if (hasRtt())
        line += QStringLiteral(", rtt ") + milliseconds(m_rttMin, 2) + QStringLiteral(" / ")
                + milliseconds(rttAvgUs(), 2) + QStringLiteral(" / ") + milliseconds(m_rttMax, 2)
                + QStringLiteral(" / ") + milliseconds(rttMdevUs(), 2) + QStringLiteral(" ms");
    return line;
}

QString PingStats::pingSummary() const
{
    QString text = QString::number(sent()) + QStringLiteral(" packets transmitted, ")
                   + QString::number(m_answered + m_late) + QStringLiteral(" received");
    if (m_late > 0)
        text += QStringLiteral(", ") + QString::number(m_late) + QStringLiteral(" late");
    if (m_answered + m_late + m_lost > 0)
        text += QStringLiteral(", ") + QString::number(lossPercent(), 'g', 6)
                + QStringLiteral("% packet loss");
    if (hasRtt())
        text += QStringLiteral("\nrtt min/avg/max/mdev = ") + milliseconds(m_rttMin, 3) + u'/'
                + milliseconds(rttAvgUs(), 3) + u'/' + milliseconds(m_rttMax, 3) + u'/'
                + milliseconds(rttMdevUs(), 3) + QStringLiteral(" ms");
    return text;
}
