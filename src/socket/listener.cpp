// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listener.h"

#include "localaddress.h"
#include "socketerrors.h"
#include "systemsocket.h"
#include "winsock.h"
#include "winsockprivate.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Takes each connection as a TLS server's, its handshake started at once,
// when it has a certificate; as plain TCP otherwise.
class TlsServer : public QTcpServer
{
public:
    TlsServer(const TlsSetup &tls, QObject *parent) : QTcpServer(parent), m_tls(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_tls.certificate.isNull()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        QSslConfiguration config = socket->sslConfiguration();
        config.setLocalCertificate(m_tls.certificate);
        config.setPrivateKey(m_tls.key);
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->setSslConfiguration(config);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    const TlsSetup m_tls;
};

} // namespace

Listener::Listener(QObject *parent) : QObject(parent) {}

Listener::~Listener()
{
    blockSignals(true);
    Close();
}

QString Listener::LocalIP() const
{
    return m_localAddress.isEmpty() ? PrimaryAddress() : m_localAddress;
}

void Listener::setState(SocketState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateTouched();
}

void Listener::Bind(qint32 localPort, const QString &localIP)
{
    if (localPort < 0 || localPort > 65535)
        RaiseSocketError(sck::InvalidPropertyValue);
    if (m_state != SocketState::Closed)
        RaiseSocketError(sck::InvalidOperation);
    QHostAddress address(QHostAddress::Any);
    if (!localIP.trimmed().isEmpty() && !ParseAddress(localIP, &address))
        RaiseSocketError(sck::AddressNotAvailable);
    // A bound socket that does not listen yet: Qt offers none, so it is made
    // here and handed to QTcpServer by Listen.
    const BoundSocket bound = BindSocket(SOCK_STREAM, address, quint16(localPort));
    m_boundFd = bound.fd;
    m_localPort = bound.port;
    m_localAddress = bound.address;
    setState(SocketState::Open);
}

void Listener::Listen()
{
    if (m_state == SocketState::Closed)
        Bind(m_localPort, QString());
    if (m_state != SocketState::Open || m_boundFd < 0)
        RaiseSocketError(sck::InvalidOperation);
    if (::listen(m_boundFd, Backlog) != 0)
        RaiseSocketError(BindErrorNumber(errno));
    auto *server = new TlsServer(m_tls, this);
    if (!server->setSocketDescriptor(m_boundFd)) {
        delete server;
        RaiseSocketError(sck::AddressNotAvailable);
    }
    m_boundFd = -1; // the server owns it now
    m_server = server;
    connect(server, &QTcpServer::newConnection, this, &Listener::onNewConnection);
    setState(SocketState::Listening);
}

void Listener::Close()
{
    if (m_server) {
        disconnect(m_server, nullptr, this, nullptr);
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    if (m_boundFd >= 0) {
        ::close(m_boundFd);
        m_boundFd = -1;
    }
    // The request whose handler runs now stays acceptable.
    dropRequests(m_inDelivery);
    setState(SocketState::Closed);
}

void Listener::dropRequests(qint32 except)
{
    for (auto it = m_requests.begin(); it != m_requests.end();) {
        if (it->first == except) {
            ++it;
            continue;
        }
        RetireConnection(it->second, this, true);
        it = m_requests.erase(it);
    }
    m_waiting.clear();
}

QString Listener::RequestHostIP(qint32 requestID) const
{
    const auto it = m_requests.find(requestID);
    return it == m_requests.end() ? QString() : AddressText(it->second->peerAddress());
}

qint32 Listener::RequestPort(qint32 requestID) const
{
    const auto it = m_requests.find(requestID);
    return it == m_requests.end() ? 0 : it->second->peerPort();
}

std::unique_ptr<Winsock> Listener::Accept(qint32 requestID)
{
    const auto it = m_requests.find(requestID);
    if (it == m_requests.end())
        RaiseSocketError(sck::InvalidArgument);
    QTcpSocket *socket = it->second;
    m_requests.erase(it);
    disconnect(socket, nullptr, this, nullptr);
    return std::unique_ptr<Winsock>(new Winsock(socket, nullptr));
}

void Listener::onNewConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        socket->setParent(this); // it must outlive the server
        const qint32 id = m_nextId++;
        m_requests.emplace(id, socket);
        m_waiting.push_back(id);
    }
    scheduleDelivery();
}

void Listener::scheduleDelivery()
{
    if (m_deliveryPosted || m_inDelivery != 0 || m_waiting.empty())
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &Listener::deliverNext, Qt::QueuedConnection);
}

void Listener::deliverNext()
{
    m_deliveryPosted = false;
    if (m_inDelivery != 0 || m_waiting.empty())
        return;
    const qint32 id = m_waiting.front();
    m_waiting.pop_front();
    m_inDelivery = id;
    try {
        emit ConnectionRequest(id);
    } catch (...) {
        // Handlers catch their own failures; the queue must not get stuck.
        qWarning("Listener: a request handler let a failure escape");
    }
    m_inDelivery = 0;
    // Not accepted: its client sees the connection end.
    const auto left = m_requests.find(id);
    if (left != m_requests.end()) {
        RetireConnection(left->second, this, true);
        m_requests.erase(left);
    }
    scheduleDelivery();
}
