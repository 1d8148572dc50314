// Winsock over UDP: binding, datagrams in (one event each) and out (to the
// last sender or to RemoteHost, looked up when it is a name).

#include "localaddress.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

void WinsockPrivate::bindUdp(const QHostAddress &address, qint32 port)
{
    auto *socket = new QUdpSocket(q);
    // No address sharing: a port that another socket holds is "in use".
    if (!socket->bind(address, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        const int number = MapSocketError(socket->error(), socket->errorString(), false);
        delete socket;
        RaiseSocketError(number);
    }
    udp = socket;
    // This socket has neither heard from nor sent to anyone yet: an address
    // kept from before its Close is no peer of this one.
    remoteHostIP.clear();
    QObject::connect(socket, &QIODevice::readyRead, q, [this] { onUdpReadyRead(); });
    localPort = socket->localPort();
    localAddress = address == QHostAddress(QHostAddress::AnyIPv4) ? QString() : DottedIPv4(address);
    setState(Winsock::sckOpen);
}

void WinsockPrivate::onUdpReadyRead()
{
    // Qt offers the rest again at the next turn of the event loop as long as
    // this took at least one; when the backlog is full, deliverDatagram
    // calls this again once there is room.
    udpStalled = false;
    for (int batch = 0; udp && udp->hasPendingDatagrams(); ++batch) {
        if (batch == Winsock::UdpReadBatch)
            break;
        if (datagrams.size() >= size_t(Winsock::UdpBacklog)) {
            udpStalled = true;
            break;
        }
        const qint64 size = udp->pendingDatagramSize();
        const bool tooBig = size > Winsock::UdpReceiveBuffer;
        const QNetworkDatagram datagram = udp->receiveDatagram(Winsock::UdpReceiveBuffer);
        if (!datagram.isValid() && size < 0)
            break;
        datagrams.push_back({datagram.data(), datagram.senderAddress(), static_cast<quint16>(datagram.senderPort())});
        post({EventKind::DataArrival});
        if (tooBig)
            postError(sck::MessageTooBig);   // reported, the socket stays open
    }
}

void WinsockPrivate::sendDatagram(const QByteArray &bytes)
{
    const QString host = sendHost.trimmed();
    if (host.isEmpty() || remotePort == 0)
        RaiseSocketError(sck::BadState);
    const auto port = static_cast<quint16>(remotePort);
    QHostAddress address;
    if (udpOutbox.empty()) {
        if (ParseDottedIPv4(host, &address)) {
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

void WinsockPrivate::writeDatagramTo(const QByteArray &bytes, const QHostAddress &address, quint16 port,
                                     bool inBackground)
{
    remoteHostIP = DottedIPv4(address);
    if (udp->writeDatagram(bytes, address, port) < 0) {
        const int number = MapSocketError(udp->error(), udp->errorString(), false);
        if (!inBackground)
            RaiseSocketError(number);
        fail(number);
        return;
    }
    post({EventKind::SendComplete});
}

void WinsockPrivate::resolveForUdp()
{
    while (!udpOutbox.empty() && udpLookupId < 0 && udp) {
        Outgoing &next = udpOutbox.front();
        QHostAddress address;
        if (ParseDottedIPv4(next.host, &address) || (next.host == resolvedName && !resolvedAddress.isNull())) {
            const Outgoing out = std::move(next);
            udpOutbox.pop_front();
            writeDatagramTo(out.data, address.isNull() ? resolvedAddress : address, out.port, true);
            continue;
        }
        const quint64 lookupGeneration = generation;
        const QString name = next.host;
        udpLookupId = QHostInfo::lookupHost(name, q, [this, lookupGeneration](const QHostInfo &info) {
            onUdpLookedUp(lookupGeneration, info);
        });
    }
}

void WinsockPrivate::onUdpLookedUp(quint64 lookupGeneration, const QHostInfo &info)
{
    if (lookupGeneration != generation || udpOutbox.empty())
        return;
    udpLookupId = -1;
    QHostAddress found;
    const auto addresses = info.addresses();
    for (const QHostAddress &address : addresses) {
        if (!DottedIPv4(address).isEmpty()) {
            found = QHostAddress(DottedIPv4(address));
            break;
        }
    }
    if (found.isNull()) {
        udpOutbox.clear();
        fail(info.error() == QHostInfo::HostNotFound ? sck::HostNotFound
             : info.error() == QHostInfo::NoError    ? sck::NoData
                                                     : sck::HostNotFoundTryAgain);
        return;
    }
    resolvedName = udpOutbox.front().host;
    resolvedAddress = found;
    resolveForUdp();
}
