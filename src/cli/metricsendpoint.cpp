// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "metricsendpoint.h"

#include "base/clock.h"
#include "tls/certexpiry.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// The library's own messages are not for the user's terminal.
void quiet(void *, const char *, va_list) {}

// TLS 1.2 and 1.3, AEAD suites only (no CBC), key exchanges with forward
// secrecy only, in the server's order.
constexpr char Priorities[]
    = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
      "+CHACHA20-POLY1305:-MAC-ALL:+AEAD:-KX-ALL:+ECDHE-RSA:+ECDHE-ECDSA:-SIGN-RSA-SHA1:-SIGN-"
      "ECDSA-SHA1:"
      "%SERVER_PRECEDENCE";
constexpr char Tls13Priorities[]
    = "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
      "+CHACHA20-POLY1305:-MAC-ALL:+AEAD:-SIGN-RSA-SHA1:-SIGN-ECDSA-SHA1:%SERVER_PRECEDENCE";

constexpr char PlainText[] = "text/plain; charset=utf-8";

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
    if (status == MHD_HTTP_UNAUTHORIZED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE,
                                "Basic realm=\"selmarin\"");
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE)
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "1");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void *endpoint, MHD_Connection *connection, const char *url, const char *method,
                  const char *, const char *, size_t *, void **)
{
    if (std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0
        && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD.\n", PlainText);
    switch (static_cast<MetricsEndpoint *>(endpoint)->admits(connection)) {
    case MetricsEndpoint::Admission::In: break;
    case MetricsEndpoint::Admission::Waiting:
        return MHD_YES; // asked again once the password was checked
    case MetricsEndpoint::Admission::NoCertificate:
        return respond(connection, MHD_HTTP_FORBIDDEN,
                       "A client certificate that the client CA signed is needed.\n", PlainText);
    case MetricsEndpoint::Admission::NoPassword:
        return respond(connection, MHD_HTTP_UNAUTHORIZED, "A user and password are needed.\n",
                       PlainText);
    case MetricsEndpoint::Admission::Busy:
        return respond(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                       "Too many passwords to check; try again in a second.\n", PlainText);
    }
    if (std::strcmp(url, "/metrics") != 0)
        return respond(connection, MHD_HTTP_NOT_FOUND, "The figures are at /metrics.\n", PlainText);
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

MetricsEndpoint::MetricsEndpoint(std::function<QString()> page, std::function<QDateTime()> now,
                                 QObject *parent)
    : QObject(parent), m_page(std::move(page)), m_now(std::move(now))
{
    m_checker.setMaxThreadCount(1);
}

MetricsEndpoint::~MetricsEndpoint()
{
    // The checks under way end first (their verdicts are not wanted), and
    // the connections that waited for them are given back to the library,
    // which closes them.
    m_checker.clear();
    m_checker.waitForDone();
    for (MHD_Connection *connection : std::as_const(m_suspended))
        MHD_resume_connection(connection);
    m_readable.reset();
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

QByteArray MetricsEndpoint::page() const
{
    return m_page().toUtf8();
}

bool MetricsEndpoint::certificateRefused(MHD_Connection *connection) const
{
    if (m_web.clientCaPem.isEmpty())
        return false;
    const auto session = static_cast<gnutls_session_t>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION)->tls_session);
    unsigned count = 0;
    if (!gnutls_certificate_get_peers(session, &count) || count == 0)
        return m_web.requireClient;
    unsigned status = 0;
    return gnutls_certificate_verify_peers2(session, &status) < 0 || status != 0;
}

MetricsEndpoint::Admission MetricsEndpoint::admits(MHD_Connection *connection)
{
    if (certificateRefused(connection))
        return Admission::NoCertificate;
    if (m_web.users.empty())
        return Admission::In;
    if (const auto verdict = m_verdicts.constFind(connection); verdict != m_verdicts.cend()) {
        const bool matched = *verdict;
        m_verdicts.erase(verdict);
        return matched ? Admission::In : Admission::NoPassword;
    }
    const char *header
        = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    const QByteArray given = QByteArray(header).trimmed();
    if (given.left(6).toLower() != "basic ")
        return Admission::NoPassword;
    const auto base64 = QByteArray::fromBase64Encoding(given.mid(6).trimmed(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray decoded = base64 ? base64.decoded : QByteArray();
    const qsizetype colon = decoded.indexOf(':');
    if (colon < 0)
        return Admission::NoPassword;
    const QByteArray key = QCryptographicHash::hash(decoded, QCryptographicHash::Sha256);
    if (m_known.contains(key))
        return Admission::In;
    // Credentials not seen before are checked at ChecksPerSecond at most.
    const qint64 nowUs = MonotonicUs();
    m_tokens = std::min<double>(ChecksPerSecond,
                                m_tokens + double(nowUs - m_tokensUs) * 1e-6 * ChecksPerSecond);
    m_tokensUs = nowUs;
    if (m_tokens < 1)
        return Admission::Busy;
    m_tokens -= 1;
    // An unknown user costs a check as well (against another user's hash),
    // so that the time taken does not tell which users there are.
    const auto user = m_web.users.find(decoded.left(colon));
    const bool known = user != m_web.users.end();
    const QByteArray hash = known ? user->second : m_web.users.begin()->second;
    const QByteArray password = decoded.mid(colon + 1);
    MHD_suspend_connection(connection);
    m_suspended.insert(connection);
    m_checker.start([this, connection, key, password, hash, known] {
        const bool matches = PasswordMatches(password, hash) && known;
        QMetaObject::invokeMethod(
            this, [this, connection, key, matches] { checked(connection, key, matches); },
            Qt::QueuedConnection);
    });
    return Admission::Waiting;
}

void MetricsEndpoint::checked(MHD_Connection *connection, const QByteArray &key, bool matches)
{
    if (matches) {
        if (m_known.size() >= KnownCredentials)
            m_known.clear();
        m_known.insert(key);
    }
    m_verdicts.insert(connection, matches);
    m_suspended.remove(connection);
    MHD_resume_connection(connection);
    run();
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

bool MetricsEndpoint::listen(const QString &where, QString *why, WebConfig web)
{
    m_web = std::move(web);
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
    // One more than the caps, so that a newcomer gets in and the oldest
    // gives way to it (connectionNews).
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr *>(bound)},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(RequestBytes), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(IdleSeconds), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, intptr_t(MaxConnections + 1), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, intptr_t(MaxPerAddress + 1), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&connectionNotice), this},
        {MHD_OPTION_EXTERNAL_LOGGER, intptr_t(&quiet), nullptr},
    };
    unsigned flags = MHD_USE_EPOLL | (ipv6 ? MHD_USE_IPv6 : 0);
    if (!m_web.users.empty())
        flags |= MHD_ALLOW_SUSPEND_RESUME;
    if (m_web.tls()) {
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, m_web.certPem.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, m_web.keyPem.data()});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0,
                           const_cast<char *>(m_web.tls13Only ? Tls13Priorities : Priorities)});
        if (!m_web.clientCaPem.isEmpty())
            options.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, m_web.clientCaPem.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    errno = 0;
    m_daemon = MHD_start_daemon(flags, port, nullptr, nullptr, &answer, this, MHD_OPTION_ARRAY,
                                options.data(), MHD_OPTION_END);
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
    if (m_web.tls()) {
        m_expiry = std::make_unique<CertExpiryWatch>(
            QStringLiteral("The metrics endpoint's certificate"), m_web.certFile, m_web.certExpiry,
            m_now);
        connect(m_expiry.get(), &CertExpiryWatch::notice, this, &MetricsEndpoint::notice);
        m_expiry->start();
    }
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
        m_verdicts.remove(connection);
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
