// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadcounter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

LoadCounter::LoadCounter() : m_bits(Window / 64, 0) {}

bool LoadCounter::seen(quint64 seq) const
{
    const quint64 at = seq % Window;
    return (m_bits[at / 64] >> (at % 64)) & 1;
}

void LoadCounter::mark(quint64 seq)
{
    const quint64 at = seq % Window;
    m_bits[at / 64] |= quint64(1) << (at % 64);
}

void LoadCounter::take(const LoadHeader &header, qint64 atUs, quint64 bytes,
                       const StreamRead &stream)
{
    // The seconds count from the first piece that is not warm-up, as the
    // sender's do.
    if (!m_heard && header.kind != LoadKind::WarmUp) {
        m_heard = true;
        m_firstUs = atUs;
        m_reportUs = atUs;
        m_nextReportUs = atUs + ReportEveryUs;
    }
    m_heardUs = atUs;
    if (m_ended)
        return; // in flight after the end: the count is closed
    switch (header.kind) {
    case LoadKind::WarmUp: ++m_warmUp; return;
    case LoadKind::End:
        m_ended = true;
        m_endCount = header.seq;
        return;
    case LoadKind::Data: break;
    default: return;
    }
    const quint64 seq = header.seq;
    if (!m_any || seq > m_highest) {
        // The numbers skipped on the way up are not seen yet: their bits go.
        const quint64 from = m_any ? m_highest + 1 : 0;
        if (seq - from >= Window) {
            std::fill(m_bits.begin(), m_bits.end(), 0);
        } else {
            for (quint64 s = from; s < seq; ++s) {
                const quint64 at = s % Window;
                m_bits[at / 64] &= ~(quint64(1) << (at % 64));
            }
        }
        m_highest = seq;
    } else if (m_highest - seq >= Window) {
        // Too old to tell a duplicate: taken as a new piece, out of order.
        ++m_outOfOrder;
    } else if (seen(seq)) {
        ++m_duplicates;
        return;
    } else {
        ++m_outOfOrder;
    }
    const bool first = !m_any;
    m_any = true;
    mark(seq);
    ++m_received;
    m_bytes += bytes;

    const qint64 transitNs = (atUs - header.sentUs) * 1000;
    if (first) {
        m_firstDataUs = atUs;
        m_firstBytes = bytes;
        m_transit0 = transitNs;
        m_lastTransit = 0;
        m_minTransit = m_maxTransit = 0;
    }
    m_lastDataUs = atUs;
    m_stream = stream;
    const qint64 transit = transitNs - m_transit0;
    if (!first) {
        const double d = double(std::llabs(transit - m_lastTransit));
        m_jitter += (d - m_jitter) / 16.0;
    }
    m_lastTransit = transit;
    m_minTransit = std::min(m_minTransit, transit);
    m_maxTransit = std::max(m_maxTransit, transit);
    m_sumTransit += double(transit);
    m_intervalMaxTransit = m_intervalAny ? std::max(m_intervalMaxTransit, transit) : transit;
    m_intervalAny = true;
}

LoadTally LoadCounter::tally(qint64 nowUs) const
{
    // An ended load's time ends with its last piece, not with the End that
    // came after the sender's wait for the last ones.
    if (m_ended && m_any && m_lastDataUs > m_reportUs)
        nowUs = std::min(nowUs, m_lastDataUs);
    LoadTally t;
    t.received = m_received;
    t.expected
        = m_ended ? std::max(m_endCount, m_any ? m_highest + 1 : 0) : (m_any ? m_highest + 1 : 0);
    t.outOfOrder = m_outOfOrder;
    t.duplicates = m_duplicates;
    t.bytes = m_bytes;
    t.warmUp = m_warmUp;
    t.jitterNs = qint64(std::llround(m_jitter));
    if (m_received > 0) {
        t.delayVarAvgNs = qint64(std::llround(m_sumTransit / double(m_received))) - m_minTransit;
        t.delayVarMaxNs = m_maxTransit - m_minTransit;
    }
    const bool stream = m_stream.firstUs >= 0;
    t.spanUs = m_lastDataUs - (stream ? m_stream.firstUs : m_firstDataUs);
    if (t.spanUs > 0)
        t.goodputBps
            = quint64(double(stream ? m_stream.bytes - m_stream.firstBytes : m_bytes - m_firstBytes)
                          * 8e6 / double(t.spanUs)
                      + 0.5);
    t.report = m_reports;
    t.elapsedUs = m_heard ? nowUs - m_firstUs : 0;
    t.intervalReceived = m_received - m_lastReceived;
    t.intervalBytes = m_bytes - m_lastBytes;
    t.intervalUs = m_heard ? nowUs - m_reportUs : 0;
    t.intervalLost = qint64(t.lost()) - qint64(m_lastLost);
    t.intervalDelayVarMaxNs = m_intervalAny ? m_intervalMaxTransit - m_minTransit : 0;
    return t;
}

LoadTally LoadCounter::report(qint64 nowUs)
{
    ++m_reports;
    const LoadTally t = tally(nowUs);
    m_reportUs = nowUs;
    while (m_nextReportUs <= nowUs)
        m_nextReportUs += ReportEveryUs;
    m_lastReceived = t.received;
    m_lastBytes = t.bytes;
    m_lastLost = t.lost();
    m_intervalAny = false;
    return t;
}

LoadReceiver::Outcome LoadReceiver::take(const QString &from, const char *data, qsizetype size,
                                         qint64 atUs)
{
    const std::optional<LoadHeader> header = LoadWire::ReadHeader(data, size);
    if (!header)
        return {};
    return take(from, *header, quint64(size), atUs);
}

LoadReceiver::Outcome LoadReceiver::take(const QString &from, const LoadHeader &header,
                                         quint64 bytes, qint64 atUs, const StreamRead &stream)
{
    Outcome outcome;
    if (header.kind == LoadKind::Report || header.kind == LoadKind::Final)
        return outcome; // a report is the sender's to read
    LoadCounter *counter = nullptr;
    if (m_last && m_lastKey.second == header.id && m_lastKey.first == from) {
        counter = m_last;
    } else {
        Key key{from, header.id};
        auto it = m_loads.find(key);
        if (it == m_loads.end()) {
            if (active() >= MaxLoads) {
                outcome.full = true;
                return outcome;
            }
            it = m_loads.emplace(key, LoadCounter()).first;
        }
        counter = &it->second;
        m_last = counter;
        m_lastKey = std::move(key);
    }
    const bool wasEnded = counter->ended();
    counter->take(header, atUs, bytes, stream);
    if (counter->ended()) {
        // Every End gets the final count (an answer may be lost); it is told once.
        const LoadTally tally = wasEnded ? counter->tally(atUs) : counter->report(atUs);
        outcome.reply = LoadWire::ReportPiece(LoadKind::Final, header.id, atUs, tally);
        if (!wasEnded)
            outcome.told = Told{from, header.id, tally, Told::Why::Ended};
        return outcome;
    }
    if (counter->reportDue(atUs)) {
        const LoadTally tally = counter->report(atUs);
        outcome.reply = LoadWire::ReportPiece(LoadKind::Report, header.id, atUs, tally);
        outcome.told = Told{from, header.id, tally, Told::Why::Second};
    }
    return outcome;
}

QList<LoadReceiver::Told> LoadReceiver::expire(qint64 nowUs)
{
    QList<Told> told;
    for (auto it = m_loads.begin(); it != m_loads.end();) {
        LoadCounter &counter = it->second;
        const qint64 silent = nowUs - counter.heardUs();
        if (!counter.ended() && silent >= SilenceUs) {
            told.append(
                {it->first.first, it->first.second, counter.report(nowUs), Told::Why::Silent});
        } else if (!(counter.ended() && silent >= KeepEndedUs)) {
            ++it;
            continue;
        }
        if (m_last == &counter)
            m_last = nullptr;
        it = m_loads.erase(it);
    }
    return told;
}

int LoadReceiver::active() const
{
    return int(std::count_if(m_loads.begin(), m_loads.end(),
                             [](const auto &load) { return !load.second.ended(); }));
}

bool LoadStreamReader::feed(const char *data, qsizetype size, QList<Piece> &ended)
{
    while (size > 0 && !m_broken) {
        if (m_rest > 0) {
            const quint64 skip = std::min<quint64>(m_rest, quint64(size));
            m_rest -= skip;
            data += skip;
            size -= qsizetype(skip);
            if (m_inData)
                m_dataBytes += skip;
            if (m_rest == 0)
                ended.append({m_current, m_current.length});
            continue;
        }
        const int take = std::min<int>(LoadWire::HeaderBytes - m_have, int(size));
        std::memcpy(m_header + m_have, data, size_t(take));
        m_have += take;
        data += take;
        size -= take;
        // The magic is checked as soon as it is whole enough to refuse.
        if (m_have < LoadWire::HeaderBytes) {
            if (std::memcmp(m_header, LoadWire::Magic,
                            size_t(std::min<int>(m_have, int(sizeof LoadWire::Magic))))
                != 0)
                m_broken = true;
            continue;
        }
        m_have = 0;
        const std::optional<LoadHeader> header
            = LoadWire::ReadHeader(m_header, LoadWire::HeaderBytes);
        if (!header) {
            m_broken = true;
            break;
        }
        m_current = *header;
        m_inData = header->kind == LoadKind::Data;
        if (m_inData)
            m_dataBytes += LoadWire::HeaderBytes;
        m_rest = header->length - quint64(LoadWire::HeaderBytes);
        if (m_rest == 0)
            ended.append({m_current, m_current.length});
    }
    return !m_broken;
}

StreamRead LoadStreamReader::read(qint64 atUs)
{
    if (m_read.firstUs < 0 && m_dataBytes > 0) {
        m_read.firstUs = atUs;
        m_read.firstBytes = m_dataBytes;
    }
    m_read.bytes = m_dataBytes;
    return m_read;
}
