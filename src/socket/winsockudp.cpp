// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock over UDP: binding, datagrams in (one event each) and out (to the
// last sender or to RemoteHost, looked up when it is a name).

#include "base/clock.h"
#include "localaddress.h"
#include "lookup.h"
#include "socketerrors.h"
#include "udp/errorqueue.h"
#include "udp/packetinfo.h"
#include "winsockprivate.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

void Winsock::Bind(qint32 localPort, const QString &localIP)
{
    if (localPort < 0 || localPort > 65535)
        RaiseSocketError(sck::InvalidPropertyValue);
    if (d->state != SocketState::Closed || d->protocol != sckUDPProtocol)
        RaiseSocketError(sck::InvalidOperation);
    QHostAddress address(QHostAddress::Any);
    if (!localIP.trimmed().isEmpty() && !ParseAddress(localIP, &address))
        RaiseSocketError(sck::AddressNotAvailable);
    d->bindUdp(address, localPort);
}

void WinsockPrivate::bindUdp(const QHostAddress &address, qint32 port)
{
    // A plain descriptor: the receive thread reads it, the user-interface
    // thread sends on it.  No address sharing: a port that another socket
    // holds is "in use".
    const BoundSocket bound = BindSocket(SOCK_DGRAM, address, quint16(port));
    const int fd = bound.fd;
    localPort = bound.port;
    localAddress = bound.address;
    udpIPv6 = bound.ipv6;
    // Bound to every address, an IPv6 socket reaches IPv4 peers as well.
    udpBothFamilies = udpIPv6 && localAddress.isEmpty();
    // A socket with one peer expects its answers only: the system's own
    // buffer is room enough.  One that serves many (a responder under a
    // flood) keeps the others' datagrams while its thread waits for a
    // processor or it catches up.
    if (onePeer)
        EnableErrorQueue(fd, udpIPv6);
    else
        SetReceiveRoom(fd);
    // Bound to every address: each datagram's own address is asked for, and
    // its answer goes out from it.
    if (localAddress.isEmpty())
        EnablePacketInfo(fd, udpIPv6);
    // A server answers with the TOS byte each datagram came with.
    if (udpBatches)
        EnableTosInfo(fd, udpIPv6);
    if (const int error = ApplyPacketPath(fd, udpIPv6, packetPath)) {
        ::close(fd);
        RaiseSocketError(BindErrorNumber(error));
    }
    udpFd = fd;
    // This socket has neither heard from nor sent to anyone yet: an address
    // kept from before its Close is no peer of this one.
    remoteHostIP.clear();
    const quint64 receiverGeneration = generation;
    // Each datagram's arrival is stamped by the system (LastArrivalUs): a
    // responder counts a load by it, a probe times its answers by it, so
    // that neither adds its own wake-up to the path's times.
    // A probe's socket has its queries stamped as they leave, too: its
    // round trips then run from stamp to stamp (SentAtUs).
    const bool stampSends = onePeer && !udpBatches;
    udpStampsSends = false;
    sendStamps.reset();
    if (udpBatches || onePeer)
        udpStampsSends
            = EnableArrivalStamps(fd, stampSends) == ArrivalStamps::Timestamping && stampSends;
    if (udpBatches || onePeer) {
        // Read here, a batch at a time: nothing queues beyond one batch.  A
        // socket with one peer (a probe's: a probe of a thousand targets has
        // a thousand) takes a few at a time, with no thread and little
        // memory of its own.
        static_assert(Winsock::UdpBatch == UdpReceiver::ReceiveBatch);
        const int batch = udpBatches ? Winsock::UdpBatch : Winsock::OnePeerBatch;
        const qsizetype bytes = udpBatches ? UdpReceiver::BlockBytes : Winsock::OnePeerBytes;
        udpReceiver
            = std::make_unique<UdpReceiver>(fd, Winsock::UdpReceiveBuffer, batch, bytes, nullptr,
                                            UdpReceiver::Threading::CallerPulls, batch, bytes);
        if (udpStampsSends)
            udpReceiver->takeSendStamps([this](std::uint32_t number, std::int64_t ns) {
                sendStamps.stamped(number, ns / 1000 - WallAheadUs());
            });
        if (readyWatch)
            udpWatched = readyWatch->watch(fd, [this] { onUdpReadable(); });
        if (!udpWatched) {
            udpReadable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(udpReadable.get(), &QSocketNotifier::activated, q,
                             [this] { onUdpReadable(); });
        }
    }
    if (udpBatches) {
        udpSender = std::make_unique<UdpSender>(fd, [this, receiverGeneration] {
            // On the send thread: only hand the news over.
            QMetaObject::invokeMethod(
                q, [this, receiverGeneration] { onUdpSendFailed(receiverGeneration); },
                Qt::QueuedConnection);
        });
    } else if (!onePeer) {
        udpReceiver = std::make_unique<UdpReceiver>(
            fd, Winsock::UdpReceiveBuffer, udpQueueLimit, Winsock::UdpQueueBytes,
            [this, receiverGeneration] {
                // On the receive thread: only hand the news over.
                QMetaObject::invokeMethod(
                    q, [this, receiverGeneration] { onUdpNews(receiverGeneration); },
                    Qt::QueuedConnection);
            });
    }
    setState(SocketState::Open);
}

void WinsockPrivate::onUdpReadable()
{
    // The batch before is still being delivered: the notifier says so again.
    if (!udpReceiver || delivering || !queue.empty())
        return;
    udpReceiver->pull();
    drainPosted = true; // delivered now, not in a turn of its own
    onUdpNews(generation);
    udpInBatch = true;
    deliverNext();
    udpInBatch = false;
    // The answers of the batch go out together (unless a handler closed).
    if (udpSender)
        udpSender->flush();
}

void WinsockPrivate::onUdpSendFailed(quint64 senderGeneration)
{
    if (senderGeneration != generation || !udpSender)
        return;
    const UdpSender::Failures failures = udpSender->collect();
    if (failures.count > 0)
        fail(NetFailure::Step::Datagram, SendErrorNumber(failures.error), failures.error);
}

void WinsockPrivate::onUdpNews(quint64 receiverGeneration)
{
    if (receiverGeneration != generation || !udpReceiver)
        return;
    const UdpReceiver::News news = udpReceiver->collect();
    if (news.arrived > 0) {
        // One DataArrival per datagram; those that wait side by side are
        // kept as one entry with their number.
        if (!queue.empty() && queue.back().kind == EventKind::DataArrival)
            queue.back().a += qint32(news.arrived);
        else
            post({EventKind::DataArrival, qint32(news.arrived)});
    }
    if (news.refused > 0)
        post({EventKind::DatagramRefused, qint32(std::min<quint64>(news.refused, INT32_MAX))});
    if (news.dropped > 0) {
        droppedUnreported += news.dropped;
        if (!dropReportTimer.isActive())
            reportDrops();
    }
}

void WinsockPrivate::reportDrops()
{
    if (droppedUnreported == 0)
        return;
    post({EventKind::DatagramsDropped, qint32(std::min<quint64>(droppedUnreported, INT32_MAX))});
    droppedUnreported = 0;
    dropReportTimer.start(Winsock::DropReportMs);
}

void WinsockPrivate::sendDatagram(const QByteArray &bytes)
{
    const QString host = sendHost.trimmed();
    if (host.isEmpty() || remotePort == 0)
        RaiseSocketError(sck::BadState);
    const auto port = static_cast<quint16>(remotePort);
    if (udpOutbox.empty()) {
        // Answering: the last sender, whose address deliverDatagram keeps.
        if (host == lastSenderText && !lastSenderAddress.isNull()) {
            // From the address the sender asked.
            writeDatagramTo(bytes, lastSenderAddress, port, false, &lastSenderText,
                            port == lastSenderPort ? &lastLocal : nullptr);
            return;
        }
        if (QHostAddress address; ParseAddress(host, &address)) {
            writeDatagramTo(bytes, address, port, false);
            return;
        }
        if (host == resolvedName && !resolvedAddress.isNull()) {
            writeDatagramTo(bytes, resolvedAddress, port, false);
            return;
        }
    }
    // Datagrams keep their order behind one that waits for a name.
    udpOutbox.push_back({bytes, host, port});
    resolveForUdp();
}

void WinsockPrivate::writeDatagramTo(const QByteArray &bytes, const QHostAddress &address,
                                     quint16 port, bool inBackground, const QString *text,
                                     const PacketInfo *from)
{
    remoteHostIP = text ? *text : AddressText(address);
    // An IPv4 socket cannot reach an IPv6 peer, nor a socket bound to one
    // IPv6 address an IPv4 one.
    const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    sockaddr_storage target;
    const socklen_t length
        = ipv4 && udpIPv6 && !udpBothFamilies ? 0 : ToSockaddr(address, port, udpIPv6, &target);
    if (udpSender && length != 0) {
        // Handed to the send thread; its failures come back as the socket's.
        udpSender->queue(bytes, target, length, from ? *from : PacketInfo());
        if (!udpInBatch)
            udpSender->flush();
        post({EventKind::SendComplete});
        return;
    }
    alignas(cmsghdr) char control[PacketInfoSpace];
    iovec piece{const_cast<char *>(bytes.constData()), size_t(bytes.size())};
    msghdr message{};
    message.msg_name = &target;
    message.msg_namelen = length;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    if (const size_t room = from ? WritePacketInfo(*from, control) : 0; room > 0) {
        message.msg_control = control;
        message.msg_controllen = room;
    }
    const qint64 handedUs = udpStampsSends ? MonotonicUs() : 0;
    const auto sendOnce = [&] { return ::sendmsg(udpFd, &message, 0); };
    // With refusals reported, a refusal of an earlier datagram may be
    // handed to this send: it is the receiver's to tell, send again.
    if (length == 0 || (sendOnce() < 0 && !(onePeer && errno == ECONNREFUSED && sendOnce() >= 0))) {
        const int error = length == 0 ? 0 : errno;
        const int number = length == 0 ? sck::AddressFamilyNotSupported : SendErrorNumber(error);
        if (!inBackground)
            RaiseSocketError(number);
        fail(NetFailure::Step::Datagram, number, error);
        return;
    }
    if (udpStampsSends)
        sendStamps.sent(handedUs);
    post({EventKind::SendComplete});
}

bool WinsockPrivate::isPeer(const QHostAddress &address, quint16 port) const
{
    if (port != remotePort)
        return false;
    QHostAddress peer;
    if (!ParseAddress(sendHost.trimmed(), &peer)) {
        if (sendHost.trimmed() != resolvedName || resolvedAddress.isNull())
            return false; // not looked up yet: nobody can have answered
        peer = resolvedAddress;
    }
    return AddressText(peer) == AddressText(address);
}

void WinsockPrivate::resolveForUdp()
{
    while (!udpOutbox.empty() && udpLookupId < 0 && udpFd >= 0) {
        Outgoing &next = udpOutbox.front();
        QHostAddress address;
        if (ParseAddress(next.host, &address)
            || (next.host == resolvedName && !resolvedAddress.isNull())) {
            const Outgoing out = std::move(next);
            udpOutbox.pop_front();
            writeDatagramTo(out.data, address.isNull() ? resolvedAddress : address, out.port, true);
            continue;
        }
        const quint64 lookupGeneration = generation;
        const QString name = next.host;
        udpLookupId = LookUpHost(
            name, q,
            [this, lookupGeneration](const LookedUp &found) {
                onUdpLookedUp(lookupGeneration, found);
            },
            (!udpIPv6 || udpBothFamilies) && family != 6, udpIPv6 && family != 4);
    }
}

void WinsockPrivate::onUdpLookedUp(quint64 lookupGeneration, const LookedUp &lookedUp)
{
    if (lookupGeneration != generation || udpOutbox.empty())
        return;
    udpLookupId = -1;
    const QHostAddress found = lookedUp.address;
    if (found.isNull()) {
        udpOutbox.clear();
        fail(NetFailure::Step::Lookup, lookedUp.error);
        return;
    }
    resolvedName = udpOutbox.front().host;
    resolvedAddress = found;
    resolveForUdp();
}
