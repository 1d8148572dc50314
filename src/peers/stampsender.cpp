// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampsender.h"

#include "stamp/stampwire.h"
#include "systemclock.h"
#include "udp/packetinfo.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

socklen_t socketAddress(const QHostAddress &address, quint16 port, bool ipv6, sockaddr_storage *at)
{
    *at = {};
    if (ipv6) {
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(*at);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, 16);
        v6.sin6_scope_id = address.scopeId().toUInt();
        return sizeof v6;
    }
    auto &v4 = reinterpret_cast<sockaddr_in &>(*at);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof v4;
}

int ttlOf(const msghdr &message)
{
    for (const cmsghdr *c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(c)))
        if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
            || (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(c), sizeof value);
            return value;
        }
    return -1;
}

} // namespace

StampSender::StampSender(QObject *parent) : QObject(parent) {}

StampSender::~StampSender()
{
    close();
}

bool StampSender::open(const QString &address, quint16 port, const QString &source,
                       quint16 localPort, const PacketPath &path, int *number)
{
    close();
    const QHostAddress peer(address);
    m_ipv6 = peer.protocol() == QAbstractSocket::IPv6Protocol;
    sockaddr_storage to{}, from{};
    const socklen_t toLength = socketAddress(peer, port, m_ipv6, &to);
    const QHostAddress local(
        source.isEmpty() ? (m_ipv6 ? QStringLiteral("::") : QStringLiteral("0.0.0.0")) : source);
    const socklen_t fromLength = socketAddress(local, localPort, m_ipv6, &from);
    const int fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = 0;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&from), fromLength) != 0
        || (error = ApplyPacketPath(fd, m_ipv6, path)) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&to), toLength) != 0) {
        *number = error != 0 ? error : errno;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    EnableArrivalStamps(fd);
    if (m_ipv6) {
        SetIntOption(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, 255);
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT);
    } else {
        SetIntOption(fd, IPPROTO_IP, IP_TTL, 255);
        SetIntOption(fd, IPPROTO_IP, IP_RECVTTL);
    }
    m_fd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StampSender::readReady);
    return true;
}

void StampSender::close()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool StampSender::send(int seq, int *number)
{
    Stamp::SenderPacket packet;
    packet.seq = quint32(seq - 1);
    packet.timestamp = NtpStamp(RealTimeNs());
    packet.errorEstimate = PackErrorEstimate(SystemClockState().estimate);
    const QByteArray bytes = Stamp::SenderBytes(packet);
    if (m_fd < 0 || ::send(m_fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()) {
        *number = m_fd < 0 ? EBADF : errno;
        return false;
    }
    m_figures.setSent(++m_sent);
    return true;
}

void StampSender::readReady()
{
    // Whole batches are read: a reflector that floods is read as fast as
    // it sends, never more than a turn at a time.
    const int taiOffsetS = SystemClockState().taiOffsetS;
    for (int turn = 0; turn < 64 && m_fd >= 0; ++turn) {
        char buffer[2048];
        alignas(cmsghdr) char control[ReceiveControlSpace + CMSG_SPACE(sizeof(int))];
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(m_fd, &message, 0);
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                emit failed(errno);
            return;
        }
        const qint64 wallAheadUs = WallAheadUs();
        qint64 wallUs = ReadArrivalUs(message, 0);
        if (wallUs < 0)
            wallUs = RealTimeNs() / 1000;
        const auto reply = Stamp::ReadReflectorPacket(QByteArrayView(buffer, got));
        // Not an answer, or an answer to no query of ours: nothing to tell.
        if (!reply || reply->senderSeq >= m_sent)
            continue;
        const ErrorEstimate ours = ReadErrorEstimate(reply->senderErrorEstimate);
        const ErrorEstimate theirs = ReadErrorEstimate(reply->errorEstimate);
        // T1 went out in NTP format; a reflector that stamps in PTP says so
        // in its estimate's Z.
        const auto theirNs = [&](quint64 stamp) {
            return theirs.ptp ? PtpStampNs(stamp, taiOffsetS) : NtpStampNs(stamp);
        };
        StampFigures::Answer answer;
        answer.senderSeq = reply->senderSeq;
        answer.reflectorSeq = reply->seq;
        answer.t1Ns = NtpStampNs(reply->senderTimestamp);
        answer.t2Ns = theirNs(reply->receiveTimestamp);
        answer.t3Ns = theirNs(reply->timestamp);
        answer.t4Ns = wallUs * 1000;
        answer.reflectorSynchronized = theirs.synchronized;
        answer.bothSynchronized = ours.synchronized && theirs.synchronized;
        answer.errorNs = EstimateNs(ours) + EstimateNs(theirs);
        answer.ttlAtReflector = reply->senderTtl;
        answer.ttlHere = ttlOf(message);
        if (m_figures.add(answer))
            emit answered(int(reply->senderSeq) + 1, wallUs - wallAheadUs);
    }
}
