// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// UdpSender: sends a UDP socket's datagrams from a thread of its own, a
// batch at a time.
//
// A responder that answers tens of thousands of queries a second spends
// about as much time in the system's send path as in everything else it
// does per query (reading, deciding, writing the lines).  With the sending
// on a second thread, both run at once on a machine with two cores or more.
// The user-interface thread queues the datagrams of a turn (queue) and hands
// them over at its end (flush); the thread sends them with sendmmsg, in
// order.  A turn of a few datagrams after a quiet while is sent by flush
// itself: at a probe's pace the answer is not delayed by the thread's
// wake-up, and under load the thread still takes the sending.  Should the thread fall behind by
// more than MaxBacklog datagrams, flush waits for it, so memory stays bounded and the sender slows
// down to what the system takes.
//
// A datagram the system refuses is a failure of the socket: it is counted
// with its error, and wake is called (as UdpReceiver does: only to post a
// call to the user-interface thread, once until collect() is called; from
// either thread), and the owner then reports it.  The datagrams after it are still sent.
//
// The destructor sends what was handed over, then stops and joins the
// thread: destroy the sender before closing the descriptor, which stays the
// caller's.

#include "packetinfo.h"

#include <QByteArray>
#include <QtGlobal>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class UdpSender
{
public:
    static constexpr qsizetype MaxBacklog = 4096;
    // A turn of at most InlineMost datagrams, QuietTime or more after the
    // last, is sent by flush itself.
    static constexpr qsizetype InlineMost = 4;
    static constexpr std::chrono::microseconds QuietTime{1000};
    // A full send buffer is waited for this long before a datagram fails.
    static constexpr int RoomWaitMs = 200;

    UdpSender(int fd, std::function<void()> wake);
    ~UdpSender();
    UdpSender(const UdpSender &) = delete;
    UdpSender &operator=(const UdpSender &) = delete;

    // User-interface thread: adds a datagram to the turn's batch.
    // from: the local address to send from (known when the datagram
    // answers one that came to it).
    void queue(const QByteArray &bytes, const sockaddr_storage &target, socklen_t length,
               const PacketInfo &from = {});
    // User-interface thread: hands the batch to the thread.
    void flush();

    struct Failures
    {
        quint64 count = 0; // datagrams the system refused since the last collect()
        int error = 0;     // errno of the last of them
    };
    Failures collect();

private:
    struct Datagram
    {
        QByteArray bytes;
        sockaddr_storage target;
        socklen_t length;
        PacketInfo from;
    };
    void run();
    // Sends them in order; true when the system refused any (counted).
    bool sendAll(std::vector<Datagram> &datagrams);
    void wakeOwner();

    const int m_fd;
    const std::function<void()> m_wake;
    std::vector<Datagram> m_batch; // the user-interface thread's, not handed over yet
    std::chrono::steady_clock::time_point m_lastFlush;

    std::mutex m_mutex;                 // guards everything below
    std::condition_variable m_work;     // the thread waits for datagrams or the stop
    std::condition_variable m_progress; // flush waits for the backlog to shrink
    std::vector<Datagram> m_handed;     // handed over, not taken by the thread yet
    qsizetype m_backlog = 0;            // handed over and not sent yet
    bool m_stopping = false;
    Failures m_failures;
    bool m_wakePending = false;

    std::thread m_thread;
};
