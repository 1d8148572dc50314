#include "winsock.h"

#include "startup/failure.h"

// Placeholder until the socket control lands: every operation refuses.
class WinsockPrivate
{
public:
    qint32 localPort = 0, remotePort = 0;
    QString remoteHost;
    int protocol = 0;
};

Winsock::Winsock(QObject *parent) : QObject(parent), d(new WinsockPrivate) {}
Winsock::~Winsock() { delete d; }
qint32 Winsock::LocalPort() const { return d->localPort; }
void Winsock::setLocalPort(qint32 port) { d->localPort = port; }
qint32 Winsock::RemotePort() const { return d->remotePort; }
void Winsock::setRemotePort(qint32 port) { d->remotePort = port; }
QString Winsock::RemoteHost() const { return d->remoteHost; }
void Winsock::setRemoteHost(const QString &host) { d->remoteHost = host; }
int Winsock::Protocol() const { return d->protocol; }
void Winsock::setProtocol(int protocol) { d->protocol = protocol; }
qint16 Winsock::State() const { return sckClosed; }
QString Winsock::RemoteHostIP() const { return {}; }
QString Winsock::LocalIP() const { return QStringLiteral("127.0.0.1"); }
void Winsock::Close() {}
void Winsock::Bind(qint32, const QString &) { Raise(40020, QStringLiteral("Invalid operation at current state")); }
void Winsock::Listen() { Raise(40020, QStringLiteral("Invalid operation at current state")); }
void Winsock::Connect() { Raise(40020, QStringLiteral("Invalid operation at current state")); }
void Winsock::Accept(qint32) { Raise(40020, QStringLiteral("Invalid operation at current state")); }
void Winsock::SendData(const QString &) { Raise(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request")); }
QString Winsock::GetData() { Raise(40006, QStringLiteral("Wrong protocol or connection state for the requested transaction or request")); }
