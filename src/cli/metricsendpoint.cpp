// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "metricsendpoint.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// The library's own messages are not for the user's terminal.
void quiet(void *, const char *, va_list) {}

// The whole body for HEAD too: the library sends its length and leaves it out.
MHD_Result respond(MHD_Connection *connection, unsigned status, const QByteArray &body,
                   const char *type)
{
    MHD_Response *response = MHD_create_response_from_buffer(
        size_t(body.size()), const_cast<char *>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    // Every answer ends its connection: a scraper comes back long after the
    // idle timeout anyway, and holds no place under the caps in between.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void *endpoint, MHD_Connection *connection, const char *url, const char *method,
                  const char *, const char *, size_t *, void **)
{
    if (std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0
        && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD.\n",
                       "text/plain; charset=utf-8");
    if (std::strcmp(url, "/metrics") != 0)
        return respond(connection, MHD_HTTP_NOT_FOUND, "The figures are at /metrics.\n",
                       "text/plain; charset=utf-8");
    return respond(connection, MHD_HTTP_OK, static_cast<MetricsEndpoint *>(endpoint)->page(),
                   "text/plain; version=0.0.4; charset=utf-8");
}

void connectionNotice(void *endpoint, MHD_Connection *connection, void **,
                      MHD_ConnectionNotificationCode code)
{
    static_cast<MetricsEndpoint *>(endpoint)->connectionNews(connection,
                                                             code == MHD_CONNECTION_NOTIFY_STARTED);
}

QByteArray clientAddress(MHD_Connection *connection)
{
    const sockaddr *address
        = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr;
    if (address->sa_family == AF_INET6)
        return QByteArray(reinterpret_cast<const char *>(
                              &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr),
                          sizeof(in6_addr));
    return QByteArray(
        reinterpret_cast<const char *>(&reinterpret_cast<const sockaddr_in *>(address)->sin_addr),
        sizeof(in_addr));
}

} // namespace

MetricsEndpoint::MetricsEndpoint(std::function<QString()> page, QObject *parent)
    : QObject(parent), m_page(std::move(page))
{}

MetricsEndpoint::~MetricsEndpoint()
{
    m_readable.reset();
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

QHostAddress MetricsAddress(const QString &where, quint16 *port)
{
    const qsizetype colon = where.lastIndexOf(u':');
    QString host = where.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    bool numeric = false;
    const uint number = where.mid(colon + 1).toUInt(&numeric);
    QHostAddress address;
    if (colon < 0 || !numeric || number == 0 || number > 65535 || !address.setAddress(host))
        return QHostAddress();
    *port = quint16(number);
    return address;
}

bool IsMetricsAddress(const QString &where)
{
    quint16 port = 0;
    return !MetricsAddress(where, &port).isNull();
}

bool MetricsEndpoint::listen(const QString &where, QString *why)
{
    quint16 port = 0;
    const QHostAddress address = MetricsAddress(where, &port);
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    sockaddr_in in4{};
    sockaddr_in6 in6{};
    if (ipv6) {
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(in6.sin6_addr.s6_addr, bytes.c, sizeof bytes.c);
    } else {
        in4.sin_family = AF_INET;
        in4.sin_port = htons(port);
        in4.sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    const sockaddr *bound = ipv6 ? reinterpret_cast<const sockaddr *>(&in6)
                                 : reinterpret_cast<const sockaddr *>(&in4);
    errno = 0;
    m_daemon = MHD_start_daemon(
        MHD_USE_EPOLL | (ipv6 ? MHD_USE_IPv6 : 0), port, nullptr, nullptr, &answer, this,
        MHD_OPTION_SOCK_ADDR, bound, MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(RequestBytes),
        MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
        // One more than the caps, so that a newcomer gets in and the oldest
        // gives way to it (connectionNews).
        MHD_OPTION_CONNECTION_LIMIT, MaxConnections + 1, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        MaxPerAddress + 1, MHD_OPTION_NOTIFY_CONNECTION, &connectionNotice, this,
        MHD_OPTION_EXTERNAL_LOGGER, &quiet, nullptr, MHD_OPTION_END);
    if (!m_daemon) {
        const int error = errno;
        *why = QStringLiteral("The metrics endpoint cannot listen on %1: %2")
                   .arg(where, QString::fromLocal8Bit(error ? std::strerror(error)
                                                            : "the address cannot be used"));
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    m_readable = std::make_unique<QSocketNotifier>(info->epoll_fd, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &MetricsEndpoint::run);
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    connect(m_timer.get(), &QTimer::timeout, this, &MetricsEndpoint::run);
    run();
    return true;
}

// Does what is due (reads, answers, closes what timed out), then waits for
// the next news or the next timeout.
void MetricsEndpoint::run()
{
    // A connection shut down to give way is closed by the library once it
    // sees the shutdown: run again at once, so that its place (from its
    // address, and in all) is free before the next client comes.
    for (int round = 0; round < 4; ++round) {
        MHD_run(m_daemon);
        if (std::none_of(m_held.begin(), m_held.end(), [](const Held &h) { return h.givingWay; }))
            break;
    }
    MHD_UNSIGNED_LONG_LONG timeoutMs = 0;
    if (MHD_get_timeout(m_daemon, &timeoutMs) == MHD_YES)
        m_timer->start(int(std::min<MHD_UNSIGNED_LONG_LONG>(timeoutMs, 60'000)));
    else
        m_timer->stop();
}

// A connection that makes one too many from its address, or in all, takes
// the place of the oldest one there: shut down, it is closed by the library
// in the same run() (the library's own caps are one higher, so that the
// newcomer is let in at all).
void MetricsEndpoint::connectionNews(MHD_Connection *connection, bool started)
{
    if (!started) {
        std::erase_if(m_held, [&](const Held &held) { return held.connection == connection; });
        return;
    }
    const QByteArray from = clientAddress(connection);
    m_held.push_back({connection, from, false});
    Held *oldest = nullptr, *oldestThere = nullptr;
    unsigned all = 0, there = 0;
    for (Held &held : m_held) {
        if (held.givingWay)
            continue;
        ++all;
        oldest = oldest ? oldest : &held;
        if (held.from == from) {
            ++there;
            oldestThere = oldestThere ? oldestThere : &held;
        }
    }
    Held *giving = there > MaxPerAddress ? oldestThere : all > MaxConnections ? oldest : nullptr;
    if (!giving)
        return;
    giving->givingWay = true;
    ::shutdown(
        MHD_get_connection_info(giving->connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd,
        SHUT_RDWR);
}
