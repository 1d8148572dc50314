// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadwire.h"

#include <QtEndian>

#include <cstring>

namespace LoadWire {

namespace {

// The tally's members in the order of the report.
template<typename Tally, typename Visit>
void eachField(Tally &t, Visit &&visit)
{
    visit(t.received);
    visit(t.expected);
    visit(t.outOfOrder);
    visit(t.duplicates);
    visit(t.bytes);
    visit(t.warmUp);
    visit(t.jitterNs);
    visit(t.delayVarAvgNs);
    visit(t.delayVarMaxNs);
    visit(t.spanUs);
    visit(t.goodputBps);
    visit(t.report);
    visit(t.elapsedUs);
    visit(t.intervalReceived);
    visit(t.intervalBytes);
    visit(t.intervalUs);
    visit(t.intervalLost);
    visit(t.intervalDelayVarMaxNs);
}

} // namespace

bool IsLoad(const char *data, qsizetype size)
{
    return size >= qsizetype(sizeof Magic) && std::memcmp(data, Magic, sizeof Magic) == 0;
}

void WriteHeader(char *data, const LoadHeader &header)
{
    std::memcpy(data, Magic, sizeof Magic);
    data[8] = char(Version);
    data[9] = char(header.kind);
    data[10] = data[11] = 0;
    qToBigEndian<quint32>(header.id, data + 12);
    qToBigEndian<quint64>(header.seq, data + 16);
    qToBigEndian<qint64>(header.sentUs, data + 24);
    qToBigEndian<quint32>(header.length, data + 32);
    qToBigEndian<quint32>(0, data + 36);
}

std::optional<LoadHeader> ReadHeader(const char *data, qsizetype size)
{
    if (size < HeaderBytes || !IsLoad(data, size) || quint8(data[8]) != Version)
        return std::nullopt;
    const auto kind = quint8(data[9]);
    if (kind < quint8(LoadKind::Data) || kind > quint8(LoadKind::Final))
        return std::nullopt;
    LoadHeader header;
    header.kind = LoadKind(kind);
    header.id = qFromBigEndian<quint32>(data + 12);
    header.seq = qFromBigEndian<quint64>(data + 16);
    header.sentUs = qFromBigEndian<qint64>(data + 24);
    header.length = qFromBigEndian<quint32>(data + 32);
    if (header.length < quint32(HeaderBytes))
        return std::nullopt;
    return header;
}

QByteArray Piece(const LoadHeader &header)
{
    QByteArray bytes(qsizetype(std::max<quint32>(header.length, HeaderBytes)), '\0');
    LoadHeader written = header;
    written.length = quint32(bytes.size());
    WriteHeader(bytes.data(), written);
    return bytes;
}

QByteArray ReportPiece(LoadKind kind, quint32 id, qint64 sentUs, const LoadTally &tally)
{
    QByteArray bytes(ReportBytes, '\0');
    WriteHeader(bytes.data(), {kind, id, tally.report, sentUs, quint32(ReportBytes)});
    char *at = bytes.data() + HeaderBytes;
    eachField(tally, [&](auto value) {
        qToBigEndian<quint64>(quint64(value), at);
        at += 8;
    });
    return bytes;
}

std::optional<LoadTally> ReadReport(const char *data, qsizetype size, LoadHeader *header)
{
    const std::optional<LoadHeader> read = ReadHeader(data, size);
    if (!read || (read->kind != LoadKind::Report && read->kind != LoadKind::Final)
        || size < ReportBytes || read->length < quint32(ReportBytes))
        return std::nullopt;
    if (header)
        *header = *read;
    LoadTally tally;
    const char *at = data + HeaderBytes;
    eachField(tally, [&](auto &value) {
        value = std::remove_reference_t<decltype(value)>(qFromBigEndian<quint64>(at));
        at += 8;
    });
    return tally;
}

} // namespace LoadWire
