#pragma once
// Helpers for the robustness tests: a probe of the event loop's lateness,
// peers that run on their own thread with plain blocking sockets (so their
// work never counts as the window's), and the data records of the log.

#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

// How late the window may answer while a hostile peer runs.  The bench
// (bench/run) holds a Release build to 50 ms; the tests run Debug and
// sanitizer builds next to other tests on a shared machine, so they look for
// a freeze with room to spare.
constexpr int ResponsiveMs = 250;

// Measures the longest delay of a 5 ms timer: how long the event loop was
// kept from handling anything else.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_worst = std::max(m_worst, m_clock.restart() - TickMs); });
        m_clock.start();
        m_timer.start(TickMs);
    }
    qint64 worstMs() const { return m_worst; }

private:
    static constexpr int TickMs = 5;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

inline sockaddr_in LoopbackAddress(quint16 port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// A TCP connection to 127.0.0.1:port, or -1.  Connecting, sending and
// receiving each give up after 10 s.
inline int ConnectTcp(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const sockaddr_in to = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
        return fd;
    ::close(fd);
    return -1;
}

inline bool SendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// What the log holds of data that arrived from 127.0.0.1: the texts of the
// records "-- <time>\t127.0.0.1:\t<text>" joined, without the records of
// other speakers, which may fall between two of them.  (A record runs until
// the next "-- <time>\t"; the tests' clock always says 5:15:09 AM.)
inline QByteArray ReceivedInLog(const QByteArray &log)
{
    const QByteArray record = "-- 5:15:09 AM\t";
    const QByteArray data = "127.0.0.1:\t";
    QByteArray received;
    qsizetype at = log.indexOf(record);
    while (at >= 0) {
        const qsizetype text = at + record.size();
        const qsizetype next = log.indexOf(record, text);
        const qsizetype end = next < 0 ? log.size() : next;
        if (QByteArrayView(log).sliced(text, end - text).startsWith(data))
            received += QByteArrayView(log).sliced(text + data.size(), end - text - data.size());
        at = next;
    }
    return received;
}
