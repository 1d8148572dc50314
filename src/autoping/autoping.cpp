// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "autoping.h"

#include "base/clock.h"

namespace {

// The window judges at its ticks, not by time: no query ever times out
// between them.
ProbeEngine::Options judgedAtTicks()
{
    ProbeEngine::Options options;
    options.matching = ProbeEngine::Matching::Plain;
    options.timeoutUs = options.lateUs = std::numeric_limits<qint64>::max() / 4;
    return options;
}

} // namespace

AutoPing::AutoPing(ProbeLink &link, MsgSink &report, QObject *parent)
    : QObject(parent), m_link(link), m_report(report), m_engine(judgedAtTicks())
{
    // Precise: each tick is due a whole period after the one before was due,
    // not after it ran, so late ticks do not push the later ones back.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(Interval);
    connect(&m_timer, &QTimer::timeout, this, &AutoPing::Timer2_Timer);
}

void AutoPing::start(const QString &peer)
{
    m_on = true;
    m_timer.start();
    m_engine.start(MonotonicUs(), peer);
    m_hasRun = true;
    emit measured();
}

void AutoPing::noteQueryHandedOver(qint64 atUs)
{
    if (!m_engine.isRunning())
        return;
    m_engine.sent(atUs);
    emit querySent();
}

void AutoPing::noteResponse(qint64 atUs)
{
    m_answered = true;
    // Shown at the next tick with the rest: the window redraws its figures
    // once a second, not at every answer as well.
    m_engine.answer(atUs);
}

void AutoPing::stop()
{
    m_on = false;
    m_timer.stop();
    if (!m_engine.isRunning())
        return;
    m_engine.finish();
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
    m_engine.judgeTick();
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
