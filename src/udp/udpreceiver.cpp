// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "udpreceiver.h"

#include "errorqueue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Each datagram is kept in a block as a header followed by its bytes, the
// next one starting at the next multiple of 8.
struct Header
{
    quint32 size;
    quint8 truncated;
    UdpReceiver::Sender sender;
    PacketInfo local;
    qint64 arrivedUs;
};
constexpr qsizetype HeaderBytes = (sizeof(Header) + 7) & ~qsizetype(7);

qsizetype recordBytes(qsizetype size)
{
    return HeaderBytes + ((size + 7) & ~qsizetype(7));
}

} // namespace

// The receiving side's scratch: ReceiveBatch headers, each with room for a
// sender.
struct UdpReceiver::Batch
{
    explicit Batch(int size)
        : messages(size_t(size)),
          pieces(size_t(size)),
          senders(size_t(size)),
          controls(size_t(size))
    {}
    struct Control
    {
        alignas(cmsghdr) char bytes[ReceiveControlSpace];
    };
    std::vector<mmsghdr> messages;
    std::vector<iovec> pieces;
    std::vector<Sender> senders;
    std::vector<Control> controls;
    quint32 systemDrops = 0; // the socket's drop counter as last seen
};

UdpReceiver::UdpReceiver(int fd, int bufferBytes, qsizetype maxDatagrams, qsizetype maxBytes,
                         std::function<void()> wake, Threading threading, int batch,
                         qsizetype blockBytes)
    : m_fd(fd),
      m_bufferBytes(bufferBytes),
      m_maxDatagrams(std::max<qsizetype>(1, maxDatagrams)),
      m_batchSize(std::clamp(batch, 1, int(ReceiveBatch))),
      m_blockBytes(std::max(blockBytes, recordBytes(bufferBytes))),
      m_maxBlocks(std::max<qsizetype>(1, maxBytes / m_blockBytes)),
      m_wake(std::move(wake)),
      m_buffers(new char[size_t(m_batchSize) * size_t(bufferBytes)]),
      m_batch(std::make_unique<Batch>(m_batchSize))
{
    if (threading == Threading::CallerPulls)
        return;
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

UdpReceiver::~UdpReceiver()
{
    m_stopping.store(true);
    const quint64 one = 1;
    if (m_stopFd >= 0)
        (void) !::write(m_stopFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    for (Block &block : m_blocks)
        releaseBlock(block);
}

int UdpReceiver::receiveBatch()
{
    Batch &b = *m_batch;
    for (int i = 0; i < m_batchSize; ++i) {
        b.pieces[i] = {m_buffers.get() + size_t(i) * size_t(m_bufferBytes), size_t(m_bufferBytes)};
        msghdr &header = b.messages[i].msg_hdr;
        header = {};
        header.msg_name = &b.senders[i];
        header.msg_namelen = sizeof b.senders[i];
        header.msg_iov = &b.pieces[i];
        header.msg_iovlen = 1;
        header.msg_control = b.controls[i].bytes;
        header.msg_controllen = ReceiveControlSpace;
    }
    const int received
        = ::recvmmsg(m_fd, b.messages.data(), unsigned(m_batchSize), MSG_DONTWAIT, nullptr);
    if (received <= 0)
        return received;
    // Datagrams the system dropped because its buffer was full are counted
    // with those the program could not take in time: its drop counter for
    // the socket (from the socket's start; it may wrap).  A drop leaves a
    // full buffer behind, so looking after datagrams came misses none.
    quint32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof memory;
    quint32 systemDropped = 0;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_MEMINFO, memory, &size) == 0
        && size > SK_MEMINFO_DROPS * sizeof(quint32)) {
        systemDropped = memory[SK_MEMINFO_DROPS] - b.systemDrops;
        b.systemDrops = memory[SK_MEMINFO_DROPS];
    }
    const qint64 wallAhead = WallAheadUs();
    addNews([&] {
        for (int i = 0; i < received; ++i) {
            const msghdr &header = b.messages[i].msg_hdr;
            store(static_cast<const char *>(b.pieces[i].iov_base), qsizetype(b.messages[i].msg_len),
                  b.senders[i], (header.msg_flags & MSG_TRUNC) != 0, ReadPacketInfo(header),
                  ReadArrivalUs(header, wallAhead));
        }
        m_dropped += systemDropped;
    });
    return received;
}

void UdpReceiver::addNews(const std::function<void()> &add)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        add();
        wake = !std::exchange(m_wakePending, true);
    }
    if (wake && m_wake)
        m_wake();
}

void UdpReceiver::pull()
{
    if (m_sendStamped) {
        takeErrors();
        receiveBatch();
    } else if (receiveBatch() <= 0)
        takeErrors();
}

void UdpReceiver::run()
{
    pthread_setname_np(pthread_self(), "selmarin-udp");
    pollfd watched[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    while (!m_stopping.load(std::memory_order_relaxed)) {
        const int received = receiveBatch();
        if (received > 0 || (received < 0 && errno == EINTR))
            continue;
        if (takeErrors())
            continue;
        // Empty (or a failure the call has just cleared): wait for more, or
        // for the stop (looked at now and then should the eventfd be missing).
        if (::poll(watched, 2, m_stopFd < 0 ? 100 : -1) < 0 && errno != EINTR)
            return;
        if ((watched[0].revents & POLLNVAL) || watched[1].revents)
            return;
    }
}

bool UdpReceiver::takeErrors()
{
    quint64 refused = 0;
    QueuedError last;
    const int taken = TakeErrorQueue(
        m_fd,
        [&](const QueuedError &report) {
            refused += report.error == ECONNREFUSED;
            last = report;
        },
        m_sendStamped);
    if (refused > 0)
        addNews([&] {
            m_refused += refused;
            m_lastRefusal = last;
        });
    return taken > 0;
}

// Called with the mutex held.
void UdpReceiver::store(const char *data, qsizetype size, const Sender &sender, bool truncated,
                        const PacketInfo &local, qint64 arrivedUs)
{
    const qsizetype need = recordBytes(size);
    if (m_count >= m_maxDatagrams) {
        ++m_dropped;
        return;
    }
    if (m_blocks.empty() || m_blocks.back().used + need > m_blockBytes) {
        if (qsizetype(m_blocks.size()) >= m_maxBlocks) {
            ++m_dropped;
            return;
        }
        void *memory = ::mmap(nullptr, size_t(m_blockBytes), PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            ++m_dropped;
            return;
        }
        m_blocks.push_back({static_cast<char *>(memory)});
    }
    Block &block = m_blocks.back();
    const Header header{quint32(size), quint8(truncated), sender, local, arrivedUs};
    std::memcpy(block.base + block.used, &header, sizeof header);
    std::memcpy(block.base + block.used + HeaderBytes, data, size_t(size));
    block.used += need;
    ++m_count;
}

UdpReceiver::News UdpReceiver::collect()
{
    const std::lock_guard lock(m_mutex);
    News news{m_count - m_announced, m_dropped, m_refused, m_lastRefusal};
    m_refused = 0;
    m_announced = m_count;
    m_dropped = 0;
    m_wakePending = false;
    return news;
}

bool UdpReceiver::take(Datagram &datagram)
{
    const std::lock_guard lock(m_mutex);
    if (m_count == 0)
        return false;
    Block &block = m_blocks.front();
    Header header;
    std::memcpy(&header, block.base + block.read, sizeof header);
    datagram.data = QByteArray(block.base + block.read + HeaderBytes, qsizetype(header.size));
    datagram.sender = header.sender;
    datagram.truncated = header.truncated != 0;
    datagram.local = header.local;
    datagram.arrivedUs = header.arrivedUs;
    block.read += recordBytes(header.size);
    --m_count;
    m_announced = std::max<qsizetype>(0, m_announced - 1);
    if (block.read == block.used) {
        if (m_blocks.size() > 1) {
            // A block that is read to its end is given back at once.
            releaseBlock(block);
            m_blocks.pop_front();
        } else {
            block.used = block.read = 0;
        }
    }
    return true;
}

void UdpReceiver::releaseBlock(Block &block)
{
    ::munmap(block.base, size_t(m_blockBytes));
    block.base = nullptr;
}
