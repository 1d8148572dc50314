#pragma once
// Winsock: the window's one event-driven socket, TCP or UDP, client or server.
//
// The console is written against this object: properties that are read and
// written before an open, operations that return at once, and events that
// report what happened in the background.  It is built on Qt's sockets and
// runs on the user-interface thread only.
//
// State codes: 0 closed, 1 open, 2 listening, 3 connection pending, 4 resolving
// host, 5 host resolved, 6 connecting, 7 connected, 8 closing (the peer closed),
// 9 error.  Protocol codes: 0 TCP, 1 UDP.
//
// Events are queued and delivered one at a time from the event loop, never
// from inside one of the object's own operations, so a handler that calls
// Close, Accept or SendData is never re-entered by another event.
//
// Operations that fail at once raise a RuntimeError in the caller (numbers of
// socketerrors.h); failures in the background arrive as the Error event.

#include <QObject>
#include <QString>

class WinsockPrivate;

class Winsock : public QObject
{
    Q_OBJECT
public:
    enum StateCode : qint16 {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9,
    };
    enum ProtocolCode : int { sckTCPProtocol = 0, sckUDPProtocol = 1 };

    explicit Winsock(QObject *parent = nullptr);
    ~Winsock() override;

    // Properties
    qint32 LocalPort() const;
    void setLocalPort(qint32 port);        // 380 outside 0..65535
    qint32 RemotePort() const;
    void setRemotePort(qint32 port);       // 380 outside 0..65535
    QString RemoteHost() const;
    void setRemoteHost(const QString &host);
    int Protocol() const;
    void setProtocol(int protocol);        // 380 for other codes; 40020 while not closed
    qint16 State() const;
    QString RemoteHostIP() const;          // dotted IPv4, empty when unknown
    QString LocalIP() const;               // dotted IPv4 (see the class notes)

    // Operations
    void Close();
    void Bind(qint32 localPort, const QString &localIP);
    void Listen();
    void Connect();
    void Accept(qint32 requestID);
    void SendData(const QString &data);
    QString GetData();

signals:
    // The seven events.  Connect and Close carry an "Event" suffix because
    // the operations of the same names take those names in C++.
    void ConnectEvent();
    void ConnectionRequest(qint32 requestID);
    void DataArrival(qint32 bytesTotal);
    void CloseEvent();
    void Error(qint16 number, const QString &description, qint32 scode, const QString &source,
               const QString &helpFile, qint32 helpContext, bool *cancelDisplay);
    void SendComplete();
    void SendProgress(qint32 bytesSent, qint32 bytesRemaining);

    // Not an event: emitted at once, from inside the operation that made
    // it, whenever State changes.  The state watch uses it to know when to
    // look again; it must not call back into the object.
    void stateTouched();

private:
    WinsockPrivate *d;
};
