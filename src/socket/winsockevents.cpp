// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock's event queue: events wait here and are delivered one per turn of
// the event loop, never from inside an operation and never nested.

#include "localaddress.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QTcpSocket>
#include <QtDebug>

#include <cstring>
#include <limits>

namespace {
qint32 clamp32(qint64 value)
{
    return static_cast<qint32>(std::clamp<qint64>(value, 0, std::numeric_limits<qint32>::max()));
}
} // namespace

void WinsockPrivate::post(const Event &event)
{
    queue.push_back(event);
    scheduleDrain();
}

void WinsockPrivate::postError(const NetFailure &failure)
{
    post({EventKind::Error, 0, 0, {}, failure});
}

void WinsockPrivate::postDataArrival()
{
    if (tcpDataQueued)
        return;
    tcpDataQueued = true;
    post({EventKind::DataArrival});
}

void WinsockPrivate::postProgress(qint64 sent, qint64 remaining)
{
    if (!queue.empty() && queue.back().kind == EventKind::SendProgress) {
        Event &waiting = queue.back();
        waiting.a = clamp32(qint64(waiting.a) + sent);
        waiting.b = clamp32(remaining);
        return;
    }
    post({EventKind::SendProgress, clamp32(sent), clamp32(remaining)});
}

void WinsockPrivate::scheduleDrain()
{
    if (drainPosted || delivering)
        return; // a running delivery schedules the next one when it ends
    drainPosted = true;
    QMetaObject::invokeMethod(
        q, [this] { deliverNext(); }, Qt::QueuedConnection);
}

void WinsockPrivate::deliverNext()
{
    drainPosted = false;
    if (delivering)
        return;
    delivering = true;
    for (int budget = udpBatches ? Winsock::BatchEvents : 1; budget > 0 && !queue.empty();
         --budget) {
        Event event = queue.front();
        if (event.kind == EventKind::DataArrival && event.a > 1) {
            // Datagrams waiting side by side: one of them now.
            --queue.front().a;
            event.a = 1;
        } else {
            queue.pop_front();
        }
        try {
            deliver(event);
        } catch (...) {
            // A handler's failure must not leave the queue stuck; handlers are
            // expected to catch their own.
            qWarning("Winsock: an event handler let a failure escape");
        }
    }
    delivering = false;
    if (!queue.empty())
        scheduleDrain();
}

void WinsockPrivate::deliver(const Event &event)
{
    switch (event.kind) {
    case EventKind::Connect: emit q->ConnectEvent(); break;
    case EventKind::DataArrival:
        if (protocol == Winsock::sckUDPProtocol)
            deliverDatagram();
        else
            deliverTcpData();
        break;
    case EventKind::Close: emit q->CloseEvent(); break;
    case EventKind::Error: {
        bool cancelDisplay = false;
        lastFailure = event.failure;
        const int number = event.failure.number;
        emit q->Error(SocketErrorNumber(number), SocketErrorText(number), SocketErrorScode(number),
                      QStringLiteral("Winsock"), QString(), 0, &cancelDisplay);
        break;
    }
    case EventKind::SendComplete: emit q->SendComplete(); break;
    case EventKind::SendProgress: emit q->SendProgress(event.a, event.b); break;
    case EventKind::DatagramsDropped: emit q->DatagramsDropped(event.a); break;
    case EventKind::DatagramRefused: emit q->DatagramRefused(event.a); break;
    case EventKind::TlsReport: emit q->TlsReport(*event.tls); break;
    }
}

void WinsockPrivate::deliverTcpData()
{
    tcpDataQueued = false;
    if (!inbox.isEmpty())
        emit q->DataArrival(clamp32(inbox.size()));
}

void WinsockPrivate::deliverDatagram()
{
    UdpReceiver::Datagram datagram;
    if (!udpReceiver || !udpReceiver->take(datagram))
        return;
    // A burst usually comes from one sender: its address is written as text
    // once.
    if (std::memcmp(&datagram.sender, &lastSender, sizeof lastSender) != 0) {
        lastSender = datagram.sender;
        lastSenderText = AddressText(FromSockaddr(&lastSender.any, &lastSenderPort));
        lastSenderAddress.clear();
        ParseAddress(lastSenderText, &lastSenderAddress);
    }
    if (onePeer && !isPeer(lastSenderAddress, lastSenderPort)) {
        emit q->ForeignDatagram(lastSenderText, lastSenderPort);
        return;
    }
    remoteHostIP = lastSenderText;
    remotePort = lastSenderPort;
    if (std::memcmp(&datagram.local, &lastLocal, sizeof lastLocal) != 0) {
        lastLocal = datagram.local;
        lastLocalText = AddressText(FromPacketInfo(lastLocal));
    }
    // Answering: the next datagram goes to this sender, unless the socket
    // talks to its peer only.
    if (!onePeer)
        sendHost = remoteHostIP;
    const auto size = clamp32(datagram.data.size());
    currentDatagram = std::move(datagram.data);
    currentArrivalUs = datagram.arrivedUs;
    const quint64 before = generation;
    emit q->DataArrival(size);
    if (generation != before)
        return;
    // A datagram its handler did not read is not kept for the next one.
    currentDatagram.reset();
    // The loss of a datagram's end is reported right after it: as a failure
    // to the window, as a count to a socket that must stay up (a responder,
    // a probe: anyone can send a datagram too long).
    if (datagram.truncated && (udpBatches || onePeer))
        emit q->DatagramTruncated(size);
    else if (datagram.truncated)
        queue.push_front(
            {EventKind::Error, 0, 0, {}, {NetFailure::Step::Datagram, sck::MessageTooBig, 0, {}}});
}

QByteArray WinsockPrivate::readStream()
{
    QByteArray bytes = std::move(inbox);
    inbox.clear();
    // Room again: take the next bytes that waited in the system.
    if (state == SocketState::Connected)
        pullStream(false);
    return bytes;
}
