// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// UdpReceiver: takes the datagrams of a bound UDP socket from the system on
// a thread of its own, as fast as they arrive, and keeps them in a bounded
// queue until the user-interface thread takes them one by one.
//
// The window handles one datagram per turn of its event loop and logs each
// one; a burst on a fast network comes much faster than that.  Left in the
// system, the burst would overflow the socket's receive buffer and the
// system would drop what does not fit, so the program would look like a
// lossy network.  The thread does nothing but receive (recvmmsg, up to
// ReceiveBatch datagrams a call) and copy the datagrams into the queue, so
// the system's buffer is emptied as fast as the sender fills it.
//
// The queue holds at most maxDatagrams datagrams and maxBytes bytes (kept in
// blocks of BlockBytes that are given back to the system once read).  A
// datagram that arrives while the queue is full is dropped by the program and
// counted; collect() hands the count over so the loss can be reported.
//
// A socket with IP_RECVERR set (Winsock::setReportRefused) has the
// system's reports of datagrams that found no one listening (ICMP port
// unreachable) taken here as well, and counted in News::refused.
//
// Threads: with OwnThread the constructor starts the thread and the
// destructor stops and joins it, so it never outlives the object.  With
// CallerPulls there is no thread: the owner calls pull() on the
// user-interface thread when the socket is readable, and the system's
// receive buffer is the queue (a program that answers as fast as datagrams
// come needs nothing in between; see Winsock::setUdpBatches).
//
// Datagrams the system itself dropped, its buffer being full, are counted
// with the program's drops: the socket's drop counter (SO_MEMINFO) is read
// at every receive.
//
// wake is called on the receive thread when there is news (datagrams or
// drops) and no earlier wake is still unanswered: it must only post a call
// to the user-interface thread, which then calls collect() and later
// take().  Everything else runs on the user-interface thread.  The socket
// descriptor stays the caller's.

#include "errorqueue.h"
#include "packetinfo.h"

#include <QByteArray>
#include <QtGlobal>

#include <netinet/in.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class UdpReceiver
{
public:
    static constexpr int ReceiveBatch = 64;
    static constexpr qsizetype BlockBytes = 1024 * 1024;

    enum class Threading { OwnThread, CallerPulls };
    // batch: datagrams taken with one call (at most ReceiveBatch); blockBytes:
    // the size of a block of the queue (a socket that expects few datagrams,
    // a probe's, keeps both small: a probe of a thousand targets has a
    // thousand of these).
    UdpReceiver(int fd, int bufferBytes, qsizetype maxDatagrams, qsizetype maxBytes,
                std::function<void()> wake, Threading threading = Threading::OwnThread,
                int batch = ReceiveBatch, qsizetype blockBytes = BlockBytes);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver &) = delete;
    UdpReceiver &operator=(const UdpReceiver &) = delete;

    // A sender as the system gives it: an IPv4 or an IPv6 one, after the
    // socket's family.
    union Sender {
        sockaddr any;
        sockaddr_in v4;
        sockaddr_in6 v6;
    };

    struct Datagram
    {
        QByteArray data;
        Sender sender{};        // its address and port
        bool truncated = false; // it was longer than bufferBytes
        PacketInfo local;       // the local address it came to (known when asked for)
        // When it arrived, by the system's stamp (packetinfo.h, when asked
        // for): microseconds on the monotonic clock; -1 without one.
        qint64 arrivedUs = -1;
    };

    struct News
    {
        qsizetype arrived = 0;   // datagrams queued since the last collect()
        quint64 dropped = 0;     // datagrams dropped at the bound since then
        quint64 refused = 0;     // reports that a datagram found no one listening
        QueuedError lastRefusal; // the last of them: who said so
    };
    News collect();

    // Takes the oldest datagram of the queue; false when it is empty.
    bool take(Datagram &datagram);

    // CallerPulls: takes what the system holds, at most ReceiveBatch
    // datagrams (one call), and its error reports when it holds none; then
    // collect() tells what came.  Never blocks.
    void pull();
    // CallerPulls: pull() takes the error queue first, and hands the system's
    // transmit stamps in it to stamped: the stamp of a query is then known
    // before its answer is read.
    void takeSendStamps(SendStampSeen stamped) { m_sendStamped = std::move(stamped); }

private:
    struct Block
    {
        char *base = nullptr;
        qsizetype used = 0; // written by the receive thread
        qsizetype read = 0; // taken by take()
    };
    void run();
    // Moves up to ReceiveBatch datagrams from the system into the queue with
    // one recvmmsg; the number moved, 0 when none waited, -1 on a failure
    // (errno).  Wakes the owner when it moved any.
    int receiveBatch();
    // Takes the system's error reports of the socket (IP_RECVERR); true
    // when there were any.
    bool takeErrors();
    // Runs add with the mutex held, then wakes the owner unless an earlier
    // wake is still unanswered.
    void addNews(const std::function<void()> &add);
    void store(const char *data, qsizetype size, const Sender &sender, bool truncated,
               const PacketInfo &local, qint64 arrivedUs);
    void releaseBlock(Block &block);

    const int m_fd;
    const int m_bufferBytes;
    const qsizetype m_maxDatagrams;
    const int m_batchSize;
    const qsizetype m_blockBytes;
    const qsizetype m_maxBlocks;
    const std::function<void()> m_wake;
    SendStampSeen m_sendStamped;
    int m_stopFd = -1; // an eventfd: written once to stop the thread
    std::atomic<bool> m_stopping{false};

    std::mutex m_mutex; // guards everything below
    std::deque<Block> m_blocks;
    qsizetype m_count = 0;     // datagrams in the queue
    qsizetype m_announced = 0; // of those, the ones collect() reported
    quint64 m_dropped = 0;     // dropped since the last collect()
    quint64 m_refused = 0;     // ICMP "port unreachable" since the last collect()
    QueuedError m_lastRefusal;
    bool m_wakePending = false;

    // The receiving side's buffers (only one side receives: the thread or
    // pull()).
    // Not cleared when made: a page the system never writes to is never
    // taken from the machine's memory.
    std::unique_ptr<char[]> m_buffers;
    struct Batch;
    std::unique_ptr<Batch> m_batch;

    std::thread m_thread;
};
