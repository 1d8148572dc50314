// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "prober.h"

#include "base/clock.h"
#include "probeclock.h"

Prober::Prober(const ProbeEngine::Options &options, Send send, QObject *parent)
    : QObject(parent),
      m_engine(options),
      m_send(std::move(send)),
      m_ownClock(std::make_unique<ProbeClock>()),
      m_clock(m_ownClock.get())
{}

Prober::~Prober()
{
    wakeAt(std::nullopt);
}

void Prober::start(const QString &peer, std::optional<qint64> originUs)
{
    m_engine.start(MonotonicUs(), peer, originUs);
    wake();
}

void Prober::wake()
{
    const qint64 now = MonotonicUs();
    ProbeEngine::Events events = m_engine.advance(now);
    if (const auto seq = m_engine.due(now)) {
        const Handed handed = m_send(*seq, m_engine.nextForm());
        events += handed.sent ? m_engine.sent(handed.atUs)
                              : m_engine.failed(now, handed.reason, handed.detail);
    }
    tell(events, now);
}

void Prober::answer(std::optional<int> seq, qint64 atUs, ProbeEngine::Token token)
{
    ProbeEngine::Events events = m_engine.advance(atUs);
    events += m_engine.answer(atUs, seq, token);
    tell(events, atUs);
}

void Prober::foreign(const QString &from)
{
    tell(m_engine.foreign(from), MonotonicUs());
}

void Prober::refused(int seq, const QString &reason, const QString &detail)
{
    tell(m_engine.refused(seq, reason, detail), MonotonicUs());
}

void Prober::restartStream()
{
    tell(m_engine.restartStream(), MonotonicUs());
}

void Prober::finish()
{
    wakeAt(std::nullopt);
    if (!m_engine.isRunning())
        return;
    const ProbeEngine::Events events = m_engine.finish();
    if (!events.isEmpty())
        emit happened(events);
}

// Tells what happened, then sleeps until the engine's next moment.
void Prober::tell(const ProbeEngine::Events &events, qint64 nowUs)
{
    if (!events.isEmpty())
        emit happened(events);
    if (!m_engine.isRunning())
        return;
    if (m_engine.isFinished(nowUs)) {
        wakeAt(std::nullopt);
        emit finished();
        return;
    }
    wakeAt(m_engine.nextWakeUs());
}

// Sleeps until atUs (nothing: until told).
void Prober::wakeAt(std::optional<qint64> atUs)
{
    if (atUs)
        m_clock->wakeAt(this, *atUs, [this] { wake(); });
    else
        m_clock->cancel(this);
}
