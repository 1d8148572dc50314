// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampsender.h"

#include "stamp/stampwire.h"
#include "systemclock.h"
#include "udp/errorqueue.h"
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

// A transmit stamp later than this after the query's T1 is not its own.
constexpr qint64 SendPathMostNs = 1'000'000'000;

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

StampSender::StampSender(QObject *parent, SetSocketOption setOption)
    : QObject(parent), m_setOption(setOption)
{}

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
    // The system numbers the sends from 0 again.
    m_stamps = EnableArrivalStamps(fd, true, m_setOption);
    m_sends = 0;
    m_sendNumbers.assign(Remembered, {});
    m_sentAt.assign(Remembered, {});
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
    packet.errorEstimate = PackErrorEstimate(SystemClockState().estimate);
    const qint64 t1Ns = RealTimeNs();
    packet.timestamp = NtpStamp(t1Ns);
    const QByteArray bytes = Stamp::SenderBytes(packet);
    if (m_fd < 0 || ::send(m_fd, bytes.constData(), size_t(bytes.size()), 0) != bytes.size()) {
        *number = m_fd < 0 ? EBADF : errno;
        return false;
    }
    if (m_stamps == ArrivalStamps::Timestamping) {
        m_sendNumbers[m_sends % Remembered] = {m_sends, packet.seq, t1Ns};
        ++m_sends;
    }
    m_figures.setSent(++m_sent);
    return true;
}

void StampSender::sendStamped(std::uint32_t number, std::int64_t ns)
{
    // The system's number is 32 bits; ours counts on.
    const quint64 full = (m_sends & ~quint64(0xFFFFFFFF)) | number;
    const quint64 sent = full > m_sends ? full - (quint64(1) << 32) : full;
    const Send &send = m_sendNumbers[sent % Remembered];
    if (send.number != sent || ns < send.t1Ns || ns - send.t1Ns >= SendPathMostNs)
        return;
    m_sentAt[send.seq % Remembered] = {send.seq, ns};
}

void StampSender::readReady()
{
    // The transmit stamps first: those of the queries whose answers wait.
    if (m_fd >= 0 && m_stamps == ArrivalStamps::Timestamping)
        TakeErrorQueue(
            m_fd, [](const QueuedError &) {},
            [this](std::uint32_t n, std::int64_t ns) { sendStamped(n, ns); });
    // Whole batches are read: a reflector that floods is read as fast as
    // it sends, never more than a turn at a time.
    const int taiOffsetS = SystemClockState().taiOffsetS;
    for (int turn = 0; turn < 64 && m_fd >= 0; ++turn) {
        char buffer[2048];
        alignas(cmsghdr) char control[ReceiveControlSpace + CMSG_SPACE(sizeof(int))];
        iovec io{buffer, sizeof buffer};
        msghdr message = ReceiveMessage(io, control, sizeof control);
        const ssize_t got = ::recvmsg(m_fd, &message, 0);
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                emit failed(errno);
            return;
        }
        const qint64 wallAheadUs = WallAheadUs();
        const qint64 stampNs = ReadArrivalNs(message);
        const qint64 wallUs = (stampNs >= 0 ? stampNs : RealTimeNs()) / 1000;
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
        const Sent &sent = m_sentAt[reply->senderSeq % Remembered];
        answer.systemSent = sent.seq == reply->senderSeq && sent.ns >= 0;
        answer.systemReceived = stampNs >= 0;
        answer.t1Ns = answer.systemSent ? sent.ns : NtpStampNs(reply->senderTimestamp);
        answer.t2Ns = theirNs(reply->receiveTimestamp);
        answer.t3Ns = theirNs(reply->timestamp);
        answer.t4Ns = wallUs * 1000;
        answer.reflectorSynchronized = theirs.synchronized;
        answer.bothSynchronized = ours.synchronized && theirs.synchronized;
        answer.errorNs = EstimateNs(ours) + EstimateNs(theirs);
        answer.ttlAtReflector = reply->senderTtl;
        answer.ttlHere = ttlOf(message);
        // The probe times the query from when it was handed over: moved on
        // by the system's send path, its round trip runs from the
        // transmit stamp.
        const qint64 sendPathUs
            = answer.systemSent ? (sent.ns - NtpStampNs(reply->senderTimestamp)) / 1000 : 0;
        if (m_figures.add(answer))
            emit answered(int(reply->senderSeq) + 1, wallUs - wallAheadUs - sendPathUs);
    }
}
