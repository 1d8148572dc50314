// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// QueryClock: times a datagram probe's round trips from the system's stamps
// at both ends where it gives them.
//
// The engine times a query from when the program handed it over and its
// answer from when it arrived (the system's receive stamp).  The system's
// transmit stamp of the query (udp/sendstamps.h) comes a little later, on
// the socket's error queue; the answer is read after it.  The answer's
// time is then moved back by the query's way through the system (its stamp
// less the time it was handed over), so that the engine's round trip runs
// from stamp to stamp and this program's delays are not the path's.  An
// answer whose query has no stamp (none came, or not before the answer;
// one earlier than the query; sentAt tells only a send's own) keeps its time:
// the program's clock stands in for that query, and use() counts how
// often.

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

class QueryClock
{
public:
    static constexpr int Remembered = 1024;

    struct Use
    {
        quint64 answered = 0;       // numbered queries answered (each once)
        quint64 systemSent = 0;     // ... timed from the system's transmit stamp
        quint64 systemReceived = 0; // ... whose answer had the system's receive stamp
    };

    // When send number left by the system's stamp, -1 when not known.
    using SentAt = std::function<qint64(quint64 number)>;

    // Query seq was handed over at atUs, as the socket's send number.
    void handed(int seq, qint64 atUs, quint64 number);
    // An answer to seq arrived at atUs (systemStamped: by the system's
    // receive stamp): the time to tell the engine.
    qint64 answered(int seq, qint64 atUs, bool systemStamped, const SentAt &sentAt);
    const Use &use() const { return m_use; }

private:
    struct Query
    {
        int seq = -1;
        qint64 atUs = 0;
        quint64 number = 0;
        bool answered = false;
        qint64 sendPathUs = 0; // the stamp less atUs, once answered
    };
    std::vector<Query> m_queries = std::vector<Query>(Remembered);
    Use m_use;
};

// The summary's line of which clock timed the answered queries, "time
// stamps here: ...".
QString SystemStampsLine(const QueryClock::Use &use);
