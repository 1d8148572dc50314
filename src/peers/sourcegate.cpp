// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sourcegate.h"

#include <QNetworkInterface>

#include <cstring>

namespace {

constexpr unsigned char Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// Port 0, broadcast and multicast: never a source to answer.
bool badSource(const AddressOctets &a, quint16 port, const QList<AddressOctets> &broadcasts)
{
    if (port == 0 || a[0] == 0xFF)
        return true;
    if (std::memcmp(a.data(), Mapped, 12) != 0)
        return false;
    const unsigned char *v4 = a.data() + 12;
    return (v4[0] & 0xF0) == 0xE0 || v4[0] == 0
           || (v4[0] == 255 && v4[1] == 255 && v4[2] == 255 && v4[3] == 255)
           || broadcasts.contains(a);
}

} // namespace

void SourceGate::setLimits(const ResponderLimits &limits)
{
    m_limits.allow = limits.allow;
    m_limits.perSource = limits.perSource;
    m_limits.total = limits.total;
}

SourceGate::SourceGate(const ResponderLimits &limits)
    : m_limits(limits), m_total{limits.total.burst, 0}
{
    m_limits.sourcesKept = std::max(1, m_limits.sourcesKept);
    for (const QNetworkInterface &adapter : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : adapter.addressEntries())
            if (const auto octets = ReadAddressOctets(entry.broadcast().toString());
                octets && !entry.broadcast().isNull())
                m_broadcasts.append(*octets);
}

size_t SourceGate::Hash::operator()(const AddressOctets &a) const
{
    size_t hash = 14695981039346656037u;
    for (const unsigned char octet : a)
        hash = (hash ^ octet) * 1099511628211u;
    return hash;
}

bool SourceGate::Bucket::take(const AnswerBudget &budget, qint64 nowUs)
{
    if (nowUs > atUs)
        tokens = std::min(budget.burst, tokens + double(nowUs - atUs) * budget.rate / 1e6);
    atUs = std::max(atUs, nowUs);
    // A whole token, give or take the rounding of what trickled in.
    if (tokens < 1 - 1e-9)
        return false;
    tokens -= 1;
    return true;
}

SourceGate::Verdict SourceGate::refuse(Verdict verdict, const AddressOctets &address)
{
    Refused &refused = verdict == Verdict::BadSource ? m_minute.badSource
                       : verdict == Verdict::Outside ? m_minute.outside
                                                     : m_minute.overBudget;
    ++refused.count;
    if (refused.examples.size() < Examples) {
        const QString text = AddressText(address);
        if (!refused.examples.contains(text))
            refused.examples.append(text);
    }
    return verdict;
}

SourceGate::Verdict SourceGate::admit(const AddressOctets &address, quint16 port)
{
    if (badSource(address, port, m_broadcasts))
        return refuse(Verdict::BadSource, address);
    if (!m_limits.allow.isEmpty()
        && std::none_of(m_limits.allow.begin(), m_limits.allow.end(),
                        [&](const AddressRange &range) { return range.contains(address); }))
        return refuse(Verdict::Outside, address);
    return Verdict::Answer;
}

SourceGate::Bucket &SourceGate::bucketOf(const AddressOctets &address, qint64 nowUs)
{
    if (const auto found = m_index.find(address); found != m_index.end()) {
        m_sources.splice(m_sources.begin(), m_sources, found->second);
        return found->second->bucket;
    }
    if (m_sources.size() >= size_t(m_limits.sourcesKept)) {
        m_index.erase(m_sources.back().address);
        m_sources.pop_back();
    }
    m_sources.push_front({address, {m_limits.perSource.burst, nowUs}});
    m_index.emplace(address, m_sources.begin());
    return m_sources.front().bucket;
}

SourceGate::Verdict SourceGate::answer(const AddressOctets &address, quint16 port, qint64 nowUs)
{
    if (const Verdict verdict = admit(address, port); verdict != Verdict::Answer)
        return verdict;
    // The source's own budget first: a flooder spends its own tokens, not
    // the others' share of the budget in all.
    Bucket &source = bucketOf(address, nowUs);
    if (!source.take(m_limits.perSource, nowUs) || !m_total.take(m_limits.total, nowUs))
        return refuse(Verdict::OverBudget, address);
    return Verdict::Answer;
}

// A flood comes from one address text after another: the last is read once.
const AddressOctets *SourceGate::octets(const QString &address)
{
    if (address != m_lastText) {
        m_lastText = address;
        m_lastOctets = ReadAddressOctets(address);
    }
    return m_lastOctets ? &*m_lastOctets : nullptr;
}

SourceGate::Verdict SourceGate::admit(const QString &address, quint16 port)
{
    const AddressOctets *a = octets(address);
    return a ? admit(*a, port) : refuse(Verdict::BadSource, {});
}

SourceGate::Verdict SourceGate::answer(const QString &address, quint16 port, qint64 nowUs)
{
    const AddressOctets *a = octets(address);
    return a ? answer(*a, port, nowUs) : refuse(Verdict::BadSource, {});
}
