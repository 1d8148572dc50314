// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "probeengine.h"

#include <algorithm>

using Kind = ProbeEngine::Event::Kind;
using Outcome = ProbeFigures::Outcome;

ProbeEngine::ProbeEngine(const Options &options) : m_options(options), m_matching(options.matching)
{}

void ProbeEngine::start(qint64 nowUs, const QString &peer, std::optional<qint64> originUs)
{
    m_originUs = originUs.value_or(nowUs);
    m_figures.reset(peer);
    m_waiting.clear();
    m_matching = m_options.matching;
    m_running = true;
    m_startUs = nowUs;
    // The first query at once, or in its first slot from now on.
    const qint64 interval = m_options.intervalUs;
    m_nextDueUs = nowUs <= m_originUs
                      ? m_originUs
                      : m_originUs + (nowUs - m_originUs + interval - 1) / interval * interval;
    m_nextSeq = 1;
    m_failedRun = 0;
    m_lastReason.clear();
    m_foreignSaid = false;
    m_forgedSaid = false;
    m_echoed = false;
    m_answeredAsks = 0;
    m_echoesDue.clear();
    m_answeredPlain.clear();
    m_owedLost = 0;
}

bool ProbeEngine::isFinished(qint64 nowUs) const
{
    if (!m_running)
        return false;
    // Counted: every query answered or past its timeout (ping -c waits as
    // long for the last one); finish() judges those lost.
    const bool counted = m_options.count > 0 && m_nextSeq > m_options.count
                         && std::all_of(m_waiting.begin(), m_waiting.end(),
                                        [](const Waiting &w) { return w.overdue; });
    const bool overtime = m_options.deadlineUs > 0 && nowUs - m_startUs >= m_options.deadlineUs;
    return counted || overtime;
}

std::optional<int> ProbeEngine::due(qint64 nowUs) const
{
    if (!m_running || (m_options.count > 0 && m_nextSeq > m_options.count) || nowUs < m_nextDueUs)
        return std::nullopt;
    return m_nextSeq;
}

ProbeEngine::Form ProbeEngine::nextForm() const
{
    if (m_matching == Matching::Numbered || m_options.requireToken)
        return Form::Numbered;
    return m_matching == Matching::Plain && m_answeredAsks < m_options.numberedAsks
               ? Form::PlainAndNumbered
               : Form::Plain;
}

// The query after this one is due at the next slot after now: an interval
// after this one was, unless this one came later than that (the slots
// missed are skipped, not sent in a burst).
void ProbeEngine::nextSlot(qint64 nowUs)
{
    const qint64 passed = nowUs >= m_originUs ? (nowUs - m_originUs) / m_options.intervalUs + 1 : 0;
    m_nextDueUs = m_originUs + passed * m_options.intervalUs;
}

ProbeEngine::Events ProbeEngine::sent(qint64 sentUs)
{
    Events events;
    const int seq = m_nextSeq++;
    if (m_failedRun > 0)
        events.append({Kind::Recovered, seq, qint64(m_failedRun), {}, {}});
    m_failedRun = 0;
    m_lastReason.clear();
    m_waiting.push_back({seq, sentUs, false, nextForm() == Form::PlainAndNumbered});
    m_figures.querySent();
    nextSlot(sentUs);
    return events;
}

ProbeEngine::Events ProbeEngine::failed(qint64 nowUs, const QString &reason, const QString &detail)
{
    const int seq = m_nextSeq++;
    m_figures.queryFailed(reason);
    const bool said = reason != m_lastReason;
    m_lastReason = reason;
    ++m_failedRun;
    nextSlot(nowUs);
    return {{Kind::Failed, seq, -1, reason, detail, said, nowUs}};
}

ProbeEngine::Events ProbeEngine::refused(int seq, const QString &reason, const QString &detail)
{
    Events events;
    const auto query = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&](const Waiting &w) { return w.seq == seq; });
    if (query == m_waiting.end())
        return events;
    const qint64 sentUs = query->sentUs;
    m_waiting.erase(query);
    m_figures.queryRefused(seq, reason);
    events.append({Kind::Refused, seq, -1, reason, detail, true, sentUs});
    return events;
}

void ProbeEngine::judge(Events &events, std::deque<Waiting>::iterator query, Outcome outcome,
                        qint64 rttUs)
{
    const int seq = query->seq;
    const qint64 sentUs = query->sentUs;
    if (outcome == Outcome::Lost && m_matching == Matching::Ordered)
        ++m_owedLost;
    m_waiting.erase(query);
    m_figures.judge({outcome, rttUs, seq});
    if (outcome != Outcome::Lost)
        m_figures.setUp(seq, true);
    static constexpr Kind kinds[] = {Kind::Answered, Kind::Late, Kind::Lost};
    events.append({kinds[int(outcome)], seq, rttUs, {}, {}, true, sentUs});
}

void ProbeEngine::stray(Events &events, std::optional<int> seq)
{
    m_figures.strayAnswer();
    events.append({Kind::Stray, seq.value_or(0), -1, {}, {}});
}

ProbeEngine::Events ProbeEngine::answer(qint64 atUs, std::optional<int> seq, Token token)
{
    Events events;
    if (!m_running)
        return events;
    if (m_options.tokens) {
        // A numbered answer must echo the token; a plain one, once the far
        // end echoed it (Numbered), is an asking query's plain echo or a
        // stray (a duplicate cannot be told from a forgery): never an answer.
        while (!m_echoesDue.empty() && atUs - m_echoesDue.front().sentUs > m_options.lateUs)
            m_echoesDue.pop_front();
        if (token == Token::Wrong || (token == Token::Absent && (seq || m_options.requireToken)))
            return forged();
        m_echoed = m_echoed || token == Token::Echoed;
    }
    // A numbered answer: the far end reads numbers, and every answer from
    // now on finds its query by its number.
    if (seq && m_matching == Matching::Plain && m_options.numberedAsks > 0)
        m_matching = Matching::Numbered;
    const auto timed = [&](std::deque<Waiting>::iterator query) {
        const qint64 rtt = std::max<qint64>(0, atUs - query->sentUs);
        judge(events, query,
              !query->overdue && rtt <= m_options.timeoutUs ? Outcome::Answered : Outcome::Late,
              rtt);
    };
    if (m_matching == Matching::Numbered) {
        while (!m_echoesDue.empty() && atUs - m_echoesDue.front().sentUs > m_options.lateUs)
            m_echoesDue.pop_front();
        if (!seq) {
            // The plain copy of an asking query, answered after its numbered one.
            if (!m_echoesDue.empty())
                m_echoesDue.pop_front();
            else
                stray(events, seq);
            return events;
        }
        const auto query = std::find_if(m_waiting.begin(), m_waiting.end(),
                                        [&](const Waiting &w) { return w.seq == *seq; });
        if (query != m_waiting.end()) {
            if (query->asked)
                m_echoesDue.push_back(*query);
            timed(query);
        } else if (!m_answeredPlain.removeOne(*seq))
            stray(events, seq);
        return events;
    }
    if (m_matching == Matching::Ordered && m_owedLost > 0) {
        // The answer of the oldest query judged lost, come at last.
        --m_owedLost;
        stray(events, seq);
        return events;
    }
    if (m_waiting.empty()) {
        stray(events, seq);
        return events;
    }
    // Ordered: the oldest waiting, the stream keeps the order.  Plain: the
    // query in flight (an answer to an overdue one would come late), the
    // oldest overdue one only when none is in flight; sure only when it is
    // the one candidate.
    auto query = m_waiting.begin();
    bool sure = true;
    if (m_matching == Matching::Plain) {
        const auto inFlight = std::find_if(m_waiting.begin(), m_waiting.end(),
                                           [](const Waiting &w) { return !w.overdue; });
        const auto candidates
            = inFlight == m_waiting.end()
                  ? m_waiting.size()
                  : size_t(std::count_if(inFlight, m_waiting.end(),
                                         [](const Waiting &w) { return !w.overdue; }));
        if (inFlight != m_waiting.end())
            query = inFlight;
        sure = candidates == 1;
        if (query->asked) {
            // Its numbered copy may be answered too: that answer is no stray.
            m_answeredPlain.append(query->seq);
            if (++m_answeredAsks == m_options.numberedAsks && m_options.tokens)
                events.append({Kind::Unproven, 0, -1, {}, {}});
        }
    }
    if (sure)
        timed(query);
    else
        judge(events, query, Outcome::Late, -1); // whose answer it is cannot be told
    return events;
}

ProbeEngine::Events ProbeEngine::foreign(const QString &from)
{
    m_figures.foreignDatagram();
    if (std::exchange(m_foreignSaid, true))
        return {};
    return {{Kind::Foreign, 0, -1, from, {}}};
}

ProbeEngine::Events ProbeEngine::forged()
{
    m_figures.foreignDatagram();
    if (std::exchange(m_forgedSaid, true))
        return {};
    return {{Kind::Forged, 0, -1, {}, {}}};
}

ProbeEngine::Events ProbeEngine::advance(qint64 nowUs)
{
    Events events;
    for (Waiting &query : m_waiting) {
        if (!query.overdue && nowUs - query.sentUs > m_options.timeoutUs) {
            query.overdue = true;
            m_figures.setUp(query.seq, false);
            events.append({Kind::NoAnswer, query.seq, -1, {}, {}, true, query.sentUs});
        }
    }
    while (!m_waiting.empty() && nowUs - m_waiting.front().sentUs > m_options.lateUs)
        judge(events, m_waiting.begin(), Outcome::Lost, -1);
    return events;
}

ProbeEngine::Events ProbeEngine::judgeTick()
{
    Events events;
    // Those overdue since the tick before have had their chance.
    while (!m_waiting.empty() && m_waiting.front().overdue)
        judge(events, m_waiting.begin(), Outcome::Lost, -1);
    for (Waiting &query : m_waiting) {
        query.overdue = true;
        m_figures.setUp(query.seq, false);
        events.append({Kind::NoAnswer, query.seq, -1, {}, {}, true, query.sentUs});
    }
    return events;
}

ProbeEngine::Events ProbeEngine::loseAll()
{
    Events events;
    for (Waiting &query : m_waiting) {
        if (!query.overdue) {
            query.overdue = true;
            m_figures.setUp(query.seq, false);
            events.append({Kind::NoAnswer, query.seq, -1, {}, {}, true, query.sentUs});
        }
    }
    while (!m_waiting.empty())
        judge(events, m_waiting.begin(), Outcome::Lost, -1);
    return events;
}

ProbeEngine::Events ProbeEngine::restartStream()
{
    // Answers owed on the old stream went with it.
    Events events = loseAll();
    m_owedLost = 0;
    return events;
}

ProbeEngine::Events ProbeEngine::finish()
{
    Events events = loseAll();
    m_running = false;
    return events;
}

std::optional<qint64> ProbeEngine::nextWakeUs() const
{
    if (!m_running)
        return std::nullopt;
    std::optional<qint64> wake;
    const auto consider = [&](qint64 at) { wake = wake ? std::min(*wake, at) : at; };
    if (m_options.count == 0 || m_nextSeq <= m_options.count)
        consider(m_nextDueUs);
    for (const Waiting &query : m_waiting)
        consider(query.sentUs + (query.overdue ? m_options.lateUs : m_options.timeoutUs) + 1);
    if (m_options.deadlineUs > 0)
        consider(m_startUs + m_options.deadlineUs);
    return wake;
}
