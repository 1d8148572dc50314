// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "queryclock.h"

void QueryClock::handed(int seq, qint64 atUs, quint64 number)
{
    if (seq >= 0)
        m_queries[size_t(seq % Remembered)] = {seq, atUs, number, false, 0};
}

qint64 QueryClock::answered(int seq, qint64 atUs, bool systemStamped, const SentAt &sentAt)
{
    // A plain answer tells no query (nor is it counted): its time stays.
    if (seq < 0)
        return atUs;
    Query &query = m_queries[size_t(seq % Remembered)];
    if (query.seq != seq)
        return atUs;
    // Another answer to it (a duplicate) is moved as the first was.
    if (query.answered)
        return atUs - query.sendPathUs;
    query.answered = true;
    ++m_use.answered;
    m_use.systemReceived += systemStamped;
    const qint64 stampUs = sentAt(query.number);
    if (stampUs < query.atUs)
        return atUs;
    ++m_use.systemSent;
    query.sendPathUs = stampUs - query.atUs;
    return atUs - query.sendPathUs;
}

QString SystemStampsLine(const QueryClock::Use &use)
{
    if (use.answered == 0)
        return {};
    if (use.systemSent == use.answered && use.systemReceived == use.answered)
        return QStringLiteral("time stamps here: the system's, of every query sent and answer "
                              "received");
    return QStringLiteral("time stamps here: the program's clock for %1 of %2 queries sent and %3 "
                          "of %2 answers received (the system gave no stamp)")
        .arg(use.answered - use.systemSent)
        .arg(use.answered)
        .arg(use.answered - use.systemReceived);
}
