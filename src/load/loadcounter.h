// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The far end's count of a load (loadwire.h): LoadCounter counts one
// sender's pieces, LoadReceiver every sender's, and says when a report is
// due and what it is.
//
// Counting, for the Data pieces of one load in the order they arrive:
//   received      each sequence number once
//   duplicates    a number that came already (within the last Window
//                 numbers behind the highest; an older one is counted as
//                 received and out of order: it cannot be told apart)
//   out of order  a number below the highest that came before it
//   lost          the highest number + 1 (after End: the number the sender
//                 sent), less the received ones; a piece that comes late
//                 is counted back
//   jitter        RFC 3550's interarrival jitter, over the counted pieces in
//                 the order they arrived: D = (Rj - Ri) - (Sj - Si), the
//                 difference of two pieces' one-way transit times, and
//                 J += (|D| - J) / 16
//   delay variation  each piece's one-way transit time (arrival on this
//                 clock less the send time on the sender's: the clocks'
//                 offset cancels) over the fastest piece's: its mean and
//                 largest (RFC 5481's packet delay variation)
//   goodput       the received pieces' bits over the time from the first
//                 counted arrival to the last, the first piece's own bits
//                 left out (a constant rate gives its own rate)
// WarmUp pieces are counted apart and change none of these.
//
// Times are microseconds: the arrival on the receiver's monotonic clock
// (base/clock.h; the responder takes the system's arrival stamp), the send
// time as the piece carries it.

#include "loadwire.h"

#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// A stream's reads so far: a stream's goodput counts its bytes as they were
// read, from the first read with Data to the one that ended the last piece
// (piece by piece, the time of the first piece would count none of its
// bytes, and the read that ends one brings part of the next: on a slow
// path a piece takes seconds).
struct StreamRead
{
    quint64 bytes = 0;      // Data bytes read
    qint64 firstUs = -1;    // the first read with Data; -1: a datagram
    quint64 firstBytes = 0; // Data bytes read by then
};

class LoadCounter
{
public:
    // Numbers behind the highest still told apart (one bit each).
    static constexpr quint64 Window = quint64(1) << 20;
    static constexpr qint64 ReportEveryUs = 1'000'000;

    LoadCounter();

    // A piece (Data, WarmUp or End) that arrived at atUs, bytes long; over
    // a stream, with the stream's reads so far.
    void take(const LoadHeader &header, qint64 atUs, quint64 bytes, const StreamRead &stream = {});
    // A second has passed since the first piece (not warm-up) or the last
    // report.
    bool reportDue(qint64 nowUs) const { return m_heard && nowUs >= m_nextReportUs; }
    // The count now, the interval since the last report closed (the
    // report's number goes up).
    LoadTally report(qint64 nowUs);
    // The count now, nothing changed.
    LoadTally tally(qint64 nowUs) const;
    bool ended() const { return m_ended; }
    qint64 heardUs() const { return m_heardUs; }

private:
    bool seen(quint64 seq) const;
    void mark(quint64 seq);

    bool m_heard = false;
    qint64 m_firstUs = 0;      // the first piece's arrival, warm-up aside
    qint64 m_heardUs = 0;      // the last piece's, of any kind
    qint64 m_nextReportUs = 0; // when the next report is due
    bool m_ended = false;
    quint64 m_endCount = 0; // End: the number sent

    quint64 m_received = 0;
    quint64 m_highest = 0; // the highest number seen (with m_any)
    bool m_any = false;    // a Data piece came
    quint64 m_outOfOrder = 0;
    quint64 m_duplicates = 0;
    quint64 m_bytes = 0;
    quint64 m_firstBytes = 0;
    StreamRead m_stream; // over a stream: its reads at the last Data piece
    quint64 m_warmUp = 0;
    qint64 m_firstDataUs = 0;
    qint64 m_lastDataUs = 0;
    std::vector<quint64> m_bits; // Window bits, a ring by number

    // Transit times (ns) relative to the first piece's, which keeps them
    // small whatever the two clocks' offset.
    qint64 m_transit0 = 0;
    qint64 m_lastTransit = 0;
    double m_jitter = 0; // ns
    qint64 m_minTransit = 0, m_maxTransit = 0;
    double m_sumTransit = 0;
    qint64 m_intervalMaxTransit = 0;
    bool m_intervalAny = false;

    // At the last report.
    quint64 m_reports = 0;
    qint64 m_reportUs = 0;
    quint64 m_lastReceived = 0, m_lastBytes = 0, m_lastLost = 0;
};

// Every sender's loads, apart by the sender's address and port and the
// load's id.
class LoadReceiver
{
public:
    // Loads counted at once; the pieces of more are ignored (told once).
    static constexpr int MaxLoads = 256;
    // A load that stays silent this long has ended: its sender is gone.
    static constexpr qint64 SilenceUs = 5'000'000;
    // An ended load is kept this long to answer its End again.
    static constexpr qint64 KeepEndedUs = 30'000'000;

    // What to tell about a load: a report went out, or it ended.
    struct Told
    {
        QString from; // the sender, as the caller named it
        quint32 id = 0;
        LoadTally tally;
        enum class Why { Second, Ended, Silent } why = Why::Second;
    };
    struct Outcome
    {
        QByteArray reply;         // to send back to the sender; empty: nothing
        std::optional<Told> told; // a line to write
        bool full = false;        // a new load, and MaxLoads are counted
    };

    // A piece (whole: a datagram, or a stream's piece) from the sender at
    // atUs; bytes is its length as it came.  Not a load's piece: nothing.
    Outcome take(const QString &from, const char *data, qsizetype size, qint64 atUs);
    Outcome take(const QString &from, const LoadHeader &header, quint64 bytes, qint64 atUs,
                 const StreamRead &stream = {});
    // The loads that have been silent for SilenceUs end (told), and ended
    // ones are forgotten after KeepEndedUs.
    QList<Told> expire(qint64 nowUs);
    // Loads being counted (not ended).
    int active() const;

private:
    using Key = std::pair<QString, quint32>;
    std::map<Key, LoadCounter> m_loads;
    LoadCounter *m_last = nullptr; // the last piece's load: a burst is one sender's
    Key m_lastKey;
};

// The pieces of a stream (TCP, TLS): headers found in the bytes as they
// come, whatever their split; the padding is skipped.
class LoadStreamReader
{
public:
    struct Piece
    {
        LoadHeader header;
        quint64 bytes = 0; // of the piece, up to its end
    };
    // The pieces that ended in these bytes; false when the stream is no
    // load (a header that is none of ours), and nothing more is read.
    bool feed(const char *data, qsizetype size, QList<Piece> &ended);
    // Bytes of Data pieces taken so far (whole or not).
    quint64 dataBytes() const { return m_dataBytes; }
    // The reads so far, the last one fed at atUs.
    StreamRead read(qint64 atUs);

private:
    char m_header[LoadWire::HeaderBytes];
    int m_have = 0;        // header bytes held
    quint64 m_rest = 0;    // padding of the current piece still to come
    bool m_inData = false; // the current piece is Data
    LoadHeader m_current;
    bool m_broken = false;
    quint64 m_dataBytes = 0;
    StreamRead m_read;
};
