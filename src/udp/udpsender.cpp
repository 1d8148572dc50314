// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "udpsender.h"

#include "batchsend.h"

#include <cerrno>
#include <utility>

#include <poll.h>
#include <pthread.h>

UdpSender::UdpSender(int fd, std::function<void()> wake) : m_fd(fd), m_wake(std::move(wake))
{
    m_thread = std::thread([this] { run(); });
}

UdpSender::~UdpSender()
{
    flush();
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_work.notify_one();
    m_thread.join();
}

void UdpSender::queue(const QByteArray &bytes, const sockaddr_storage &target, socklen_t length,
                      const PacketInfo &from)
{
    m_batch.push_back({bytes, target, length, from});
}

void UdpSender::flush()
{
    if (m_batch.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    const bool quiet = now - std::exchange(m_lastFlush, now) > QuietTime;
    {
        std::unique_lock lock(m_mutex);
        // A few datagrams after a quiet while go out from here: waking the
        // thread would add its wake-up time to each answer, which a probe
        // measures.
        if (quiet && m_backlog == 0 && qsizetype(m_batch.size()) <= InlineMost) {
            lock.unlock();
            if (sendAll(m_batch))
                wakeOwner();
            m_batch.clear();
            return;
        }
        m_progress.wait(lock, [this] { return m_backlog < MaxBacklog; });
        m_backlog += qsizetype(m_batch.size());
        if (m_handed.empty()) {
            m_handed.swap(m_batch);
        } else {
            m_handed.insert(m_handed.end(), std::make_move_iterator(m_batch.begin()),
                            std::make_move_iterator(m_batch.end()));
            m_batch.clear();
        }
    }
    m_work.notify_one();
}

UdpSender::Failures UdpSender::collect()
{
    const std::lock_guard lock(m_mutex);
    m_wakePending = false;
    return std::exchange(m_failures, Failures{});
}

void UdpSender::run()
{
    pthread_setname_np(pthread_self(), "selmarin-send");
    std::vector<Datagram> taken;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_work.wait(lock, [this] { return m_stopping || !m_handed.empty(); });
            if (m_handed.empty())
                return; // stopping, and everything is sent
            taken.swap(m_handed);
        }
        const bool failed = sendAll(taken);
        {
            const std::lock_guard lock(m_mutex);
            m_backlog -= qsizetype(taken.size());
        }
        m_progress.notify_one();
        if (failed)
            wakeOwner();
        taken.clear();
    }
}

bool UdpSender::sendAll(std::vector<Datagram> &datagrams)
{
    OutDatagram batch[BatchMost];
    quint64 failed = 0;
    int error = 0;
    for (size_t from = 0; from < datagrams.size();) {
        const size_t count = std::min(BatchMost, datagrams.size() - from);
        for (size_t i = 0; i < count; ++i) {
            const Datagram &d = datagrams[from + i];
            batch[i] = {d.bytes.constData(), size_t(d.bytes.size()), &d.target, d.length, &d.from};
        }
        const int sent = SendBatch(m_fd, batch, count, 0);
        if (sent < 0 && errno == EINTR)
            continue;
        // The system's send buffer is full (a busy interface): wait for room
        // a while, as a blocking socket would.
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{m_fd, POLLOUT, 0};
            if (::poll(&room, 1, RoomWaitMs) > 0)
                continue;
            errno = EAGAIN;
        }
        if (sent <= 0) {
            // The first of them was refused: counted, and the rest go on.
            ++failed;
            error = errno;
            ++from;
            continue;
        }
        from += size_t(sent);
    }
    if (failed == 0)
        return false;
    const std::lock_guard lock(m_mutex);
    m_failures.count += failed;
    m_failures.error = error;
    return true;
}

void UdpSender::wakeOwner()
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        wake = !m_wakePending;
        m_wakePending = true;
    }
    if (wake)
        m_wake();
}
