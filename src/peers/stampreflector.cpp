// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampreflector.h"

#include "base/clock.h"
#include "stamp/stampreply.h"
#include "systemclock.h"
#include "udp/batchsend.h"
#include "udp/packetinfo.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

using Stamp::ReflectorClock;

namespace {

constexpr qint64 NsPerS = 1'000'000'000;

// What the control messages of a received datagram tell beside its
// local address.
struct Arrival
{
    qint64 stampNs = -1;
    int ttl = -1;
    int tos = -1; // DSCP and ECN
};

Arrival readArrival(const msghdr &message)
{
    Arrival arrival;
    arrival.stampNs = ReadArrivalNs(message);
    for (const cmsghdr *c = CMSG_FIRSTHDR(&message); c;
         c = CMSG_NXTHDR(const_cast<msghdr *>(&message), const_cast<cmsghdr *>(c))) {
        int value = 0;
        if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
            || (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
            std::memcpy(&value, CMSG_DATA(c), sizeof value);
            arrival.ttl = value;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS) {
            arrival.tos = *reinterpret_cast<const unsigned char *>(CMSG_DATA(c));
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_TCLASS) {
            std::memcpy(&value, CMSG_DATA(c), sizeof value);
            arrival.tos = value;
        }
    }
    return arrival;
}

// The sender's address as 16 octets (IPv4 as IPv4-mapped) and its port.
void senderOf(const sockaddr_storage &from, unsigned char *address, quint16 *port)
{
    if (from.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(from);
        static constexpr unsigned char Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        std::memcpy(address, Mapped, 12);
        std::memcpy(address + 12, &v4.sin_addr, 4);
        *port = ntohs(v4.sin_port);
    } else {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(from);
        std::memcpy(address, &v6.sin6_addr, 16);
        *port = ntohs(v6.sin6_port);
    }
}

QHostAddress addressOf(const unsigned char *bytes)
{
    QHostAddress address{Q_IPV6ADDR(*reinterpret_cast<const Q_IPV6ADDR *>(bytes))};
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

void localOf(const PacketInfo &info, unsigned char *address)
{
    std::memset(address, 0, 16);
    if (info.known && info.ipv6) {
        std::memcpy(address, &info.v6.ipi6_addr, 16);
    } else if (info.known) {
        address[10] = address[11] = 0xFF;
        std::memcpy(address + 12, &info.v4.ipi_addr, 4);
    }
}

// Sends one answer from the address asked with the DSCP chosen (for a
// request that asked for one): the batch send carries no DSCP.
bool sendWithDscp(int fd, const OutDatagram &out, quint8 dscp)
{
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(out.target);
    const bool mapped = v6->sin6_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr);
    alignas(cmsghdr) char control[PacketInfoSpace + CMSG_SPACE(sizeof(int))] = {};
    std::size_t used = out.from ? WritePacketInfo(*out.from, control) : 0;
    auto *c = reinterpret_cast<cmsghdr *>(control + used);
    const int tos = dscp << 2;
    if (mapped || out.target->ss_family == AF_INET) {
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_TOS;
        c->cmsg_len = CMSG_LEN(1);
        *reinterpret_cast<unsigned char *>(CMSG_DATA(c)) = static_cast<unsigned char>(tos);
        used += CMSG_SPACE(1);
    } else {
        c->cmsg_level = IPPROTO_IPV6;
        c->cmsg_type = IPV6_TCLASS;
        c->cmsg_len = CMSG_LEN(sizeof tos);
        std::memcpy(CMSG_DATA(c), &tos, sizeof tos);
        used += CMSG_SPACE(sizeof tos);
    }
    iovec iov{const_cast<char *>(out.bytes), out.size};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_storage *>(out.target);
    message.msg_namelen = out.length;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = used;
    return ::sendmsg(fd, &message, MSG_DONTWAIT) >= 0;
}

} // namespace

struct StampReflector::Clock
{
    qint64 readAtNs = 0;
    ReflectorClock state;

    const ReflectorClock &now(qint64 ns)
    {
        if (ns - readAtNs >= NsPerS || ns < readAtNs) {
            state = SystemClockState();
            readAtNs = ns;
        }
        return state;
    }
};

bool StampReflector::Key::operator==(const Key &other) const
{
    return std::memcmp(sender, other.sender, 16) == 0 && std::memcmp(local, other.local, 16) == 0
           && senderPort == other.senderPort && ssid == other.ssid;
}

size_t StampReflector::KeyHash::operator()(const Key &key) const
{
    size_t hash = (size_t(key.senderPort) << 16) ^ key.ssid;
    for (int i = 0; i < 16; ++i)
        hash = hash * 1099511628211u ^ key.sender[i] ^ (size_t(key.local[i]) << 8);
    return hash;
}

StampReflector::StampReflector(QObject *parent, int maxSessions, SetSocketOption setOption,
                               const ResponderLimits &limits)
    : QObject(parent),
      m_maxSessions(qMax(1, maxSessions)),
      m_setOption(setOption),
      m_gate(limits),
      m_clock(std::make_unique<Clock>())
{}

StampReflector::~StampReflector()
{
    close();
}

bool StampReflector::open(const QString &local, quint16 port, int *number, QString *why)
{
    close();
    QHostAddress address(local);
    m_ipv6 = address.protocol() != QAbstractSocket::IPv4Protocol;
    sockaddr_storage bound{};
    socklen_t length = 0;
    if (m_ipv6) {
        auto &v6 = reinterpret_cast<sockaddr_in6 &>(bound);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &bytes, 16);
        v6.sin6_scope_id = address.scopeId().toUInt();
        length = sizeof v6;
    } else {
        auto &v4 = reinterpret_cast<sockaddr_in &>(bound);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof v4;
    }
    const int fd = ::socket(bound.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0 && m_ipv6) {
        // "::" takes IPv4 as well; another IPv6 address only itself.
        const int v6only = address == QHostAddress(QHostAddress::AnyIPv6) ? 0 : 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    }
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&bound), length) != 0) {
        *number = errno;
        *why = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    EnablePacketInfo(fd, m_ipv6);
    m_arrivalStamps = EnableArrivalStamps(fd, false, m_setOption);
    SetReceiveRoom(fd);
    SetIntOption(fd, IPPROTO_IP, IP_RECVTTL);
    SetIntOption(fd, IPPROTO_IP, IP_RECVTOS);
    if (m_ipv6) {
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT);
        SetIntOption(fd, IPPROTO_IPV6, IPV6_RECVTCLASS);
    }
    m_fd = fd;
    m_port = port;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StampReflector::readReady);
    return true;
}

void StampReflector::close()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

StampReflector::Entry &StampReflector::sessionOf(const Key &key)
{
    if (const auto found = m_index.find(key); found != m_index.end()) {
        m_sessions.splice(m_sessions.begin(), m_sessions, found->second);
        return *found->second;
    }
    if (m_sessions.size() >= size_t(m_maxSessions)) {
        m_index.erase(m_sessions.back().key);
        m_sessions.pop_back();
        ++m_ignored.forgotten;
    }
    Session session;
    session.sender = addressOf(key.sender);
    session.senderPort = key.senderPort;
    session.local = addressOf(key.local);
    session.ssid = key.ssid;
    m_sessions.push_front({key, session});
    m_index.emplace(key, m_sessions.begin());
    return m_sessions.front();
}

// One datagram of a batch: where it came from, its control messages, and
// the answer to it.
struct StampReflector::Slot
{
    sockaddr_storage from;
    alignas(cmsghdr) char control[ReceiveControlSpace + 4 * CMSG_SPACE(sizeof(int))];
    PacketInfo info;
    QByteArray reply;
    quint8 dscp = 0;
    bool ptp = false; // the reply's time stamps are PTP's
    int taiOffsetS = 0;
};

// The batch's buffers, made once: a datagram of any length fits.
struct StampReflector::Buffers
{
    std::vector<char> bytes = std::vector<char>(std::size_t(Batch) * DatagramMost);
    std::vector<Slot> held = std::vector<Slot>(Batch);
    mmsghdr messages[Batch] = {};
    iovec iovs[Batch] = {};
};

void StampReflector::readReady()
{
    static_assert(std::size_t(Batch) == BatchMost, "one batch taken, one sent");
    if (!m_buffers)
        m_buffers = std::make_unique<Buffers>();
    Buffers &b = *m_buffers;
    // A few batches a wake-up: others' sockets get their turn.
    for (int round = 0; round < 16 && m_fd >= 0; ++round) {
        for (int i = 0; i < Batch; ++i) {
            b.iovs[i] = {b.bytes.data() + std::size_t(i) * DatagramMost, DatagramMost};
            msghdr &m = b.messages[i].msg_hdr;
            m = {};
            m.msg_name = &b.held[i].from;
            m.msg_namelen = sizeof b.held[i].from;
            m.msg_iov = &b.iovs[i];
            m.msg_iovlen = 1;
            m.msg_control = b.held[i].control;
            m.msg_controllen = sizeof b.held[i].control;
        }
        const int received = ::recvmmsg(m_fd, b.messages, Batch, MSG_DONTWAIT, nullptr);
        if (received <= 0)
            return;
        OutDatagram out[Batch];
        Slot *outSlots[Batch];
        int outCount = 0;
        for (int i = 0; i < received; ++i) {
            Slot &slot = b.held[i];
            const msghdr &m = b.messages[i].msg_hdr;
            if (!reflect(slot,
                         {static_cast<const char *>(b.iovs[i].iov_base),
                          qsizetype(b.messages[i].msg_len)},
                         m))
                continue;
            const OutDatagram datagram{slot.reply.constData(), std::size_t(slot.reply.size()),
                                       &slot.from, m.msg_namelen, &slot.info};
            if (slot.dscp == 0) {
                outSlots[outCount] = &slot;
                out[outCount++] = datagram;
            } else {
                tally(sendWithDscp(m_fd, datagram, slot.dscp) ? 1 : -1);
            }
        }
        // The batch's T3 once more, as it is handed over: the answers made
        // first did not leave any earlier than the last.
        const qint64 t3Ns = RealTimeNs();
        for (int i = 0; i < outCount; ++i)
            Stamp::WriteU64(outSlots[i]->reply.data() + 4,
                            outSlots[i]->ptp ? PtpStamp(t3Ns, outSlots[i]->taiOffsetS)
                                             : NtpStamp(t3Ns));
        for (int sent = 0; sent < outCount;) {
            // One the system refuses is lost; the rest are tried.
            const int taken
                = SendBatch(m_fd, out + sent, std::size_t(outCount - sent), MSG_DONTWAIT);
            tally(taken);
            sent += qMax(1, taken);
        }
        if (received < Batch)
            return;
    }
}

bool StampReflector::reflect(Slot &slot, QByteArrayView request, const msghdr &m)
{
    Key key{};
    senderOf(slot.from, key.sender, &key.senderPort);
    AddressOctets source;
    std::memcpy(source.data(), key.sender, source.size());
    if (m_gate.answer(source, key.senderPort, MonotonicUs()) != SourceGate::Verdict::Answer)
        return false;
    const std::optional<Stamp::SenderPacket> sender = Stamp::ReadSenderPacket(request);
    if (!sender || (m.msg_flags & MSG_TRUNC)) {
        ++m_ignored.tooShort;
        return false;
    }
    // Its answer goes with the DSCP a request asks for (Class of Service),
    // else with the socket's own: not the request's TOS.
    slot.info = ReadPacketInfo(m);
    slot.info.tos = -1;
    localOf(slot.info, key.local);
    key.ssid = sender->ssid;
    const Arrival arrival = readArrival(m);
    Session &session = sessionOf(key).session;
    Stamp::Reflection reflection;
    reflection.t2Ns = arrival.stampNs >= 0 ? arrival.stampNs : RealTimeNs();
    reflection.clock = m_clock->now(reflection.t2Ns);
    if (arrival.stampNs < 0)
        reflection.clock.receiveMethod = Stamp::StampMethod::ControlPlane;
    reflection.clock.sendMethod = Stamp::StampMethod::ControlPlane;
    reflection.ttl = quint8(qMax(0, arrival.ttl));
    reflection.seq = session.nextSeq++;
    reflection.dscpReceived = quint8(qMax(0, arrival.tos) >> 2);
    reflection.ecnReceived = quint8(qMax(0, arrival.tos) & 3);
    reflection.dscpSent = Stamp::WantedDscp(request).value_or(0);
    session.systemStamps = arrival.stampNs >= 0;
    ++session.answered;
    // T3 last: the answer is handed to the system right after (the header
    // tells why this is the program's clock).
    reflection.t3Ns = RealTimeNs();
    slot.reply = Stamp::StampReply(request, reflection);
    slot.ptp = ReadErrorEstimate(sender->errorEstimate).ptp;
    slot.taiOffsetS = reflection.clock.taiOffsetS;
    slot.dscp = reflection.dscpSent;
    return true;
}

// taken answers went out; -1: the system refused one (errno says why).
void StampReflector::tally(int taken)
{
    if (taken > 0) {
        m_answeredTotal += quint64(taken);
        return;
    }
    m_ignored.lastSendError = errno;
    ++m_ignored.sendFailed;
}

std::vector<StampReflector::Session> StampReflector::minute(Ignored *ignored)
{
    std::vector<Session> heard;
    for (Entry &entry : m_sessions)
        if (entry.session.answered > 0) {
            heard.push_back(entry.session);
            entry.session.answered = 0;
        }
    *ignored = std::exchange(m_ignored, {});
    ignored->refused = m_gate.minute();
    return heard;
}
