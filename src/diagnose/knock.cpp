// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "knock.h"

#include "base/clock.h"
#include "probe/probetexts.h"
#include "socket/icmpreport.h"
#include "socket/systemsocket.h"
#include "udp/errorqueue.h"

#include <cerrno>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Knock::Knock(bool tcp, const QHostAddress &to, quint16 port, int hops, const QHostAddress &from)
    : m_tcp(tcp), m_to(to), m_from(from), m_port(port), m_hops(hops)
{}

Knock::~Knock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Knock::send()
{
    m_ipv6 = m_to.protocol() != QAbstractSocket::IPv4Protocol;
    m_fd = ::socket(m_ipv6 ? AF_INET6 : AF_INET,
                    (m_tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        decide(errno);
        return false;
    }
    EnableErrorQueue(m_fd, m_ipv6);
    if (m_hops > 0) {
        if (m_ipv6)
            ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &m_hops, sizeof m_hops);
        else
            ::setsockopt(m_fd, IPPROTO_IP, IP_TTL, &m_hops, sizeof m_hops);
    }
    sockaddr_storage target;
    if (!m_from.isNull()) {
        const socklen_t size = ToSockaddr(m_from, 0, m_ipv6, &target);
        if (::bind(m_fd, reinterpret_cast<const sockaddr *>(&target), size) != 0) {
            decide(errno);
            return false;
        }
    }
    const socklen_t length = ToSockaddr(m_to, m_port, m_ipv6, &target);
    m_sentUs = MonotonicUs();
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&target), length) != 0) {
        if (!m_tcp || errno != EINPROGRESS) {
            m_atUs = MonotonicUs();
            decide(errno);
            return false;
        }
        return true;
    }
    if (m_tcp) {
        // Made at once (the loopback).
        m_atUs = MonotonicUs();
        m_answered = true;
        decide(0);
        return true;
    }
    const QByteArray query = ProbeTextOf(ProbeText::Query).toUtf8();
    if (::send(m_fd, query.constData(), size_t(query.size()), 0) < 0) {
        m_atUs = MonotonicUs();
        decide(errno);
        return false;
    }
    return true;
}

short Knock::events() const
{
    return short((m_tcp ? POLLOUT : POLLIN) | POLLERR);
}

bool Knock::settle(short revents)
{
    if (m_decided || revents == 0)
        return m_decided;
    m_atUs = MonotonicUs();
    if (m_tcp) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error == 0 && (revents & POLLOUT)) {
            m_answered = true;
            decide(0);
            return true;
        }
        takeReports();
        decide(error);
        return true;
    }
    if (revents & POLLERR) {
        takeReports();
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
        decide(error != 0 ? error : EHOSTUNREACH);
        return true;
    }
    char data[512];
    if (::recv(m_fd, data, sizeof data, MSG_DONTWAIT) >= 0) {
        m_answered = true;
        decide(0);
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return false;
    takeReports();
    decide(errno);
    return true;
}

bool Knock::tcpInfo(tcp_info &info) const
{
    socklen_t size = sizeof info;
    return m_tcp && m_fd >= 0 && ::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0;
}

int Knock::retransmissionLeft() const
{
    if (m_fd < 0)
        return m_left;
    tcp_info info{};
    if (m_decided || !tcpInfo(info) || info.tcpi_retransmits == 0)
        return -1;
    // A retransmission that went out is counted as out until answered.
    return info.tcpi_retrans > 0 ? 1 : 0;
}

void Knock::quiet()
{
    if (m_fd < 0)
        return;
    m_left = retransmissionLeft();
    ::close(std::exchange(m_fd, -1));
}

int Knock::release()
{
    return std::exchange(m_fd, -1);
}

void Knock::takeReports()
{
    if (const IcmpSeen icmp = TakeIcmp(m_fd); !m_icmp.present)
        m_icmp = icmp;
}

void Knock::decide(int error)
{
    m_decided = true;
    m_error = error;
    if (tcp_info info{}; tcpInfo(info))
        m_sends = 1 + int(info.tcpi_total_retrans);
}
