// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "streamtap.h"

#include "base/clock.h"

#include "udp/errorqueue.h"
#include "udp/packetinfo.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The out-of-order segments the connection has received so far.
quint32 outOfOrder(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_rcv_ooopack : 0;
}

} // namespace

StreamTap *StreamTap::take(int connection, QObject *parent)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return nullptr;
    return new StreamTap(connection, pair[0], pair[1], parent);
}

StreamTap::StreamTap(int connection, int tapEnd, int qtEnd, QObject *parent)
    : QObject(parent),
      m_fd(connection),
      m_tapEnd(tapEnd),
      m_qtEnd(qtEnd),
      // Qt closes its end when it is done; this one keeps the pair's far
      // side open for asking what Qt has not read yet.
      m_qtView(::fcntl(qtEnd, F_DUPFD_CLOEXEC, 0)),
      m_systemIn(new QSocketNotifier(connection, QSocketNotifier::Read, this)),
      m_systemOut(new QSocketNotifier(connection, QSocketNotifier::Write, this)),
      m_qtIn(new QSocketNotifier(tapEnd, QSocketNotifier::Read, this)),
      m_qtOut(new QSocketNotifier(tapEnd, QSocketNotifier::Write, this))
{
    m_stamped = EnableArrivalStamps(connection, true) != ArrivalStamps::None;
    m_outOfOrder = outOfOrder(connection);
    m_emptyAtUs = MonotonicUs();
    m_systemOut->setEnabled(false);
    m_qtOut->setEnabled(false);
    connect(m_systemIn, &QSocketNotifier::activated, this, [this] { fromSystem(); });
    connect(m_systemOut, &QSocketNotifier::activated, this, [this] { toSystem(); });
    connect(m_qtIn, &QSocketNotifier::activated, this, [this] { fromQt(); });
    connect(m_qtOut, &QSocketNotifier::activated, this, [this] { toQt(); });
}

StreamTap::~StreamTap()
{
    ::close(m_fd);
    ::close(m_tapEnd);
    if (m_qtView >= 0)
        ::close(m_qtView);
}

qint64 StreamTap::arrivalOfRead() const
{
    int unread = 0;
    if (m_qtView < 0 || ::ioctl(m_qtView, FIONREAD, &unread) != 0)
        unread = 0;
    const qint64 read = m_passed - unread;
    if (read <= 0)
        return -1;
    // The piece that holds the last byte read; those before it are done with.
    while (m_arrivals.size() > 1 && m_arrivals.front().end < read)
        m_arrivals.pop_front();
    return m_arrivals.empty() ? -1 : m_arrivals.front().atUs;
}

qint64 StreamTap::waiting() const
{
    int unread = 0; // written by Qt, not yet taken here
    if (::ioctl(m_tapEnd, FIONREAD, &unread) != 0)
        unread = 0;
    return m_forSystem.size() + unread;
}

void StreamTap::pump()
{
    fromQt();
    // A write's stamp is queued as it leaves, within the write on most paths.
    takeErrorQueue();
}

void StreamTap::takeErrorQueue()
{
    const qint64 wallAhead = WallAheadUs();
    TakeErrorQueue(
        m_fd, [](const QueuedError &) {},
        [this, wallAhead](std::uint32_t number, std::int64_t ns) {
            // The full offset nearest to what was written that ends in
            // these 32 bits.
            const qint64 last = m_written - 1 - qint64(std::uint32_t(m_written - 1) - number);
            m_departures.push_back({last, ns / 1000 - wallAhead});
            if (m_departures.size() > MaxDepartures)
                m_departures.pop_front();
        });
}

qint64 StreamTap::leftAtUs(qint64 offset)
{
    takeErrorQueue();
    for (const Departure &departure : m_departures)
        if (departure.last >= offset)
            return departure.atUs;
    return -1;
}

// Reads what the connection has, with its arrival stamp, and passes it on.
//
// A read's stamp is when the last segment it took arrived.  Bytes held
// behind a hole (a lost segment sent again) could be read only once it was
// filled, but the system stamps the segments that waited with their own
// arrival, and even gives them the stamp of the filled hole when it merges
// them.  Those reads are told by the system's count of segments that came out
// of order, or by a stamp from before the connection was last seen empty;
// the time they are read is then the best bound there is.
void StreamTap::fromSystem()
{
    const bool reordered = outOfOrder(m_fd) != m_outOfOrder;
    // The system stamps by the wall clock, which may be slewed meanwhile.
    const qint64 wallAhead = WallAheadUs();
    while (!m_peerEnded && m_forQt.size() < Piece) {
        char buffer[Piece];
        alignas(cmsghdr) char control[ReceiveControlSpace];
        iovec part{buffer, sizeof buffer};
        msghdr message = ReceiveMessage(part, control, sizeof control);
        const ssize_t n = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (n > 0) {
            qint64 at = m_stamped ? ReadArrivalUs(message, wallAhead) : -1;
            if (at >= 0 && (reordered || at < m_emptyAtUs))
                at = MonotonicUs();
            m_received += n;
            m_arrivals.push_back({m_received, at});
            if (m_arrivals.size() > MaxArrivals) // Qt is not reading: the oldest go
                m_arrivals.pop_front();
            m_forQt.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The count before the time: a segment that comes between the
            // two is then told by one or the other.
            m_outOfOrder = outOfOrder(m_fd);
            m_emptyAtUs = MonotonicUs();
            // A report on the error queue also wakes the notifier: it is
            // read (the connection's own error, if it meant one, comes on
            // the next read), or the notifier would fire for ever.
            takeErrorQueue();
            break;
        }
        // The peer's FIN (0) or a failure: Qt's side hears of it once all
        // that came before has been passed on.
        m_failure = n < 0 ? errno : 0;
        m_peerEnded = true;
    }
    toQt();
}

void StreamTap::toQt()
{
    while (!m_forQt.isEmpty()) {
        const ssize_t n = ::send(m_tapEnd, m_forQt.constData(), size_t(m_forQt.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        m_passed += n;
        m_forQt.remove(0, n);
    }
    // While Qt's side is full, the connection waits in the system.
    const bool full = !m_forQt.isEmpty();
    m_qtOut->setEnabled(full && !m_retired);
    m_systemIn->setEnabled(!full && !m_peerEnded && !m_retired);
    if (!full && m_peerEnded && !m_qtEnded) {
        m_qtEnded = true;
        ::shutdown(m_tapEnd, SHUT_WR);
    }
}

// Takes what Qt wrote and hands it to the connection.
void StreamTap::fromQt()
{
    while (m_forSystem.size() < Piece) {
        char buffer[Piece];
        const ssize_t n = ::recv(m_tapEnd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        m_taken += n;
        m_forSystem.append(buffer, n);
    }
    toSystem();
}

void StreamTap::toSystem()
{
    while (!m_forSystem.isEmpty() && m_failure == 0) {
        const ssize_t n = ::send(m_fd, m_forSystem.constData(), size_t(m_forSystem.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The connection failed under a write: Qt's side hears of it
            // as the end of the stream, after what had come.
            m_failure = errno;
            m_forSystem.clear();
            m_peerEnded = true;
            toQt();
            break;
        }
        if (n <= 0)
            break;
        m_written += n;
        m_forSystem.remove(0, n);
    }
    const bool full = !m_forSystem.isEmpty() && m_failure == 0;
    m_systemOut->setEnabled(full);
    m_qtIn->setEnabled(!full);
    if (m_retired && !full)
        finish();
}

void StreamTap::retire(bool graceful, QObject *qtSocket)
{
    if (m_retired)
        return;
    m_retired = true;
    setParent(nullptr);
    m_systemIn->setEnabled(false);
    m_qtOut->setEnabled(false);
    if (!graceful || !qtSocket) {
        deleteLater();
        return;
    }
    // What Qt still writes as it closes goes out before the connection's
    // own close (the FIN); the tap waits for Qt's socket to be done.
    m_finishing = false;
    connect(qtSocket, &QObject::destroyed, this, [this] {
        m_finishing = true;
        fromQt();
    });
    QTimer::singleShot(LingerLimitMs, this, [this] { deleteLater(); });
}

void StreamTap::finish()
{
    if (!m_finishing)
        return;
    m_finishing = false;
    deleteLater();
}
