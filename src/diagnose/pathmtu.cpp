// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "pathmtu.h"

#include "base/clock.h"
#include "base/icmpseen.h"
#include "probe/probetexts.h"
#include "socket/localaddress.h"
#include "socket/systemsocket.h"
#include "udp/errorqueue.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <net/if.h>
#include <sys/ioctl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int UdpHeader = 8;
constexpr int SmallPacket = 100; // bytes on the wire: passes on any path
constexpr int MinWaitMs = 200;   // for an answer to a datagram of one size

int ipHeader(bool ipv6)
{
    return ipv6 ? 40 : 20;
}

// One descriptor, closed when it goes.
struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct Sent
{
    enum Kind { Passed, TooBig, Vanished, Local, Other } kind = Vanished;
    qint64 rttUs = -1;
    unsigned mtu = 0;
    QString from;
};

// Where the datagrams go, and the address they leave from.
struct Ends
{
    QHostAddress to;
    quint16 port = 0;
    QHostAddress from;
};

// A socket toward to:port that sends unfragmented whatever the system
// learnt about the path.
int openSocket(int type, const Ends &ends, bool ipv6)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_storage local;
    if (!ends.from.isNull()
        && ::bind(fd, reinterpret_cast<sockaddr *>(&local), ToSockaddr(ends.from, 0, ipv6, &local))
               != 0) {
        ::close(fd);
        return -1;
    }
    EnableErrorQueue(fd, ipv6);
    // Datagrams go unfragmented at any size; TCP finds its size itself.
    const int probe = ipv6 ? IPV6_PMTUDISC_PROBE : IP_PMTUDISC_PROBE;
    if (type == SOCK_DGRAM && ipv6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_MTU_DISCOVER, &probe, sizeof probe);
    else if (type == SOCK_DGRAM)
        ::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &probe, sizeof probe);
    sockaddr_storage target;
    const socklen_t length = ToSockaddr(ends.to, ends.port, ipv6, &target);
    if (type == SOCK_DGRAM && ::connect(fd, reinterpret_cast<sockaddr *>(&target), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One datagram of packet bytes on the wire (headers included), and what
// came back within waitMs.
Sent sendDatagram(const Ends &ends, bool ipv6, int packet, int waitMs)
{
    Sent sent;
    const Fd socket{openSocket(SOCK_DGRAM, ends, ipv6)};
    if (socket.fd < 0) {
        sent.kind = Sent::Other;
        return sent;
    }
    // A query the responder answers, whatever its size: line ends after
    // the text are allowed.
    QByteArray payload = ProbeTextOf(ProbeText::Query).toUtf8();
    payload.append(std::max<qsizetype>(0, packet - ipHeader(ipv6) - UdpHeader - payload.size()),
                   '\n');
    const qint64 startUs = MonotonicUs();
    if (::send(socket.fd, payload.constData(), size_t(payload.size()), 0) < 0) {
        sent.kind = errno == EMSGSIZE ? Sent::Local : Sent::Other;
        return sent;
    }
    const QString target = AddressText(ends.to);
    const qint64 endUs = startUs + qint64(waitMs) * 1000;
    for (qint64 leftUs; (leftUs = endUs - MonotonicUs()) > 0;) {
        pollfd ready{socket.fd, POLLIN, 0};
        if (::poll(&ready, 1, int(leftUs / 1000) + 1) <= 0)
            continue;
        sent.rttUs = MonotonicUs() - startUs;
        if (ready.revents & POLLERR) {
            sent.kind = Sent::Other;
            TakeErrorQueue(socket.fd, [&](const QueuedError &report) {
                if (!report.icmp)
                    return;
                quint16 from = 0;
                sent.from = report.hasFrom ? AddressText(FromSockaddr(
                                reinterpret_cast<const sockaddr *>(&report.from), &from))
                                           : QString();
                if (IcmpTooBig(report.ipv6, report.type, report.code)) {
                    sent.kind = Sent::TooBig;
                    sent.mtu = report.info;
                } else if (sent.from == target
                           && IcmpPortUnreachable(report.ipv6, report.type, report.code)) {
                    sent.kind = Sent::Passed;
                }
            });
            return sent;
        }
        char answer[64];
        if (::recv(socket.fd, answer, sizeof answer, MSG_DONTWAIT) >= 0) {
            sent.kind = Sent::Passed;
            return sent;
        }
    }
    return sent;
}

// Twice, so that one lost datagram is not taken for a size that vanishes.
Sent tryPacket(const Ends &ends, bool ipv6, int packet, int waitMs)
{
    const Sent first = sendDatagram(ends, ipv6, packet, waitMs);
    return first.kind != Sent::Vanished ? first : sendDatagram(ends, ipv6, packet, waitMs);
}

// The MTU of the interface the path leaves by; without one, what the
// system knows for the path now (which a router may have taught it).
int systemMtu(const QString &interface, const Ends &ends, bool ipv6)
{
    const Fd socket{openSocket(SOCK_DGRAM, ends, ipv6)};
    ifreq request{};
    const QByteArray name = interface.toLocal8Bit();
    if (socket.fd >= 0 && !name.isEmpty() && name.size() < IFNAMSIZ) {
        std::memcpy(request.ifr_name, name.constData(), size_t(name.size()));
        if (::ioctl(socket.fd, SIOCGIFMTU, &request) == 0)
            return request.ifr_mtu;
    }
    int mtu = 0;
    socklen_t size = sizeof mtu;
    if (socket.fd < 0
        || ::getsockopt(socket.fd, ipv6 ? IPPROTO_IPV6 : IPPROTO_IP, ipv6 ? IPV6_MTU : IP_MTU, &mtu,
                        &size)
               != 0)
        return 0;
    return mtu;
}

// The largest size that passes and the smallest that vanishes, between
// passes and vanishes.
void searchBlackHole(PathMtu &found, const Ends &ends, bool ipv6, int waitMs,
                     const std::atomic<bool> &stop)
{
    int passes = found.passes, vanishes = found.vanishes;
    while (vanishes - passes > 1 && !stop) {
        const int middle = (passes + vanishes) / 2;
        const Sent sent = tryPacket(ends, ipv6, middle, waitMs);
        if (sent.kind == Sent::TooBig) {
            found.tooBigFrom = sent.from;
            found.pathMtu = int(sent.mtu);
            found.blackHole = false;
            return;
        }
        (sent.kind == Sent::Passed ? passes : vanishes) = middle;
    }
    found.passes = passes;
    found.vanishes = vanishes;
    found.pathMtu = passes;
}

// A TCP connection that writes a few full-size segments: acknowledged, or
// stuck where a black hole swallows them.
void measureByTcp(PathMtu &found, const Ends &ends, bool ipv6, int waitMs)
{
    const Fd socket{openSocket(SOCK_STREAM, ends, ipv6)};
    // The connect waits no longer than an answer may take.
    const timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    if (socket.fd >= 0)
        ::setsockopt(socket.fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_storage target;
    const socklen_t length = ToSockaddr(ends.to, ends.port, ipv6, &target);
    if (socket.fd < 0 || ::connect(socket.fd, reinterpret_cast<sockaddr *>(&target), length) != 0)
        return;
    const int on = 1;
    ::setsockopt(socket.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    tcp_info info{};
    socklen_t size = sizeof info;
    ::getsockopt(socket.fd, IPPROTO_TCP, TCP_INFO, &info, &size);
    const int segment = int(info.tcpi_snd_mss);
    const QByteArray bytes(4 * segment, '\0');
    if (segment <= 0
        || ::send(socket.fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) < 0)
        return;
    found.measured = true;
    found.how = QStringLiteral("a TCP write of 4 full-size segments");
    const qint64 endUs = MonotonicUs() + qint64(waitMs) * 1000;
    do {
        ::poll(nullptr, 0, 20);
        size = sizeof info;
        ::getsockopt(socket.fd, IPPROTO_TCP, TCP_INFO, &info, &size);
    } while (info.tcpi_unacked > 0 && MonotonicUs() < endUs);
    found.pathMtu = int(info.tcpi_pmtu);
    if (info.tcpi_unacked > 0) {
        found.blackHole = true;
        found.vanishes = segment + ipHeader(ipv6) + 20;
        found.pathMtu = 0;
    }
}

} // namespace

void MeasurePathMtu(PathVerdict &verdict, const QHostAddress &to, const QHostAddress &from,
                    const std::atomic<bool> &stop)
{
    const Ends ends{to, verdict.port, from};
    PathMtu &found = verdict.mtu;
    const bool ipv6 = to.protocol() != QAbstractSocket::IPv4Protocol;
    found.linkMtu = systemMtu(verdict.interface, ends, ipv6);
    // IPv6 carries 1280 bytes on every path.
    const int small = ipv6 ? 1280 : SmallPacket;
    const Sent first = tryPacket(ends, ipv6, small, verdict.timeoutMs);
    if (first.kind != Sent::Passed) {
        if (verdict.outcome == Outcome::Open && verdict.transport != Transport::Udp)
            measureByTcp(found, ends, ipv6, verdict.timeoutMs);
        if (!found.measured)
            found.why = QStringLiteral("the host answers no datagram to UDP port %1, and a "
                                       "TCP write could not be made")
                            .arg(verdict.port);
        return;
    }
    found.measured = true;
    found.how = QStringLiteral("UDP datagrams to port %1").arg(verdict.port);
    const int waitMs
        = int(std::clamp<qint64>(4 * first.rttUs / 1000 + MinWaitMs, MinWaitMs, verdict.timeoutMs));
    // The largest the link takes, then what the path says about it.
    Sent full = tryPacket(ends, ipv6, found.linkMtu, waitMs);
    if (full.kind == Sent::TooBig) {
        found.tooBigFrom = full.from;
        found.pathMtu = int(full.mtu);
        // The size the router named must pass now; if it does not, the
        // path beyond it is smaller still and says nothing.
        full = tryPacket(ends, ipv6, found.pathMtu, waitMs);
        if (full.kind == Sent::Passed || full.kind == Sent::TooBig)
            return;
        found.passes = small;
        found.vanishes = found.pathMtu;
    } else if (full.kind == Sent::Passed) {
        found.pathMtu = found.linkMtu;
        return;
    } else {
        found.passes = small;
        found.vanishes = found.linkMtu;
    }
    found.blackHole = true;
    searchBlackHole(found, ends, ipv6, waitMs, stop);
}
