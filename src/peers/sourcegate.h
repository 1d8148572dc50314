// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// SourceGate: whom a responder answers, and how much (base/responderlimits.h).
//
// - Never port 0, a broadcast (255.255.255.255, a subnet broadcast of this
//   machine's adapters, read when the gate is made) or a multicast source
//   (224.0.0.0/4, ff00::/8), nor 0.0.0.0/8: a forged query from one of them
//   would have its answer go to many, or to no one.
// - Only the allowed ranges, when there are any.
// - A budget of answers per source address and in all, each a token bucket
//   (rate and burst).  The sources' buckets are kept in a table of at most
//   sourcesKept, the one heard from the longest ago forgotten to make room:
//   a flood forged from millions of addresses takes no more memory than
//   that, and what a forgotten source gets back (a full burst) still comes
//   out of the budget in all.
//
// What was refused is counted for a line a minute, with a few of the
// sources as examples; nothing is told per datagram or connection.

#include "base/responderlimits.h"

#include <QStringList>

#include <list>
#include <unordered_map>

class SourceGate
{
public:
    enum class Verdict { Answer, BadSource, Outside, OverBudget };
    static constexpr int Examples = 3;

    // What was refused since the last minute(), and a few of whom.
    struct Refused
    {
        quint64 count = 0;
        QStringList examples;
    };
    struct Minute
    {
        Refused badSource, outside, overBudget;
    };

    explicit SourceGate(const ResponderLimits &limits);

    // Whether the address may talk to the responder at all (a connection,
    // a load's piece): the bad sources and the allow-list.
    Verdict admit(const AddressOctets &address, quint16 port);
    // The same, and an answer to it is taken from the budgets (nowUs on
    // the monotonic clock, base/clock.h).
    Verdict answer(const AddressOctets &address, quint16 port, qint64 nowUs);
    // The same for an address's text, as the sockets give it.
    Verdict admit(const QString &address, quint16 port);
    Verdict answer(const QString &address, quint16 port, qint64 nowUs);

    // The allow-list and budgets of limits from now on (the table's size
    // stays); what each source has left of its budget stays, never more
    // than the new burst.
    void setLimits(const ResponderLimits &limits);

    Minute minute() { return std::exchange(m_minute, {}); }
    size_t sourcesKept() const { return m_sources.size(); }

private:
    struct Bucket
    {
        double tokens = 0;
        qint64 atUs = 0;
        // Takes one token, refilled since atUs; false when there is none.
        bool take(const AnswerBudget &budget, qint64 nowUs);
    };
    struct Source
    {
        AddressOctets address;
        Bucket bucket;
    };
    struct Hash
    {
        size_t operator()(const AddressOctets &a) const;
    };
    Verdict refuse(Verdict verdict, const AddressOctets &address);
    const AddressOctets *octets(const QString &address);
    Bucket &bucketOf(const AddressOctets &address, qint64 nowUs);

    ResponderLimits m_limits;
    QList<AddressOctets> m_broadcasts; // this machine's subnet broadcasts
    Bucket m_total;
    // Most recently heard first.
    std::list<Source> m_sources;
    std::unordered_map<AddressOctets, std::list<Source>::iterator, Hash> m_index;
    Minute m_minute;
    QString m_lastText; // the last address text read, and its octets
    std::optional<AddressOctets> m_lastOctets;
};
