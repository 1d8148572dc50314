// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The load's wire format: what `selmarin load` sends and what a responder
// sends back, in band, on the same port (UDP) or connection (TCP, TLS).
//
// Every piece starts with a header of HeaderBytes, numbers big-endian:
//
//   0  magic "SELMLOAD"   8 bytes: no AutoPing text starts so
//   8  version            1 byte (Version)
//   9  kind               1 byte (LoadKind)
//  10  reserved           2 bytes, 0
//  12  load id            4 bytes: the sender's, the same for a whole run
//  16  sequence number    8 bytes: Data and WarmUp from 0, each their own;
//                         End: how many Data pieces were sent in all
//  24  send time          8 bytes: microseconds on the sender's monotonic
//                         clock (base/clock.h), when it was handed to the system
//  32  length             4 bytes: the whole piece, header included
//  36  reserved           4 bytes, 0
//
// A UDP datagram is one piece, padded with zeros to the chosen size (the
// length says it).  Over a stream the sender's pieces follow each other
// (a Data piece: the header and length - HeaderBytes bytes of padding).
//
// The responder's reports (Report once a second, Final at the end) carry
// after the header ReportFields numbers of 8 bytes: the far end's count
// (LoadTally), in the order of its members.

#include "base/numbertext.h"

#include <QByteArray>
#include <QtGlobal>

#include <optional>

enum class LoadKind : quint8 {
    Data = 1,   // counted
    WarmUp = 2, // not counted: the path warms up
    End = 3,    // the sender has sent everything; seq: how many Data pieces
    Report = 4, // the responder's count so far (a second's end)
    Final = 5,  // the responder's count of the whole run
};

struct LoadHeader
{
    LoadKind kind = LoadKind::Data;
    quint32 id = 0;
    quint64 seq = 0;
    qint64 sentUs = 0;
    quint32 length = 0;
};

// The far end's count of one load: the whole run so far, and the interval
// since the report before (reports may be lost: each carries the totals).
struct LoadTally
{
    quint64 received = 0;     // Data pieces counted, each sequence number once
    quint64 expected = 0;     // the highest number seen + 1; after End: the number sent
    quint64 outOfOrder = 0;   // came after one with a higher number
    quint64 duplicates = 0;   // a number that had come already
    quint64 bytes = 0;        // the received pieces' length (UDP payload, or stream bytes)
    quint64 warmUp = 0;       // WarmUp pieces (not counted)
    qint64 jitterNs = 0;      // RFC 3550 interarrival jitter
    qint64 delayVarAvgNs = 0; // one-way delay over the fastest piece's: mean
    qint64 delayVarMaxNs = 0; // ... and the largest
    qint64 spanUs = 0;        // from the first counted piece's arrival to the last's
    quint64 goodputBps = 0;   // bits a second of the received pieces over the span
    quint64 report = 0;       // the report's number: 1, 2, ...
    qint64 elapsedUs = 0;     // from the first piece's arrival to the report
    // The interval since the report before: received pieces, bytes, and
    // its length; lost in it (by the highest number: a piece that comes
    // later is counted back in a later interval).
    quint64 intervalReceived = 0;
    quint64 intervalBytes = 0;
    qint64 intervalUs = 0;
    qint64 intervalLost = 0;
    qint64 intervalDelayVarMaxNs = 0;

    quint64 lost() const { return expected > received ? expected - received : 0; }
    double lossPercent() const { return Percent(double(lost()), double(expected)); }
};

namespace LoadWire {
inline constexpr char Magic[8] = {'S', 'E', 'L', 'M', 'L', 'O', 'A', 'D'};
inline constexpr quint8 Version = 1;
inline constexpr int HeaderBytes = 40;
inline constexpr int ReportFields = 20;
inline constexpr int ReportBytes = HeaderBytes + 8 * ReportFields;
// A Data piece is at least a header; a UDP one at most this.
inline constexpr int MinSize = HeaderBytes;
inline constexpr int MaxDatagram = 65507;

// Whether the bytes start with the magic (a load's piece, whole or not).
bool IsLoad(const char *data, qsizetype size);
inline bool IsLoad(const QByteArray &bytes)
{
    return IsLoad(bytes.constData(), bytes.size());
}
// Writes the header at data (HeaderBytes).
void WriteHeader(char *data, const LoadHeader &header);
// Reads a header; nothing when it is none of ours (magic, version, kind,
// a length below the header's).
std::optional<LoadHeader> ReadHeader(const char *data, qsizetype size);
// A whole piece: the header and zeros up to header.length.
QByteArray Piece(const LoadHeader &header);
// A report (kind Report or Final) with the tally.
QByteArray ReportPiece(LoadKind kind, quint32 id, qint64 sentUs, const LoadTally &tally);
// The tally of a report; nothing when the bytes are no whole report.
std::optional<LoadTally> ReadReport(const char *data, qsizetype size, LoadHeader *header = nullptr);
} // namespace LoadWire
