// The socket control against real peers on the loopback interface: states as
// a 1 ms state watch sees them, events (never nested, dropped after Close),
// TCP client and server, UDP both ways, send progress, text and failures.

#include "socket/winsock.h"
#include "startup/failure.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Wait = 5000;   // ms: upper bound of every wait on the network

// Watches State the way the console does: a 1 ms single-shot precise timer
// armed on stateTouched, reporting each state that differs from the last.
class StateWatch : public QObject
{
public:
    explicit StateWatch(Winsock &socket)
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        connect(&socket, &Winsock::stateTouched, this, [this] {
            if (!timer.isActive())
                timer.start();
        });
        connect(&timer, &QTimer::timeout, this, [this, &socket] {
            const int state = socket.State();
            if (state != last)
                seen << state;
            last = state;
        });
    }
    QList<int> seen;

private:
    QTimer timer;
    int last = Winsock::sckClosed;
};

// Records the events in order, runs an optional action in each, and notes
// any event that arrives while another one is being handled.
class Events : public QObject
{
public:
    explicit Events(Winsock &socket) : s(socket)
    {
        connect(&s, &Winsock::ConnectEvent, this, [this] { handle(QStringLiteral("Connect")); });
        connect(&s, &Winsock::ConnectionRequest, this,
                [this](qint32 id) { requestID = id; handle(QStringLiteral("Request")); });
        connect(&s, &Winsock::DataArrival, this, [this](qint32 total) {
            bytesTotal = total;
            handle(QStringLiteral("Data"));
        });
        connect(&s, &Winsock::CloseEvent, this, [this] { handle(QStringLiteral("Close")); });
        connect(&s, &Winsock::Error, this,
                [this](qint16 number, const QString &description, qint32 scode, const QString &, const QString &,
                       qint32, bool *) {
                    errorNumber = number;
                    errorText = description;
                    errorScode = quint32(scode);
                    stateAtError = s.State();
                    handle(QStringLiteral("Error"));
                });
        connect(&s, &Winsock::SendComplete, this, [this] { handle(QStringLiteral("SendComplete")); });
        connect(&s, &Winsock::SendProgress, this, [this](qint32 sent, qint32 remaining) {
            progressSent += sent;
            lastRemaining = remaining;
            handle(QStringLiteral("SendProgress"));
        });
    }

    int count(const QString &name) const { return int(names.count(name)); }

    QStringList names;
    std::function<void(const QString &)> action;
    QString data;            // everything GetData returned in the default data handler
    bool readData = true;
    bool nested = false;
    qint32 requestID = 0, bytesTotal = 0;
    int errorNumber = 0, stateAtError = -1;
    quint32 errorScode = 0;
    QString errorText;
    qint64 progressSent = 0;
    qint32 lastRemaining = -1;

private:
    void handle(const QString &name)
    {
        if (depth > 0)
            nested = true;
        ++depth;
        names << name;
        if (name == QLatin1String("Data") && readData)
            data += s.GetData();
        if (action)
            action(name);
        --depth;
    }
    Winsock &s;
    int depth = 0;
};

int raisedBy(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const RuntimeError &e) {
        return e.number;
    }
    return 0;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A server on 127.0.0.1 that keeps its connections and what they sent.
struct Peer
{
    Peer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket *c = server.nextPendingConnection()) {
                conns << c;
                QObject::connect(c, &QIODevice::readyRead, c, [this, c] { received += c->readAll(); });
            }
        });
    }
    QTcpServer server;
    QList<QTcpSocket *> conns;
    QByteArray received;
};

void connectTo(Winsock &s, const QString &host, quint16 port)
{
    s.setProtocol(Winsock::sckTCPProtocol);
    s.setRemoteHost(host);
    s.setRemotePort(port);
    s.Connect();
}

} // namespace

class TstWinsock : public QObject
{
    Q_OBJECT
private slots:
    void connectShowsEveryState_data();
    void connectShowsEveryState();
    void refusedConnectIsAnErrorEvent();
    void connectTimesOut();
    void clientBindsItsLocalPort();
    void acceptAfterClosingTheListener();
    void unacceptedRequestIsClosed();
    void peerCloseOrReset_data();
    void peerCloseOrReset();
    void eventsAreNeverNestedAndDroppedAfterClose();
    void udpAnswersTheLastSender();
    void udpClientSendsToAName();
    void udpOversizeDatagramIsReported();
    void largeSendReportsProgressThenCompletion();
    void everyByteArrivesVisibly();
    void splitCharacterIsJoinedAndLoneTailFlushed();
    void immediateFailuresRaise_data();
    void immediateFailuresRaise();
    void closeIsHarmlessAndLocalIPIsDotted();
};

void TstWinsock::connectShowsEveryState_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QList<int>>("states");
    QTest::newRow("name") << QStringLiteral("localhost") << QList<int>{4, 5, 6, 7};
    QTest::newRow("dotted") << QStringLiteral("127.0.0.1") << QList<int>{6, 7};
}

void TstWinsock::connectShowsEveryState()
{
    QFETCH(QString, host);
    QFETCH(QList<int>, states);
    Peer peer;
    Winsock s;
    StateWatch watch(s);
    Events events(s);
    connectTo(s, host, peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen, states, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(events.names, QStringList{QStringLiteral("Connect")}, Wait);
    QCOMPARE(s.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(s.LocalIP(), QStringLiteral("127.0.0.1"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QCOMPARE(s.LocalPort(), qint32(peer.conns[0]->peerPort()));
}

void TstWinsock::refusedConnectIsAnErrorEvent()
{
    Winsock s;
    StateWatch watch(s);
    Events events(s);
    connectTo(s, QStringLiteral("127.0.0.1"), freePort());
    QTRY_COMPARE_WITH_TIMEOUT(events.names, QStringList{QStringLiteral("Error")}, Wait);
    QCOMPARE(events.errorNumber, 10061);
    QCOMPARE(events.errorScode, 0x800A274Du);
    QCOMPARE(events.errorText, QStringLiteral("Connection is forcefully rejected."));
    QCOMPARE(events.stateAtError, int(Winsock::sckError));
    QCOMPARE(s.State(), qint16(Winsock::sckError));
    s.Close();
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
    // The Error handler may close before the watch looks again: 9 need not show.
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen.value(watch.seen.size() - 1, -1), 0, Wait);
    QCOMPARE(watch.seen.first(), 6);
}

void TstWinsock::connectTimesOut()
{
    // A listener with a full accept queue that never accepts: the system
    // drops further SYNs, so the attempt hangs until our own time limit.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0);
    QVERIFY(::listen(fd, 0) == 0);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    const quint16 port = ntohs(local.sin_port);
    QTcpSocket fillers[3];
    for (QTcpSocket &filler : fillers)
        filler.connectToHost(QHostAddress::LocalHost, port);
    QTest::qWait(100);

    Winsock s;
    Events events(s);
    s.setConnectTimeout(300);
    connectTo(s, QStringLiteral("127.0.0.1"), port);
    QTRY_COMPARE_WITH_TIMEOUT(events.names, QStringList{QStringLiteral("Error")}, Wait);
    ::close(fd);
    QCOMPARE(events.errorNumber, 10060);
    QCOMPARE(s.State(), qint16(Winsock::sckError));
}

void TstWinsock::clientBindsItsLocalPort()
{
    Peer peer;
    Winsock s;
    const quint16 local = freePort();
    s.setLocalPort(local);
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QCOMPARE(peer.conns[0]->peerPort(), local);
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
}

void TstWinsock::acceptAfterClosingTheListener()
{
    Winsock s;
    StateWatch watch(s);
    Events events(s);
    s.Bind(0, QStringLiteral("127.0.0.1"));
    s.Listen();
    const quint16 port = quint16(s.LocalPort());
    QVERIFY(port != 0);
    QString accepted;
    events.action = [&](const QString &name) {
        if (name != QLatin1String("Request"))
            return;
        // What the console's handler does.
        if (s.State() != Winsock::sckClosed)
            s.Close();
        s.Accept(events.requestID);
        accepted = QString::number(s.State()) + u' ' + s.RemoteHostIP() + u' ' + s.LocalIP();
    };
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen, QList<int>{2}, Wait);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(accepted, QStringLiteral("7 127.0.0.1 127.0.0.1"), Wait);
    QCOMPARE(s.RemotePort(), qint32(client.localPort()));
    QCOMPARE(s.LocalPort(), qint32(port));
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen, (QList<int>{2, 7}), Wait);

    // Both ways on the accepted connection.
    client.write("ping");
    QTRY_COMPARE_WITH_TIMEOUT(events.data, QStringLiteral("ping"), Wait);
    s.SendData(QStringLiteral("pong"));
    QTRY_COMPARE_WITH_TIMEOUT(client.bytesAvailable(), qint64(4), Wait);
    QCOMPARE(client.readAll(), QByteArray("pong"));

    // The listener is gone: a second client does not get a connection.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, Wait);
    QCOMPARE(second.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(events.count(QStringLiteral("Request")), 1);
}

void TstWinsock::unacceptedRequestIsClosed()
{
    Winsock s;
    Events events(s);
    s.Bind(0, QStringLiteral("127.0.0.1"));
    s.Listen();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(s.LocalPort()));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("Request")), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, Wait);
    QCOMPARE(s.State(), qint16(Winsock::sckListening));
    QCOMPARE(raisedBy([&] { s.Accept(events.requestID); }), 40020);
}

void TstWinsock::peerCloseOrReset_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("state");
    QTest::newRow("orderly close") << false << QStringLiteral("Close") << int(Winsock::sckClosing);
    QTest::newRow("reset") << true << QStringLiteral("Error") << int(Winsock::sckError);
}

void TstWinsock::peerCloseOrReset()
{
    QFETCH(bool, reset);
    QFETCH(QString, event);
    QFETCH(int, state);
    Peer peer;
    Winsock s;
    Events events(s);
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    QTcpSocket *far = peer.conns[0];
    far->write("bye");
    far->flush();
    QTRY_COMPARE_WITH_TIMEOUT(events.data, QStringLiteral("bye"), Wait);
    if (reset) {
        const linger abortive {1, 0};
        ::setsockopt(int(far->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        far->abort();
    } else {
        far->disconnectFromHost();
    }
    QTRY_COMPARE_WITH_TIMEOUT(events.names.last(), event, Wait);
    QCOMPARE(int(s.State()), state);
    if (reset)
        QCOMPARE(events.errorNumber, 10054);
    QCOMPARE(raisedBy([&] { s.SendData(QStringLiteral("late")); }), 40006);
    s.Close();
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
    QCOMPARE(raisedBy([&] { s.GetData(); }), 40006);
}

void TstWinsock::eventsAreNeverNestedAndDroppedAfterClose()
{
    Peer peer;
    Winsock s;
    Events events(s);
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("Connect")), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QTcpSocket *far = peer.conns[0];

    // A handler that waits in a nested event loop while more happens: the
    // next events wait until it has returned.
    bool waited = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data") && !waited) {
            waited = true;
            far->write("second");
            far->disconnectFromHost();
            QTest::qWait(200);
            QCOMPARE(events.names.size(), 2);   // Connect and this Data only
        }
    };
    far->write("first");
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("Close")), 1, Wait);
    QVERIFY(!events.nested);
    QCOMPARE(events.data, QStringLiteral("firstsecond"));

    // A handler that closes: nothing queued before the Close arrives after it.
    Peer peer2;
    Winsock t;
    Events tevents(t);
    connectTo(t, QStringLiteral("127.0.0.1"), peer2.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(peer2.conns.size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(tevents.count(QStringLiteral("Connect")), 1, Wait);
    tevents.readData = false;
    tevents.action = [&](const QString &name) {
        if (name == QLatin1String("Data")) {
            t.Close();
            QCOMPARE(t.State(), qint16(Winsock::sckClosed));
            t.Close();   // harmless twice
        }
    };
    peer2.conns[0]->write("x");
    QTRY_COMPARE_WITH_TIMEOUT(tevents.count(QStringLiteral("Data")), 1, Wait);
    QTest::qWait(100);
    QCOMPARE(tevents.names, (QStringList{QStringLiteral("Connect"), QStringLiteral("Data")}));
    QVERIFY(!tevents.nested);
}

void TstWinsock::udpAnswersTheLastSender()
{
    Winsock s;
    Events events(s);
    s.setProtocol(Winsock::sckUDPProtocol);
    s.Bind(0, QStringLiteral("127.0.0.1"));
    QCOMPARE(s.State(), qint16(Winsock::sckOpen));
    const quint16 port = quint16(s.LocalPort());
    QUdpSocket a, b;
    QVERIFY(a.bind(QHostAddress::LocalHost, 0));
    QVERIFY(b.bind(QHostAddress::LocalHost, 0));

    // Each datagram is one event, read whole, its sender shown.
    QStringList seen;
    events.readData = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data")) {
            seen << s.GetData() + u'@' + QString::number(s.RemotePort());
            QCOMPARE(s.GetData(), QString());   // one GetData per datagram
            s.SendData(QStringLiteral("re:") + seen.last().section(u'@', 0, 0));
        }
    };
    a.writeDatagram("one", QHostAddress::LocalHost, port);
    a.writeDatagram("two", QHostAddress::LocalHost, port);
    b.writeDatagram("three", QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, Wait);
    QCOMPARE(seen, (QStringList{QStringLiteral("one@%1").arg(a.localPort()), QStringLiteral("two@%1").arg(a.localPort()),
                                QStringLiteral("three@%1").arg(b.localPort())}));
    QCOMPARE(s.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QTRY_COMPARE_WITH_TIMEOUT(a.hasPendingDatagrams(), true, Wait);
    QCOMPARE(a.receiveDatagram().data(), QByteArray("re:one"));
    QTRY_COMPARE_WITH_TIMEOUT(a.hasPendingDatagrams(), true, Wait);
    QCOMPARE(a.receiveDatagram().data(), QByteArray("re:two"));
    QTRY_COMPARE_WITH_TIMEOUT(b.hasPendingDatagrams(), true, Wait);
    QCOMPARE(b.receiveDatagram().data(), QByteArray("re:three"));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("SendComplete")), 3, Wait);

    // A remote set by the program after the last arrival wins.
    s.setRemoteHost(QStringLiteral("127.0.0.1"));
    s.setRemotePort(a.localPort());
    s.SendData(QStringLiteral("chosen"));
    QTRY_COMPARE_WITH_TIMEOUT(a.hasPendingDatagrams(), true, Wait);
    QCOMPARE(a.receiveDatagram().data(), QByteArray("chosen"));
    QVERIFY(!b.hasPendingDatagrams());
    QVERIFY(!events.nested);
}

void TstWinsock::udpClientSendsToAName()
{
    QUdpSocket server;
    QVERIFY(server.bind(QHostAddress::LocalHost, 0));
    Winsock s;
    Events events(s);
    s.setProtocol(Winsock::sckUDPProtocol);
    s.setRemoteHost(QStringLiteral("localhost"));
    s.setRemotePort(server.localPort());
    s.Bind(0, QString());
    s.SendData(QStringLiteral("q1"));
    s.SendData(QStringLiteral("q2"));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("SendComplete")), 2, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(server.hasPendingDatagrams(), true, Wait);
    const QNetworkDatagram first = server.receiveDatagram();
    QCOMPARE(first.data(), QByteArray("q1"));
    QTRY_COMPARE_WITH_TIMEOUT(server.hasPendingDatagrams(), true, Wait);
    QCOMPARE(server.receiveDatagram().data(), QByteArray("q2"));
    QCOMPARE(s.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    server.writeDatagram("answer", first.senderAddress(), quint16(first.senderPort()));
    QTRY_COMPARE_WITH_TIMEOUT(events.data, QStringLiteral("answer"), Wait);
}

void TstWinsock::udpOversizeDatagramIsReported()
{
    Winsock s;
    Events events(s);
    s.setProtocol(Winsock::sckUDPProtocol);
    s.Bind(0, QStringLiteral("127.0.0.1"));
    QUdpSocket peer;
    peer.writeDatagram(QByteArray(10000, 'z'), QHostAddress::LocalHost, quint16(s.LocalPort()));
    QTRY_COMPARE_WITH_TIMEOUT(events.names, (QStringList{QStringLiteral("Data"), QStringLiteral("Error")}), Wait);
    QCOMPARE(events.bytesTotal, Winsock::UdpReceiveBuffer);
    QCOMPARE(events.data, QString(Winsock::UdpReceiveBuffer, u'z'));
    QCOMPARE(events.errorNumber, 10040);
    QCOMPARE(s.State(), qint16(Winsock::sckOpen));
}

void TstWinsock::largeSendReportsProgressThenCompletion()
{
    Peer peer;
    Winsock s;
    Events events(s);
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    const qint64 size = 8 * 1024 * 1024;
    s.SendData(QString(size, u'a'));
    QCOMPARE(events.count(QStringLiteral("SendProgress")), 0);   // nothing from inside SendData
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("SendComplete")), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received.size(), size, 20000);
    QVERIFY2(events.count(QStringLiteral("SendProgress")) >= 2, "progress follows the writes");
    QCOMPARE(events.names.indexOf(QStringLiteral("SendProgress")), 1);
    QCOMPARE(events.names.last(), QStringLiteral("SendComplete"));
    QCOMPARE(events.progressSent, size);
    QCOMPARE(events.lastRemaining, 0);
}

void TstWinsock::everyByteArrivesVisibly()
{
    Peer peer;
    Winsock s;
    Events events(s);
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    QByteArray all;
    QString expected;
    for (int b = 0; b < 256; ++b) {
        all += char(b);
        const bool plain = (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r';
        expected += plain ? QString(QChar(b)) : QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    expected.replace(QStringLiteral("\\X"), QStringLiteral("\\x"));
    peer.conns[0]->write(all);
    peer.conns[0]->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("Close")), 1, Wait);
    QCOMPARE(events.data, expected);

    // And typed text goes out as exactly its UTF-8 bytes.
    Winsock t;
    connectTo(t, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(t.State(), qint16(Winsock::sckConnected), Wait);
    t.SendData(QStringLiteral("\\x00 grüß €\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("\\x00 gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\r\n"), Wait);
}

void TstWinsock::splitCharacterIsJoinedAndLoneTailFlushed()
{
    Peer peer;
    Winsock s;
    Events events(s);
    QStringList reads;
    events.readData = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data"))
            reads << s.GetData();
    };
    connectTo(s, QStringLiteral("127.0.0.1"), peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    QTcpSocket *far = peer.conns[0];
    far->write("1 \xE2");
    far->flush();
    QTRY_COMPARE_WITH_TIMEOUT(reads, QStringList{QStringLiteral("1 ")}, Wait);
    far->write("\x82\xAC");
    far->flush();
    QTRY_COMPARE_WITH_TIMEOUT(reads, (QStringList{QStringLiteral("1 "), QStringLiteral("€")}), Wait);

    // A tail that is never completed is given out, escaped, after a while.
    far->write("\xE2\x82");
    far->flush();
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 3, Wait);
    QCOMPARE(reads.last(), QStringLiteral("\\xE2\\x82"));
}

void TstWinsock::immediateFailuresRaise_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("number");
    QTest::newRow("SendData while closed") << QStringLiteral("send") << 40006;
    QTest::newRow("GetData while closed") << QStringLiteral("get") << 40006;
    QTest::newRow("LocalPort -1") << QStringLiteral("localport-1") << 380;
    QTest::newRow("LocalPort 65536") << QStringLiteral("localport65536") << 380;
    QTest::newRow("RemotePort 70000") << QStringLiteral("remoteport") << 380;
    QTest::newRow("Protocol 2") << QStringLiteral("protocol") << 380;
    QTest::newRow("TCP Bind on a port in use") << QStringLiteral("tcpinuse") << 10048;
    QTest::newRow("UDP Bind on a port in use") << QStringLiteral("udpinuse") << 10048;
    QTest::newRow("client LocalPort in use") << QStringLiteral("clientinuse") << 10048;
    QTest::newRow("Bind to an address not here") << QStringLiteral("notlocal") << 10049;
    QTest::newRow("Connect while listening") << QStringLiteral("connectagain") << 40020;
    QTest::newRow("SendData while listening") << QStringLiteral("sendlistening") << 40006;
}

void TstWinsock::immediateFailuresRaise()
{
    QFETCH(QString, what);
    QFETCH(int, number);
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    QUdpSocket udpHolder;
    QVERIFY(udpHolder.bind(QHostAddress::LocalHost, 0));
    Winsock s;
    Events events(s);
    const QHash<QString, std::function<void()>> operations{
        {QStringLiteral("send"), [&] { s.SendData(QStringLiteral("x")); }},
        {QStringLiteral("get"), [&] { s.GetData(); }},
        {QStringLiteral("localport-1"), [&] { s.setLocalPort(-1); }},
        {QStringLiteral("localport65536"), [&] { s.setLocalPort(65536); }},
        {QStringLiteral("remoteport"), [&] { s.setRemotePort(70000); }},
        {QStringLiteral("protocol"), [&] { s.setProtocol(2); }},
        {QStringLiteral("tcpinuse"), [&] { s.Bind(holder.serverPort(), QStringLiteral("127.0.0.1")); }},
        {QStringLiteral("udpinuse"),
         [&] {
             s.setProtocol(Winsock::sckUDPProtocol);
             s.Bind(udpHolder.localPort(), QStringLiteral("127.0.0.1"));
         }},
        {QStringLiteral("clientinuse"),
         [&] {
             s.setLocalPort(holder.serverPort());
             connectTo(s, QStringLiteral("127.0.0.1"), holder.serverPort());
         }},
        {QStringLiteral("notlocal"), [&] { s.Bind(0, QStringLiteral("192.0.2.1")); }},
        {QStringLiteral("connectagain"),
         [&] {
             s.Bind(0, QStringLiteral("127.0.0.1"));
             s.Listen();
             connectTo(s, QStringLiteral("127.0.0.1"), holder.serverPort());
         }},
        {QStringLiteral("sendlistening"),
         [&] {
             s.Bind(0, QStringLiteral("127.0.0.1"));
             s.Listen();
             s.SendData(QStringLiteral("x"));
         }},
    };
    QCOMPARE(raisedBy(operations.value(what)), number);
    QTest::qWait(20);
    QCOMPARE(events.names, QStringList());   // raised in the caller, no Error event
    s.Close();
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
}

void TstWinsock::closeIsHarmlessAndLocalIPIsDotted()
{
    Winsock s;
    int touched = 0;
    connect(&s, &Winsock::stateTouched, this, [&] { ++touched; });
    s.Close();
    s.Close();
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
    QCOMPARE(touched, 0);
    QHostAddress address;
    QVERIFY(address.setAddress(s.LocalIP()));
    QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
}

QTEST_GUILESS_MAIN(TstWinsock)
#include "tst_winsock.moc"
