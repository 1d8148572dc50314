// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Prober: a ProbeEngine run on the event loop.  A clock (probeclock.h: its own,
// or the one its run shares) wakes it
// when the engine next has something to do; the time is the monotonic clock
// (base/clock.h), so that a path can time its answers where they arrive.
//
// The path is a function: send(seq, form) hands query seq to the network
// and says when it went, or why it could not.  Answers, foreign datagrams,
// a stream made anew and connection times are told to the prober by the
// path's owner.  What happened is emitted as the engine's events, for the
// lines; finished() when the count was reached and judged or the deadline
// came, and the owner then calls finish().

#include "probeengine.h"

#include <QObject>

#include <functional>
#include <memory>

class ProbeClock;

class Prober : public QObject
{
    Q_OBJECT
public:
    struct Handed
    {
        bool sent = false;
        qint64 atUs = 0; // when it went (sent)
        QString reason;  // why it could not (not sent): a short word
        QString detail;  // and the sentence that tells it
    };
    using Send = std::function<Handed(int seq, ProbeEngine::Form form)>;

    Prober(const ProbeEngine::Options &options, Send send, QObject *parent = nullptr);
    ~Prober() override;

    // Wakes by this clock, shared with the other probers of a run, instead
    // of a clock of its own (probeclock.h).  Set before start().
    void setClock(ProbeClock *clock)
    {
        if (clock)
            m_clock = clock;
    }

    // The run starts now: its first query goes out at once, the next ones
    // in the slots every interval from originUs (base/clock.h; now unless
    // given).
    void start(const QString &peer, std::optional<qint64> originUs = std::nullopt);
    bool isRunning() const { return m_engine.isRunning(); }
    // An answer arrived at atUs, carrying seq when it carried a number.
    void answer(std::optional<int> seq, qint64 atUs,
                ProbeEngine::Token token = ProbeEngine::Token::Absent);
    void foreign(const QString &from);
    // Query seq was refused at once: lost, for reason.
    void refused(int seq, const QString &reason, const QString &detail);
    void restartStream();
    void connected(qint64 us) { m_engine.connected(us); }
    void handshakeDone(qint64 us) { m_engine.handshakeDone(us); }
    // The end: no more queries, what still waits is lost.
    void finish();

    const ProbeFigures &figures() const { return m_engine.figures(); }

signals:
    void happened(const ProbeEngine::Events &events);
    void finished();

private:
    void wake();
    void tell(const ProbeEngine::Events &events, qint64 nowUs);
    void wakeAt(std::optional<qint64> atUs);

    ProbeEngine m_engine;
    Send m_send;
    std::unique_ptr<ProbeClock> m_ownClock; // when no run's clock is given
    ProbeClock *m_clock;
};
