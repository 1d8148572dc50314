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
#include <numeric>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Wait = 5000;   // ms: upper bound of every wait on the network
const QString Loopback = QStringLiteral("127.0.0.1");

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
        connect(&socket, &Winsock::stateTouched, this, [this] { if (!timer.isActive()) timer.start(); });
        connect(&timer, &QTimer::timeout, this, [this, &socket] {
            if (socket.State() != last)
                seen << socket.State();
            last = socket.State();
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
        connect(&s, &Winsock::ConnectEvent, this, [this] { handle("Connect"); });
        connect(&s, &Winsock::ConnectionRequest, this, [this](qint32 id) { requestID = id; handle("Request"); });
        connect(&s, &Winsock::DataArrival, this, [this](qint32 total) { bytesTotal = total; handle("Data"); });
        connect(&s, &Winsock::CloseEvent, this, [this] { handle("Close"); });
        connect(&s, &Winsock::Error, this,
                [this](qint16 number, const QString &description, qint32 scode, const QString &, const QString &,
                       qint32, bool *) {
                    errorNumber = number;
                    errorText = description;
                    errorScode = quint32(scode);
                    stateAtError = s.State();
                    handle("Error");
                });
        connect(&s, &Winsock::SendComplete, this, [this] { handle("SendComplete"); });
        connect(&s, &Winsock::SendProgress, this, [this](qint32 sent, qint32 remaining) {
            progressSent += sent;
            lastRemaining = remaining;
            handle("SendProgress");
        });
    }

    int count(const char *name) const { return int(names.count(QLatin1String(name))); }

    QStringList names;
    std::function<void(const QString &)> action;
    QString data;            // everything GetData returned in the default data handler
    bool readData = true;
    bool nested = false;
    qint32 requestID = 0, bytesTotal = 0, lastRemaining = -1;
    int errorNumber = 0, stateAtError = -1;
    quint32 errorScode = 0;
    QString errorText;
    qint64 progressSent = 0;

private:
    void handle(const char *name)
    {
        nested = nested || depth > 0;
        ++depth;
        names << QLatin1String(name);
        if (names.last() == QLatin1String("Data") && readData)
            data += s.GetData();
        if (action)
            action(names.last());
        --depth;
    }
    Winsock &s;
    int depth = 0;
};

int raisedBy(const std::function<void()> &operation)
{
    try { operation(); } catch (const RuntimeError &e) { return e.number; }
    return 0;
}

// Waits, without running the event loop, until the system holds no datagram
// for the UDP socket on 127.0.0.1:port any more (its receive queue in
// /proc/net/udp is empty).
bool systemQueueEmpty(quint16 port)
{
    const QByteArray local = QByteArray("0100007F:") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (QDeadlineTimer deadline(Wait); !deadline.hasExpired();) {
        QFile table(QStringLiteral("/proc/net/udp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> columns = line.simplified().split(' ');
            if (columns.value(1) == local && columns.value(4).endsWith(":00000000"))
                return true;
        }
    }
    return false;
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
    QTcpSocket *far() const { return conns.value(0); }
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

// Connects s to peer and waits until both ends see the connection.
#define CONNECT_TO_PEER(s, peer)                                                                                      \
    connectTo(s, Loopback, peer.server.serverPort());                                                                 \
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);                                                            \
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait)

using Operation = void (*)(Winsock &, quint16 tcpInUse, quint16 udpInUse);

} // namespace

Q_DECLARE_METATYPE(Operation)

class TstWinsock : public QObject
{
    Q_OBJECT
private slots:
    void connectShowsEveryState_data();
    void connectShowsEveryState();
    void connectFails_data();
    void connectFails();
    void acceptAfterClosingTheListener();
    void unacceptedRequestIsClosed();
    void peerCloseOrReset_data();
    void peerCloseOrReset();
    void eventsAreNeverNestedAndDroppedAfterClose();
    void udpAnswersTheLastSender();
    void udpBurstIsTakenWhileTheWindowIsBusy_data();
    void udpBurstIsTakenWhileTheWindowIsBusy();
    void largeSendReportsProgressThenCompletion();
    void receivedBytesBecomeVisibleText();
    void immediateFailuresRaise_data();
    void immediateFailuresRaise();
};

void TstWinsock::connectShowsEveryState_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("bindLocal");
    QTest::addColumn<QList<int>>("states");
    QTest::newRow("name") << QStringLiteral("localhost") << false << QList<int>{4, 5, 6, 7};
    QTest::newRow("dotted, own local port") << Loopback << true << QList<int>{6, 7};
}

void TstWinsock::connectShowsEveryState()
{
    QFETCH(QString, host);
    QFETCH(bool, bindLocal);
    QFETCH(QList<int>, states);
    Peer peer;
    Winsock s;
    StateWatch watch(s);
    Events events(s);
    const quint16 local = bindLocal ? freePort() : 0;
    s.setLocalPort(local);
    connectTo(s, host, peer.server.serverPort());
    QTRY_COMPARE_WITH_TIMEOUT(s.State(), qint16(Winsock::sckConnected), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen, states, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(events.names, QStringList{QStringLiteral("Connect")}, Wait);
    QCOMPARE(s.RemoteHostIP(), Loopback);
    QCOMPARE(s.LocalIP(), Loopback);
    QTRY_COMPARE_WITH_TIMEOUT(peer.conns.size(), 1, Wait);
    QCOMPARE(s.LocalPort(), qint32(peer.far()->peerPort()));
    if (bindLocal)
        QCOMPARE(peer.far()->peerPort(), local);
}

void TstWinsock::connectFails_data()
{
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<int>("number");
    QTest::addColumn<quint32>("scode");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << false << 10061 << 0x800A274Du << QStringLiteral("Connection is forcefully rejected.");
    QTest::newRow("timed out") << true << 10060 << 0x800A274Cu
                               << QStringLiteral("Attempt to connect timed out without establishing a connection.");
}

void TstWinsock::connectFails()
{
    QFETCH(bool, stalled);
    QFETCH(int, number);
    QFETCH(quint32, scode);
    QFETCH(QString, text);
    // Stalled: a listener with a full accept queue that never accepts; the
    // system drops further SYNs, so the attempt hangs until our own limit.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    const quint16 port = ntohs(local.sin_port);
    QTcpSocket fillers[3];
    if (stalled) {
        QVERIFY(::listen(fd, 0) == 0);
        for (QTcpSocket &filler : fillers)
            filler.connectToHost(QHostAddress::LocalHost, port);
        QTest::qWait(100);
    }

    Winsock s;
    StateWatch watch(s);
    Events events(s);
    s.setConnectTimeout(300);
    connectTo(s, Loopback, port);
    QTRY_COMPARE_WITH_TIMEOUT(events.names, QStringList{QStringLiteral("Error")}, Wait);
    ::close(fd);
    QCOMPARE(events.errorNumber, number);
    QCOMPARE(events.errorScode, scode);
    QCOMPARE(events.errorText, text);
    QCOMPARE(events.stateAtError, int(Winsock::sckError));
    QCOMPARE(s.State(), qint16(Winsock::sckError));
    s.Close();
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
    // The Error handler may close before the watch looks again: 9 need not show.
    QTRY_COMPARE_WITH_TIMEOUT(watch.seen.value(watch.seen.size() - 1, -1), 0, Wait);
    QCOMPARE(watch.seen.first(), 6);
}

void TstWinsock::acceptAfterClosingTheListener()
{
    Winsock s;
    StateWatch watch(s);
    Events events(s);
    s.Bind(0, Loopback);
    s.Listen();
    const quint16 port = quint16(s.LocalPort());
    QVERIFY(port != 0);
    QString accepted;
    events.action = [&](const QString &name) {
        if (name != QLatin1String("Request"))
            return;
        if (s.State() != Winsock::sckClosed)   // what the console's handler does
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

    // Both ways on the accepted connection; typed text goes out as its UTF-8.
    client.write("ping");
    QTRY_COMPARE_WITH_TIMEOUT(events.data, QStringLiteral("ping"), Wait);
    s.SendData(QStringLiteral("\\x00 grüß €\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(client.bytesAvailable(), qint64(17), Wait);
    QCOMPARE(client.readAll(), QByteArray("\\x00 gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\r\n"));

    // The listener is gone: a second client does not get a connection.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, Wait);
    QCOMPARE(second.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(events.count("Request"), 1);
}

void TstWinsock::unacceptedRequestIsClosed()
{
    Winsock s;
    Events events(s);
    s.Bind(0, Loopback);
    s.Listen();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(s.LocalPort()));
    QTRY_COMPARE_WITH_TIMEOUT(events.count("Request"), 1, Wait);
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
    CONNECT_TO_PEER(s, peer);
    peer.far()->write("bye");
    peer.far()->flush();
    QTRY_COMPARE_WITH_TIMEOUT(events.data, QStringLiteral("bye"), Wait);
    if (reset) {
        const linger abortive{1, 0};
        ::setsockopt(int(peer.far()->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        peer.far()->abort();
    } else {
        peer.far()->disconnectFromHost();
    }
    QTRY_COMPARE_WITH_TIMEOUT(events.names.last(), event, Wait);
    QCOMPARE(int(s.State()), state);
    QCOMPARE(events.errorNumber, reset ? 10054 : 0);
    QCOMPARE(raisedBy([&] { s.SendData(QStringLiteral("late")); }), 40006);
    s.Close();
    QCOMPARE(raisedBy([&] { s.GetData(); }), 40006);
}

void TstWinsock::eventsAreNeverNestedAndDroppedAfterClose()
{
    Peer peer;
    Winsock s;
    Events events(s);
    CONNECT_TO_PEER(s, peer);
    QTRY_COMPARE_WITH_TIMEOUT(events.count("Connect"), 1, Wait);

    // A handler that waits in a nested event loop while more happens: the
    // next events wait until it has returned.
    bool waited = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data") && !waited) {
            waited = true;
            peer.far()->write("second");
            peer.far()->disconnectFromHost();
            QTest::qWait(200);
            QCOMPARE(events.names.size(), 2);   // Connect and this Data only
        }
    };
    peer.far()->write("first");
    QTRY_COMPARE_WITH_TIMEOUT(events.count("Close"), 1, Wait);
    QVERIFY(!events.nested);
    QCOMPARE(events.data, QStringLiteral("firstsecond"));

    // A handler that closes (twice): nothing queued before arrives after it.
    Peer peer2;
    Winsock t;
    Events tevents(t);
    CONNECT_TO_PEER(t, peer2);
    tevents.readData = false;
    tevents.action = [&](const QString &name) {
        if (name == QLatin1String("Data")) {
            t.Close();
            t.Close();
        }
    };
    peer2.far()->write("x");
    peer2.far()->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(tevents.count("Data"), 1, Wait);
    QTest::qWait(100);
    QCOMPARE(tevents.names, (QStringList{QStringLiteral("Connect"), QStringLiteral("Data")}));
    QCOMPARE(t.State(), qint16(Winsock::sckClosed));
}

void TstWinsock::udpAnswersTheLastSender()
{
    Winsock s;
    Events events(s);
    s.setProtocol(Winsock::sckUDPProtocol);
    s.Bind(0, Loopback);
    QCOMPARE(s.State(), qint16(Winsock::sckOpen));
    const quint16 port = quint16(s.LocalPort());
    QUdpSocket a, b;
    QVERIFY(a.bind(QHostAddress::LocalHost, 0));
    QVERIFY(b.bind(QHostAddress::LocalHost, 0));

    // Each datagram is one event, read whole (one GetData per datagram), its sender shown.
    QStringList seen;
    events.readData = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data")) {
            seen << s.GetData() + u'@' + QString::number(s.RemotePort());
            QCOMPARE(s.GetData(), QString());
            s.SendData(QStringLiteral("re:") + seen.last().section(u'@', 0, 0));
        }
    };
    a.writeDatagram("one", QHostAddress::LocalHost, port);
    a.writeDatagram("two", QHostAddress::LocalHost, port);
    b.writeDatagram("three", QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, Wait);
    QCOMPARE(seen, (QStringList{QStringLiteral("one@%1").arg(a.localPort()), QStringLiteral("two@%1").arg(a.localPort()),
                                QStringLiteral("three@%1").arg(b.localPort())}));
    QCOMPARE(s.RemoteHostIP(), Loopback);
    const auto next = [](QUdpSocket &u) {
        return QTest::qWaitFor([&] { return u.hasPendingDatagrams(); }, Wait) ? u.receiveDatagram().data() : QByteArray();
    };
    QCOMPARE(next(a), QByteArray("re:one"));
    QCOMPARE(next(a), QByteArray("re:two"));
    QCOMPARE(next(b), QByteArray("re:three"));
    QTRY_COMPARE_WITH_TIMEOUT(events.count("SendComplete"), 3, Wait);

    // A remote set by the program after the last arrival wins, also by name.
    s.setRemoteHost(QStringLiteral("localhost"));
    s.setRemotePort(a.localPort());
    s.SendData(QStringLiteral("chosen"));
    QCOMPARE(next(a), QByteArray("chosen"));
    QVERIFY(!b.hasPendingDatagrams());
    QVERIFY(!events.nested);
}

void TstWinsock::udpBurstIsTakenWhileTheWindowIsBusy_data()
{
    QTest::addColumn<int>("queueLimit");
    QTest::newRow("every datagram, in order") << int(Winsock::UdpQueueDatagrams);
    QTest::newRow("queue bound forced small: the rest is reported") << 10;
}

// A burst sent while the event loop is kept busy: the socket still takes it
// from the system (which therefore drops nothing), then delivers it in order
// and reports what did not fit into its queue.
void TstWinsock::udpBurstIsTakenWhileTheWindowIsBusy()
{
    QFETCH(int, queueLimit);
    constexpr int Count = 1000;
    Winsock s;
    Events events(s);
    s.setProtocol(Winsock::sckUDPProtocol);
    s.setUdpQueueLimit(queueLimit);
    s.Bind(0, Loopback);
    const quint16 port = quint16(s.LocalPort());
    QList<int> numbers;
    qint64 dropped = 0;
    events.readData = false;
    events.action = [&](const QString &name) {
        if (name == QLatin1String("Data"))
            numbers << s.GetData().toInt();
    };
    connect(&s, &Winsock::DatagramsDropped, &events, [&](qint32 count) { dropped += count; });
    QUdpSocket sender;
    for (int n = 0; n < Count; ++n) {
        sender.writeDatagram(QByteArray::number(n), QHostAddress::LocalHost, port);
        if (n % 100 == 99)
            QVERIFY(systemQueueEmpty(port));
    }
    QTRY_COMPARE_WITH_TIMEOUT(numbers.size() + dropped, qint64(Count), Wait);
    QList<int> expected(std::min(Count, queueLimit));
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(numbers, expected);
    QVERIFY(!events.nested);
}

void TstWinsock::largeSendReportsProgressThenCompletion()
{
    Peer peer;
    Winsock s;
    Events events(s);
    CONNECT_TO_PEER(s, peer);
    const qint64 size = 8 * 1024 * 1024;
    s.SendData(QString(size, u'a'));
    QCOMPARE(events.count("SendProgress"), 0);   // nothing from inside SendData
    QTRY_COMPARE_WITH_TIMEOUT(events.count("SendComplete"), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received.size(), size, 20000);
    QVERIFY2(events.count("SendProgress") >= 2, "progress follows the writes");
    QCOMPARE(events.names.indexOf(QStringLiteral("SendProgress")), 1);
    QCOMPARE(events.names.last(), QStringLiteral("SendComplete"));
    QCOMPARE(events.progressSent, size);
    QCOMPARE(events.lastRemaining, 0);
}

// The decoder itself is covered in tst_textcodec; here: the socket feeds it,
// joins a character split over two reads and flushes a lone tail in time.
void TstWinsock::receivedBytesBecomeVisibleText()
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
    CONNECT_TO_PEER(s, peer);
    const auto send = [&](const QByteArray &bytes) { peer.far()->write(bytes); peer.far()->flush(); };
    send(QByteArray("1\0\x7F\xE9 \xE2", 6));
    QTRY_COMPARE_WITH_TIMEOUT(reads, QStringList{QStringLiteral("1\\x00\\x7F\\xE9 ")}, Wait);
    send("\x82\xAC");
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 2, Wait);
    QCOMPARE(reads.last(), QStringLiteral("€"));
    send("\xE2\x82");   // never completed: given out, escaped, after a while
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 3, Wait);
    QCOMPARE(reads.last(), QStringLiteral("\\xE2\\x82"));
}

void TstWinsock::immediateFailuresRaise_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("number");
    const auto row = [](const char *name, Operation op, int number) { QTest::newRow(name) << op << number; };
    row("SendData while closed", [](Winsock &s, quint16, quint16) { s.SendData(QStringLiteral("x")); }, 40006);
    row("GetData while closed", [](Winsock &s, quint16, quint16) { s.GetData(); }, 40006);
    row("LocalPort -1", [](Winsock &s, quint16, quint16) { s.setLocalPort(-1); }, 380);
    row("LocalPort 65536", [](Winsock &s, quint16, quint16) { s.setLocalPort(65536); }, 380);
    row("RemotePort 70000", [](Winsock &s, quint16, quint16) { s.setRemotePort(70000); }, 380);
    row("Protocol 2", [](Winsock &s, quint16, quint16) { s.setProtocol(2); }, 380);
    row("TCP Bind on a port in use", [](Winsock &s, quint16 tcp, quint16) { s.Bind(tcp, Loopback); }, 10048);
    row("UDP Bind on a port in use", [](Winsock &s, quint16, quint16 udp) { s.setProtocol(1); s.Bind(udp, Loopback); }, 10048);
    row("client LocalPort in use", [](Winsock &s, quint16 tcp, quint16) { s.setLocalPort(tcp); connectTo(s, Loopback, tcp); }, 10048);
    row("Bind to an address not here", [](Winsock &s, quint16, quint16) { s.Bind(0, QStringLiteral("192.0.2.1")); }, 10049);
    row("Connect while listening", [](Winsock &s, quint16 tcp, quint16) { s.Bind(0, Loopback); s.Listen(); connectTo(s, Loopback, tcp); }, 40020);
    row("SendData while listening", [](Winsock &s, quint16, quint16) { s.Bind(0, Loopback); s.Listen(); s.SendData(QStringLiteral("x")); }, 40006);
}

void TstWinsock::immediateFailuresRaise()
{
    QFETCH(Operation, operation);
    QFETCH(int, number);
    QTcpServer tcpHolder;
    QVERIFY(tcpHolder.listen(QHostAddress::LocalHost, 0));
    QUdpSocket udpHolder;
    QVERIFY(udpHolder.bind(QHostAddress::LocalHost, 0));
    Winsock s;
    Events events(s);
    QCOMPARE(raisedBy([&] { operation(s, tcpHolder.serverPort(), udpHolder.localPort()); }), number);
    QTest::qWait(20);
    QCOMPARE(events.names, QStringList());   // raised in the caller, no Error event
    s.Close();
    s.Close();   // harmless twice
    QCOMPARE(s.State(), qint16(Winsock::sckClosed));
    QCOMPARE(QHostAddress(s.LocalIP()).protocol(), QAbstractSocket::IPv4Protocol);   // dotted even when closed
}

QTEST_GUILESS_MAIN(TstWinsock)
#include "tst_winsock.moc"
