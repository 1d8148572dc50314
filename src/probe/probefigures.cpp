// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "probefigures.h"

#include "base/numbertext.h"

#include <algorithm>
#include <cmath>

namespace {

QString minAvgMax(const ProbeFigures::Times &times)
{
    return MillisecondsSeries({double(times.minUs), times.avgUs(), double(times.maxUs)}, 3);
}

} // namespace

void ProbeFigures::Times::add(qint64 us)
{
    minUs = count == 0 ? us : std::min(minUs, us);
    maxUs = count == 0 ? us : std::max(maxUs, us);
    sumUs += us;
    ++count;
}

void ProbeFigures::reset(const QString &peer)
{
    *this = ProbeFigures();
    m_peer = peer;
}

void ProbeFigures::queryFailed(const QString &reason)
{
    ++m_queries;
    ++m_failed;
    ++m_failures[reason];
    setUp(int(m_queries), false);
    ++m_lost;
    record({Outcome::Lost, -1, int(m_queries)});
}

void ProbeFigures::queryRefused(int seq, const QString &reason)
{
    ++m_failures[reason];
    setUp(seq, false);
    ++m_lost;
    record({Outcome::Lost, -1, seq});
}

void ProbeFigures::judge(const Judged &judged)
{
    switch (judged.outcome) {
    case Outcome::Answered: {
        const qint64 rtt = std::max<qint64>(0, judged.rttUs);
        m_rttMin = m_answered == 0 ? rtt : std::min(m_rttMin, rtt);
        m_rttMax = std::max(m_rttMax, rtt);
        m_rttSum += rtt;
        m_rttSquares += double(rtt) * double(rtt);
        ++m_buckets[std::lower_bound(BucketUs.begin(), BucketUs.end(), rtt) - BucketUs.begin()];
        ++m_answered;
        break;
    }
    case Outcome::Late: ++m_late; break;
    case Outcome::Lost: ++m_lost; break;
    }
    record(judged);
}

void ProbeFigures::record(const Judged &judged)
{
    if (m_history.size() == HistoryLength)
        m_history.removeFirst();
    m_history.append(judged);
}

std::optional<ProbeFigures::Outcome> ProbeFigures::lastOutcome() const
{
    if (m_history.isEmpty())
        return std::nullopt;
    return m_history.last().outcome;
}

double ProbeFigures::lossPercent() const
{
    return Percent(double(m_lost), double(m_answered + m_late + m_lost));
}

double ProbeFigures::rttAvgUs() const
{
    return hasRtt() ? double(m_rttSum) / double(m_answered) : 0.0;
}

double ProbeFigures::rttMdevUs() const
{
    if (!hasRtt())
        return 0.0;
    const double mean = rttAvgUs();
    // Rounding can leave the difference a hair below zero for equal trips.
    return std::sqrt(std::max(0.0, m_rttSquares / double(m_answered) - mean * mean));
}

QString ProbeFigures::rttSeries(int decimals, QStringView between) const
{
    return MillisecondsSeries({double(m_rttMin), rttAvgUs(), double(m_rttMax), rttMdevUs()},
                              decimals, between);
}

QString ProbeFigures::summary() const
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
        line += QStringLiteral(", rtt ") + rttSeries(2, u" / ") + QStringLiteral(" ms");
    return line;
}

QString ProbeFigures::pingSummary() const
{
    QString text = QString::number(sent()) + QStringLiteral(" packets transmitted, ")
                   + QString::number(m_answered + m_late) + QStringLiteral(" received");
    const auto add = [&](quint64 count, const QString &what) {
        if (count > 0)
            text += QStringLiteral(", ") + what.arg(count);
    };
    add(m_late, QStringLiteral("%1 late"));
    add(m_failed, QStringLiteral("+%1 not sent"));
    add(m_strays, QStringLiteral("%1 stray"));
    add(m_foreign, QStringLiteral("%1 foreign"));
    if (m_answered + m_late + m_lost > 0)
        text += QStringLiteral(", ") + QString::number(lossPercent(), 'g', 6)
                + QStringLiteral("% packet loss");
    if (hasRtt())
        text += QStringLiteral("\nrtt min/avg/max/mdev = ") + rttSeries(3, u"/")
                + QStringLiteral(" ms");
    if (m_connect.count > 0) {
        text += QStringLiteral("\nconnect min/avg/max = ") + minAvgMax(m_connect);
        if (m_handshake.count > 0)
            text += QStringLiteral(" ms, TLS handshake min/avg/max = ") + minAvgMax(m_handshake);
        text += QStringLiteral(" ms");
    }
    return text;
}
