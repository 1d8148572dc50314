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

void PingStats::reset(const QString &peer)
{
    *this = PingStats();
    m_peer = peer;
}

void PingStats::tick()
{
    judgeInFlight();
}

void PingStats::querySent(qint64 timeUs)
{
    // A query sent while another is still in flight (a step without its
    // tick) ends the other's interval.
    judgeInFlight();
    m_inFlight = InFlight{timeUs, std::nullopt};
}

void PingStats::responseArrived(qint64 timeUs)
{
    if (m_inFlight && !m_inFlight->rttUs) {
        m_inFlight->rttUs = std::max<qint64>(0, timeUs - m_inFlight->sentUs);
        return;
    }
    const auto lost = std::find_if(m_history.begin(), m_history.end(),
                                   [](const Judged &j) { return j.outcome == Outcome::Lost; });
    if (lost == m_history.end())
        return;
    lost->outcome = Outcome::Late;
    --m_lost;
    ++m_late;
}

void PingStats::judgeInFlight()
{
    if (!m_inFlight)
        return;
    Judged judged;
    if (const auto rtt = m_inFlight->rttUs) {
        judged = {Outcome::Answered, *rtt};
        m_rttMin = m_answered == 0 ? *rtt : std::min(m_rttMin, *rtt);
        m_rttMax = std::max(m_rttMax, *rtt);
        m_rttSum += *rtt;
        m_rttSquares += double(*rtt) * double(*rtt);
        ++m_answered;
    } else {
        ++m_lost;
    }
    m_inFlight.reset();
    if (m_history.size() == HistoryLength)
        m_history.removeFirst();
    m_history.append(judged);
}

double PingStats::lossPercent() const
{
    return sent() == 0 ? 0.0 : 100.0 * m_lost / sent();
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
    if (sent() > 0)
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
    if (sent() > 0)
        text += QStringLiteral(", ") + QString::number(lossPercent(), 'g', 6)
                + QStringLiteral("% packet loss");
    if (hasRtt())
        text += QStringLiteral("\nrtt min/avg/max/mdev = ") + milliseconds(m_rttMin, 3) + u'/'
                + milliseconds(rttAvgUs(), 3) + u'/' + milliseconds(m_rttMax, 3) + u'/'
                + milliseconds(rttMdevUs(), 3) + QStringLiteral(" ms");
    return text;
}
