// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "probeclock.h"

#include "base/clock.h"

#include <algorithm>
#include <vector>

ProbeClock::ProbeClock(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ProbeClock::onTimeout);
}

void ProbeClock::wakeAt(const void *who, qint64 atUs, std::function<void()> wake)
{
    cancel(who);
    m_byWho.emplace(who, m_due.emplace(atUs, Waiting{who, std::move(wake)}));
    if (m_armedForUs < 0 || atUs < m_armedForUs)
        arm();
}

void ProbeClock::cancel(const void *who)
{
    // A wake taken for this turn and not called yet is called no more.
    if (m_waking)
        m_superseded.insert(who);
    const auto it = m_byWho.find(who);
    if (it == m_byWho.end())
        return;
    m_due.erase(it->second);
    m_byWho.erase(it);
    // The timer stays armed: waking with nothing due only arms it again.
}

void ProbeClock::onTimeout()
{
    m_armedForUs = -1;
    // What a millisecond timer may wake a little early for is due too.  The
    // due are taken first: one that asks again at once waits for the next
    // turn of the event loop, as with a timer of its own.
    const qint64 now = MonotonicUs() + 500;
    std::vector<Waiting> due;
    while (!m_due.empty() && m_due.begin()->first <= now) {
        const auto first = m_due.begin();
        m_byWho.erase(first->second.who);
        due.push_back(std::move(first->second));
        m_due.erase(first);
    }
    m_waking = true;
    m_superseded.clear();
    for (const Waiting &waiting : due) {
        // A wake may ask again, for itself or others, or cancel others.
        if (!m_superseded.count(waiting.who))
            waiting.wake();
    }
    m_waking = false;
    arm();
}

void ProbeClock::arm()
{
    if (m_due.empty()) {
        m_timer.stop();
        m_armedForUs = -1;
        return;
    }
    m_armedForUs = m_due.begin()->first;
    m_timer.start(int(std::max<qint64>(0, (m_armedForUs - MonotonicUs() + 999) / 1000)));
}
