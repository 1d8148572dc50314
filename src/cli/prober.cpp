// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "prober.h"

#include <QTextStream>

Prober::Prober(const Options &options, std::function<Sent(int, bool)> send, QTextStream &out,
               QObject *parent)
    : QObject(parent), m_options(options), m_send(std::move(send)), m_out(out)
{
    for (QTimer *timer : {&m_interval, &m_expiry, &m_deadline})
        timer->setTimerType(Qt::PreciseTimer);
    m_interval.setInterval(options.intervalMs);
    connect(&m_interval, &QTimer::timeout, this, &Prober::sendQuery);
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &Prober::expire);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { emit done(false); });
}

void Prober::start(const QString &peer)
{
    static constexpr PingStats::Matching matching[]
        = {PingStats::Matching::Ordered, PingStats::Matching::Plain, PingStats::Matching::Numbered};
    m_stats.reset(peer, matching[int(m_options.kind)], qint64(m_options.timeoutMs) * 1000);
    m_clock.start();
    m_running = true;
    if (m_options.deadlineMs > 0)
        m_deadline.start(m_options.deadlineMs);
    m_interval.start();
    sendQuery();
}

void Prober::sendQuery()
{
    if (!m_running)
        return;
    const int seq = m_stats.sent() + 1;
    // Timed from before the send: what follows it (the log's record of the
    // query) must not shorten the round trip.
    const qint64 sentUs = nowUs();
    Sent sent = m_send(seq, m_stats.matching() == PingStats::Matching::Numbered);
    // The first datagram asks whether the far end reads numbers.
    if (sent == Sent::Sent && seq <= NumberedAsks && m_options.kind == Kind::Datagrams
        && m_stats.matching() == PingStats::Matching::Plain)
        sent = m_send(seq, true);
    if (sent == Sent::Failed) {
        emit done(true);
        return;
    }
    m_stats.querySent(sentUs);
    if (m_options.count > 0 && m_stats.sent() >= m_options.count)
        m_interval.stop();
    armExpiry();
}

void Prober::answerArrived(int seq)
{
    if (!m_running)
        return;
    // A numbered answer: the far end reads numbers, every answer from now
    // on finds its query.
    if (seq > 0 && m_stats.matching() == PingStats::Matching::Plain)
        m_stats.setMatching(PingStats::Matching::Numbered);
    if (const auto judged
        = m_stats.responseArrived(nowUs(), seq > 0 ? std::optional(seq) : std::nullopt))
        tell(*judged);
    armExpiry();
    checkDone();
}

void Prober::refused(int seq, const QString &reason)
{
    if (!m_running)
        return;
    if (const auto judged = m_stats.lose(seq))
        tell(*judged, reason);
    armExpiry();
    checkDone();
}

void Prober::reconnected()
{
    for (const PingStats::Judged &judged : m_stats.restartStream())
        tell(judged);
    armExpiry();
    checkDone();
}

void Prober::expire()
{
    for (const PingStats::Judged &judged : m_stats.expire(nowUs()))
        tell(judged);
    armExpiry();
    checkDone();
}

void Prober::armExpiry()
{
    if (const auto due = m_stats.nextExpiryUs())
        m_expiry.start(int(std::max<qint64>(0, (*due - nowUs() + 999) / 1000)));
    else
        m_expiry.stop();
}

void Prober::checkDone()
{
    if (m_running && m_options.count > 0 && m_stats.sent() >= m_options.count
        && m_stats.waiting() == 0)
        emit done(false);
}

void Prober::finish()
{
    if (!m_running)
        return;
    m_running = false;
    for (QTimer *timer : {&m_interval, &m_expiry, &m_deadline})
        timer->stop();
    for (const PingStats::Judged &judged : m_stats.judgeAll())
        tell(judged);
}

// One line per judged query, as ping writes one per reply.
void Prober::tell(const PingStats::Judged &judged, const QString &reason)
{
    if (m_options.quiet)
        return;
    const bool connects = m_options.kind == Kind::Connects;
    static const char *const words[2][3]
        = {{"answer from ", "late answer from ", "no answer from "},
           {"connected to ", "late connection to ", "no connection to "}};
    m_out << words[connects][int(judged.outcome)] << m_stats.peer() << ": seq=" << judged.seq;
    if (judged.outcome == PingStats::Outcome::Answered)
        m_out << " time=" << QString::number(double(judged.rttUs) / 1000.0, 'f', 3) << " ms";
    if (!reason.isEmpty())
        m_out << " (" << reason << ')';
    m_out << '\n';
    m_out.flush();
}
