// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// StreamTap: stands between a connected TCP socket and the Qt socket that
// carries its stream, so that the stream is read with the system's receive
// stamps.
//
// Qt reads a socket with read(), which tells nothing of when the bytes came:
// a round trip timed when Qt has read an answer includes this program's own
// wake-up.  The tap owns the connection's descriptor and reads it with
// recvmsg() and SO_TIMESTAMPING, passing every piece on to one end of a
// local socket pair whose other end Qt takes as its socket; what Qt writes
// there the tap passes on to the connection.  arrivalOfRead() tells when the
// last byte Qt has read so far arrived, by the system's stamp: exact however
// the pieces were split or merged on the way, because the tap counts what it
// passed on and the pair tells what of it Qt has not read yet.
//
// The connection's end is passed on too: the peer's FIN (or a failure, kept
// as failure()) ends Qt's side as a close, so Qt reports the close while the
// connection itself stays open here, for the close probe to read its state.
// When Qt's side closes, what waits for the system goes out and the
// connection is closed.  The tap then deletes itself (retire()).
//
// The system turns its receive stamps on a moment after they are first asked
// for (a deferred switch in the kernel): the first bytes of a program's first
// stamped socket may come without one.
//
// pump() passes on at once what Qt has written, so a query leaves within
// the call that sent it instead of a turn of the event loop later.  The
// system stamps each write to the connection as its last byte leaves
// (SO_TIMESTAMPING's transmit stamp, numbered by the byte): leftAtUs() tells
// when the byte at an offset of what Qt wrote went out.

#include <QByteArray>
#include <QObject>

#include <deque>

class QSocketNotifier;

class StreamTap : public QObject
{
    Q_OBJECT
public:
    // How long a retired tap waits for Qt's side to close and for what it
    // wrote to go out, at most.
    static constexpr int LingerLimitMs = 31000;
    static constexpr int Piece = 64 * 1024;            // read at a time
    static constexpr std::size_t MaxArrivals = 4096;   // pieces remembered
    static constexpr std::size_t MaxDepartures = 1024; // transmit stamps remembered

    // Takes over connection (connected, non-blocking); nullptr, with errno,
    // when the pair cannot be made (connection is then still the caller's).
    static StreamTap *take(int connection, QObject *parent);
    ~StreamTap() override;

    int qtEnd() const { return m_qtEnd; }   // for Qt's socket (which closes it)
    int connection() const { return m_fd; } // the TCP socket itself
    // When the last byte Qt has read arrived, in microseconds on base/clock.h's
    // monotonic clock; -1 before any, or without the system's stamps.
    qint64 arrivalOfRead() const;
    // The system's error that ended the connection (0: none, or the
    // peer's orderly close).
    int failure() const { return m_failure; }
    // Bytes Qt wrote that wait here for the system.
    qint64 waiting() const;
    void pump();
    // The bytes taken from Qt so far: the offset that the next byte Qt
    // writes will have.
    qint64 takenFromQt() const { return m_taken; }
    // When the write that ended with the byte at offset left, by the
    // system's transmit stamp, in microseconds on the monotonic clock; -1
    // when the system gave none (yet, or at all).
    qint64 leftAtUs(qint64 offset);

    // Lets the tap go: at once (graceful false), or once qtSocket (the Qt
    // socket on qtEnd) is gone and what it wrote has gone out, at most
    // LingerLimitMs.  It deletes itself.
    void retire(bool graceful, QObject *qtSocket);

private:
    StreamTap(int connection, int tapEnd, int qtEnd, QObject *parent);
    void fromSystem();
    void toQt();
    void fromQt();
    void toSystem();
    void finish();
    void takeErrorQueue();

    int m_fd;
    int m_tapEnd;
    int m_qtEnd;
    int m_qtView; // a second descriptor of Qt's end, for what Qt has not read
    bool m_stamped = false;
    int m_failure = 0;
    bool m_peerEnded = false; // the connection gave its end (FIN or failure)
    bool m_qtEnded = false;   // Qt's side closed
    bool m_retired = false;
    bool m_finishing = false; // retired, and Qt's socket is gone
    quint32 m_outOfOrder = 0; // the system's count of them when last seen empty
    qint64 m_emptyAtUs = 0;   // ... and then
    QSocketNotifier *m_systemIn;
    QSocketNotifier *m_systemOut;
    QSocketNotifier *m_qtIn;
    QSocketNotifier *m_qtOut;
    QByteArray m_forQt;     // read from the system, not yet taken by the pair
    QByteArray m_forSystem; // written by Qt, not yet taken by the system
    // Pieces passed on to Qt's side: where each ends in the stream, and when
    // it arrived.  Those Qt has read wholly are dropped, but the last.
    struct Arrival
    {
        qint64 end = 0;
        qint64 atUs = -1;
    };
    mutable std::deque<Arrival> m_arrivals;
    qint64 m_received = 0; // bytes read from the system so far
    qint64 m_passed = 0;   // ... and handed to the pair
    qint64 m_taken = 0;    // bytes taken from the pair
    qint64 m_written = 0;  // ... and handed to the system
    // The system's transmit stamps: the offset of the last byte of a write
    // (the system numbers them from the first byte in 32 bits) and when it left.
    struct Departure
    {
        qint64 last = 0;
        qint64 atUs = -1;
    };
    std::deque<Departure> m_departures;
};
