// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "autoping.h"

AutoPing::AutoPing(ProbeLink &link, MsgSink &report, QObject *parent)
    : QObject(parent), m_link(link), m_report(report)
{
    // Precise: each tick is due a whole period after the one before was due,
    // not after it ran, so late ticks do not push the later ones back.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(Interval);
    connect(&m_timer, &QTimer::timeout, this, &AutoPing::Timer2_Timer);
    m_clock.start();
}

void AutoPing::start(const QString &peer)
{
    m_on = true;
    m_timer.start();
    m_stats.reset(peer, PingStats::Matching::Plain, qint64(Interval) * 1000);
    m_hasRun = true;
    m_measuring = true;
    emit measured();
}

void AutoPing::noteQueryHandedOver()
{
    if (!m_measuring)
        return;
    m_stats.querySent(m_clock.nsecsElapsed() / 1000);
    emit querySent();
}

void AutoPing::noteResponse()
{
    m_answered = true;
    if (!m_hasRun)
        return;
    // Shown at the next tick with the rest: the window redraws its figures
    // once a second, not at every answer as well.  After the run the answer
    // to its last query still counts, late, and is shown now.
    const auto judged = m_stats.responseArrived(m_clock.nsecsElapsed() / 1000);
    if (judged && !m_measuring)
        emit measured();
}

void AutoPing::stop()
{
    m_on = false;
    m_timer.stop();
    if (!m_measuring)
        return;
    m_measuring = false;
    m_stats.judgeAll();
    emit measured();
}

void AutoPing::Timer2_Timer()
{
    if (!m_on) {
        m_timer.stop();
        return;
    }
    // The figures judge the query of the tick before, as the check below
    // does; the new query is measured from when the session hands it over.
    m_stats.judgeAll();
    const bool sent = m_link.Send(AutoPingQuery);
    emit measured();
    if (!sent) {
        m_report.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to send ") + AutoPingQuery + CRLF);
        stop();
    }
    if (!m_answered)
        m_report.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to receive a response.") + CRLF);
    else
        m_answered = false;
}
