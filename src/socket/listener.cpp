// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listener.h"

#include "udp/packetinfo.h"

#include "localaddress.h"
#include "socketerrors.h"
#include "systemsocket.h"
#include "winsock.h"
#include "winsockprivate.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A connection as the listener takes it: its peer as accept() said it, for
// a connection its client reset before it was taken (the system then no
// longer names the peer, and the data that came first is still to be read).
template<typename Socket>
class Accepted : public Socket
{
public:
    explicit Accepted(QObject *parent) : Socket(parent) {}
    void keepPeer(const sockaddr *address)
    {
        if (!this->peerAddress().isNull())
            return;
        quint16 port = 0;
        this->setPeerAddress(FromSockaddr(address, &port));
        this->setPeerPort(port);
    }
};

// Connections taken from the system at most in one turn of the event loop.
constexpr int AcceptBatch = 64;
// With no descriptor left, the listener rests this long before it tries
// again (the system keeps the waiting connections meanwhile).
constexpr int RestMs = 200;

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
    ApplyPacketPath(m_boundFd, bound.ipv6, {m_tos, {}});
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
    m_listenFd = std::exchange(m_boundFd, -1);
    m_acceptable = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_acceptable, &QSocketNotifier::activated, this, &Listener::onAcceptable);
    // A descriptor kept aside: with none left, it is given up for a moment
    // to take a waiting connection and close it, so that clients are told
    // at once instead of waiting in the system's queue.
    if (m_spareFd < 0)
        m_spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    setState(SocketState::Listening);
}

void Listener::Close()
{
    if (m_acceptable) {
        m_acceptable->setEnabled(false);
        m_acceptable->deleteLater();
        m_acceptable = nullptr;
    }
    for (int *fd : {&m_listenFd, &m_boundFd, &m_spareFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    // The request whose handler runs now stays acceptable.
    dropRequests(m_inDelivery);
    setState(SocketState::Closed);
}

// Takes what waits in the system, each connection as a socket of its own:
// a TLS server's, its handshake started at once, when there is a
// certificate; plain TCP otherwise.
void Listener::onAcceptable()
{
    for (int count = 0; count < AcceptBatch && m_listenFd >= 0; ++count) {
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr *>(&peer), &peerLength,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                shedLoad(errno);
            break; // EAGAIN: nothing more waits (or a connection that went away)
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        QTcpSocket *socket = nullptr;
        bool taken = false;
        if (m_tls.certificate.isNull()) {
            auto *plain = new Accepted<QTcpSocket>(this);
            taken = plain->setSocketDescriptor(fd);
            plain->keepPeer(reinterpret_cast<const sockaddr *>(&peer));
            socket = plain;
        } else {
            auto *secure = new Accepted<QSslSocket>(this);
            taken = secure->setSocketDescriptor(fd);
            secure->keepPeer(reinterpret_cast<const sockaddr *>(&peer));
            socket = secure;
        }
        if (!taken) {
            delete socket;
            ::close(fd);
            continue;
        }
        if (auto *secure = qobject_cast<QSslSocket *>(socket)) {
            SetUpTlsServer(*secure, m_tls);
            secure->startServerEncryption();
        }
        const qint32 id = m_nextId++;
        m_requests.emplace(id, socket);
        m_waiting.push_back(id);
    }
    scheduleDelivery();
}

// No descriptor is left (the program's or the system's): the waiting
// connection is taken with the spare descriptor and closed at once, and the
// listener rests a moment instead of being woken again and again.
void Listener::shedLoad(int error)
{
    if (m_spareFd >= 0) {
        ::close(m_spareFd);
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        m_spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    m_acceptable->setEnabled(false);
    QTimer::singleShot(RestMs, this, [this] {
        if (m_acceptable)
            m_acceptable->setEnabled(true);
    });
    emit AcceptFailed(error == EMFILE);
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
