// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ProbeEngine: the rules of every AutoPing probe, the window's and the
// command line's, in one place: when a query is due, which query an answer
// belongs to, when a query is late or lost, when the run is over.  It keeps
// the run's figures (probefigures.h).
//
// It has no clock and no timers of its own: the caller tells it the time
// (microseconds of a monotonic clock) with every call, and asks when it
// next has something to do (nextWakeUs).  So the rules run the same under a
// real event loop and under a test's made-up times.
//
// A run: start(); then, whenever due() names a query, the caller sends it
// (sent) or finds it cannot (failed: the target cannot be reached now; the
// query counts as lost, with the reason); answers are told with answer();
// advance() judges what the time has decided; finish() ends the run.  Each
// call returns what happened as events, in order, for the lines.
//
// Which query an answer belongs to depends on what the answers carry and
// on what the transport keeps:
//
//   Numbered  answers carry the query's number (between two command-line
//             copies over UDP): each goes to its own query, whatever the
//             delays, losses and reordering; even long after its timeout.
//   Ordered   answers come over a stream, in the order of the queries: an
//             answer belongs to the oldest query still waiting.
//   Plain     datagrams with the fixed texts only (a window at the far
//             end): an answer belongs to a query in flight (not overdue),
//             or when none is, to the oldest overdue one; for sure only
//             when it is the one candidate.  Otherwise it cannot be told
//             which, and the oldest candidate is counted late, its time
//             unused.
//
// In all three an answer that comes while no query waits (a duplicate, an
// echo, a stray) is counted as a stray and said, and nothing else changes:
// it cannot shift the matching of the answers after it.  On a stream every
// query is answered in turn, so the answers to queries already judged lost
// are strays still owed, not answers to the queries after them.
//
// A Plain run over datagrams asks whether the far end reads numbers: each
// query goes out numbered and plain until the far end has answered
// numberedAsks of them plainly only (then it does not read numbers), or
// answers one numbered: that makes the run Numbered, and the plain echoes
// of the asking queries are expected and ignored.  So a far end that
// answers only after an outage (or is started after the probe) is asked
// until it answers.
//
// With tokens, the numbered copies carry the target's token and a numbered
// answer counts only when it echoes it (a responder of this version): one
// without it, or with another, is forged and counted as foreign, like a
// datagram from someone else.  A far end that answers the plain copies
// only (a window) cannot be told from a forger: that is said once
// (Unproven), and its plain answers are taken as before.  Once the token
// came back, a plain answer is never an answer (the plain echo of an asking
// query, or a stray): a forger cannot make such a target plain again.
// With requireToken the far end is known to echo it: no plain copies are
// sent, and a plain answer is foreign like a tokenless numbered one.
//
// Time: a query is in flight until its timeout, then overdue: it was said
// to have no answer, but an answer that comes until lateUs after it was
// sent still counts, as late.  Then it is lost.  Every outcome is final
// when it is decided (the figures are counters).  The window judges at its
// ticks instead (judgeTick): a query has until the next tick to be
// answered, and until the tick after to be answered late.

#include "probefigures.h"

#include <QList>
#include <QString>

#include <deque>
#include <optional>

class ProbeEngine
{
public:
    enum class Matching { Plain, Ordered, Numbered };
    struct Options
    {
        int count = 0;                 // queries in all; 0: until stopped
        qint64 intervalUs = 1'000'000; // between two queries
        qint64 timeoutUs = 2'000'000;  // an answer later than this is late
        qint64 lateUs = 4'000'000;     // an answer later than this is no answer at all
        qint64 deadlineUs = 0;         // the run ends this long after its start; 0: never
        Matching matching = Matching::Ordered;
        int numberedAsks = 0; // Plain: queries also go out numbered until this many answered plain
        bool tokens = false;  // the numbered copies carry a token the answers must echo
        bool requireToken
            = false; // tokens: a plain answer is foreign too (Numbered from the start)
    };
    struct Event
    {
        enum class Kind {
            Answered,  // seq, rttUs
            NoAnswer,  // seq: its timeout passed; an answer may still come, late
            Late,      // seq; rttUs, or -1 when it was not matched for sure
            Lost,      // seq: no answer came at all
            Failed,    // seq: it could not be sent, for reason (said: reason changed)
            Refused,   // seq: it was sent and refused at once, for reason (lost)
            Recovered, // the first query sent after failed attempts; seq, count in rttUs
            Stray,     // an answer with no query waiting; seq when it carried one
            Foreign,   // the first datagram from anyone but the target: reason says who
            Forged,    // the first answer without the token (counted as foreign)
            Unproven,  // the far end answers plainly: its answers cannot be told from forged ones
        };
        Kind kind = Kind::Answered;
        int seq = 0;
        qint64 rttUs = -1;
        QString reason;     // a short word (Failed, Refused), or who (Foreign)
        QString detail;     // the sentence that tells it (Failed, Refused)
        bool said = true;   // false: a repeat that a line need not tell again
        qint64 sentUs = -1; // when the query went out (Failed: was tried); -1: unknown
    };
    using Events = QList<Event>;
    // How a query goes out.
    enum class Form { Plain, Numbered, PlainAndNumbered };
    // What an answer carried of the token (Options::tokens).
    enum class Token { Absent, Echoed, Wrong };

    explicit ProbeEngine(const Options &options);

    // A new run against peer (as the figures name it), starting at nowUs:
    // its deadline counts from now.  Its queries are due every interval from
    // originUs, the first at once when not given, else in its first slot
    // from now on: the targets of one run share their slots in groups
    // spread over the interval, so that a thousand of them wake the program
    // a few times an interval, not a thousand times, and never send all at
    // once.
    void start(qint64 nowUs, const QString &peer, std::optional<qint64> originUs = std::nullopt);
    bool isRunning() const { return m_running; }
    // By nowUs the count was reached and every query answered or past its
    // timeout (advance told it), or the deadline came.
    bool isFinished(qint64 nowUs) const;

    // The number of the query due at nowUs, if one is.
    std::optional<int> due(qint64 nowUs) const;
    Form nextForm() const; // how the query due next goes out
    // The next query was handed to the network at sentUs.
    Events sent(qint64 sentUs);
    // The next query could not be sent: the target cannot be reached.
    Events failed(qint64 nowUs, const QString &reason, const QString &detail = {});
    // Query seq was refused at once (a connection refused, a handshake
    // failed): it is lost, for reason.
    Events refused(int seq, const QString &reason, const QString &detail = {});
    // An answer came at atUs, carrying seq when it carried a number, and
    // the token or not.
    Events answer(qint64 atUs, std::optional<int> seq = std::nullopt, Token token = Token::Absent);
    // A datagram came from someone else (from: who).
    Events foreign(const QString &from);
    // A connection was made in us, a TLS handshake took us (figures only).
    void connected(qint64 us) { m_figures.connected(us); }
    void handshakeDone(qint64 us) { m_figures.handshakeDone(us); }

    // What the time decided by nowUs: queries without an answer, lost ones.
    Events advance(qint64 nowUs);
    // The window's tick: the queries of the tick before have had their
    // interval (no answer), those of the tick before that their chance to
    // be answered late (lost).
    Events judgeTick();
    // The stream was made anew: its answers went with the old one, so every
    // query still waiting is lost.
    Events restartStream();
    // The end: every query still waiting is lost; no more queries.
    Events finish();

    // When something is next due: a query, a timeout, a loss, the deadline.
    std::optional<qint64> nextWakeUs() const;

    const ProbeFigures &figures() const { return m_figures; }
    Matching matching() const { return m_matching; }

private:
    struct Waiting
    {
        int seq = 0;
        qint64 sentUs = 0;
        bool overdue = false;
        bool asked = false; // it went out numbered and plain
    };
    void judge(Events &events, std::deque<Waiting>::iterator query, ProbeFigures::Outcome outcome,
               qint64 rttUs);
    void stray(Events &events, std::optional<int> seq);
    Events loseAll();
    // An answer that lacks the token: foreign, said once.
    Events forged();
    void nextSlot(qint64 nowUs);

    Options m_options;
    Matching m_matching = Matching::Ordered;
    ProbeFigures m_figures;
    std::deque<Waiting> m_waiting; // by number
    bool m_running = false;
    qint64 m_startUs = 0;
    qint64 m_originUs = 0; // the slots are every interval from here
    qint64 m_nextDueUs = 0;
    int m_nextSeq = 1;
    // Failed attempts since the last query that went out, and the reason
    // of the last one.
    quint64 m_failedRun = 0;
    QString m_lastReason;
    bool m_foreignSaid = false;
    bool m_forgedSaid = false;
    bool m_echoed = false;  // the far end echoed the token
    int m_answeredAsks = 0; // asking queries answered plainly while Plain
    // Numbered: asking queries whose numbered copy was answered, the answer
    // to their plain copy still expected (until their late bound).
    std::deque<Waiting> m_echoesDue;
    QList<int> m_answeredPlain; // asked queries already answered by their plain echo
    quint64 m_owedLost = 0;     // Ordered: answers still owed to queries judged lost
};
