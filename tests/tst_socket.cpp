// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The socket class against real peers on loopback, for what the session does
// not show on its own: events that die with Close, and a UDP burst taken
// whole while the event loop is busy.

#include "base/clock.h"
#include "socket/localaddress.h"
#include "socket/socketerrors.h"
#include "socket/systemsocket.h"
#include "socket/winsock.h"
#include "udp/udpsender.h"

#include "columns.h"
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <QtTest>

#include <numeric>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Wait = 5000; // ms, for anything that crosses loopback

// A socket connected to a listener on 127.0.0.1.  Its events are recorded
// in order, the data read as it arrives, and an optional action runs in each.
struct Connection : QObject
{
    Connection()
    {
        connect(&s, &Winsock::ConnectEvent, this, [this] { handle("Connect"); });
        connect(&s, &Winsock::DataArrival, this, [this] { handle("Data"); });
        connect(&s, &Winsock::CloseEvent, this, [this] { handle("Close"); });
        connect(&s, &Winsock::Error, this, [this] { handle("Error"); });
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this,
                [this] { peer = server.nextPendingConnection(); });
    }
    void open(quint16 port)
    {
        s.setStreamStamps(stamps);
        s.setProtocol(Winsock::sckTCPProtocol);
        s.setRemoteHost("127.0.0.1");
        s.setRemotePort(port);
        s.Connect();
    }
    bool open()
    {
        open(server.serverPort());
        return QTest::qWaitFor([this] { return peer && s.State() == SocketState::Connected; },
                               Wait);
    }
    void handle(const char *name)
    {
        events << QLatin1String(name);
        if (action)
            action(events.last());
        if (events.last() == "Data" && s.State() != SocketState::Closed)
            data += s.GetData();
    }
    Winsock s;
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QStringList events;
    QByteArray data;
    std::function<void(const QString &)> action;
    bool stamps = false;
};

// Waits, without running the event loop, until the system holds no datagram
// for the UDP socket on 127.0.0.1:port (its receive queue in /proc/net/udp).
bool systemQueueEmpty(quint16 port)
{
    const QByteArray local
        = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (QDeadlineTimer deadline(Wait); !deadline.hasExpired();) {
        QFile table("/proc/net/udp");
        for (const QByteArray &line :
             table.open(QIODevice::ReadOnly) ? table.readAll().split('\n') : QByteArrayList()) {
            const QByteArrayList columns = line.simplified().split(' ');
            if (columns.value(1) == local && columns.value(4).endsWith(":00000000"))
                return true;
        }
    }
    return false;
}

} // namespace

class TestSocket : public QObject
{
    Q_OBJECT

private slots:
    // The machine's address, on a host of its own (a network namespace)
    // with an IPv6 and an IPv4 address: IPv4 first unless IPv6 is asked for.
    // First of the tests: the address is kept for a second.
    void primaryAddressIPv4First()
    {
        if (geteuid() != 0)
            QSKIP("a network namespace needs root");
        const QString before = PrimaryAddress();
        const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        QVERIFY(home >= 0 && ::unshare(CLONE_NEWNET) == 0);
        const int made = QProcess::execute(
            "sh", {"-c", "ip link add sa0 type veth peer name sb0 && ip link set sa0 up && "
                         "ip link set sb0 up && ip addr add 2001:db8::1/64 dev sa0 nodad && "
                         "ip addr add 192.0.2.1/24 dev sa0"});
        // Once the address kept from before has gone stale:
        QTRY_VERIFY_WITH_TIMEOUT(PrimaryAddress() != before, Wait);
        const QStringList found{PrimaryAddress(), PrimaryAddress(true)};
        QVERIFY(::setns(home, CLONE_NEWNET) == 0);
        ::close(home);
        QCOMPARE(made, 0);
        QCOMPARE(found, (QStringList{"192.0.2.1", "2001:db8::1"}));
        QTRY_COMPARE_WITH_TIMEOUT(PrimaryAddress(), before, Wait);
    }
    // A handler that closes (twice): what was queued for that connection
    // never comes, so the next connection's first event follows at once.
    void closeDropsWaitingEvents()
    {
        Connection first, second;
        QVERIFY(first.open());
        first.action = [&](const QString &name) {
            if (name == "Data") {
                first.s.Close();
                first.s.Close();
            }
        };
        first.peer->write("x");
        first.peer->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(first.events.contains("Data"), Wait);
        first.open(second.server.serverPort());
        QTRY_COMPARE_WITH_TIMEOUT(first.events, (QStringList{"Connect", "Data", "Connect"}), Wait);
    }

    // A stream read with the system's stamps (through the socket's tap) and
    // without: the same bytes both ways however much waits on either side,
    // the ends' addresses, the peer's close after its data, a reset, and
    // the bytes of a Close sent before the FIN.  With stamps, the time of
    // the last byte read is when it arrived, not when the busy program got
    // to it.
    void streamThroughTap_data()
    {
        columns<bool, QString>("stamps", "what");
        for (const bool stamps : {false, true})
            for (const char *what : {"busy", "bulk", "close", "reset", "closing"})
                dataRow(qPrintable(QString("%1 %2").arg(stamps ? "stamped" : "plain", what)),
                        stamps, QString(what));
    }
    void streamThroughTap()
    {
        const auto [stamps, what] = fetched<bool, QString>("stamps", "what");
        Connection c;
        c.stamps = stamps;
        qint16 number = 0;
        connect(&c.s, &Winsock::Error, &c, [&](qint16 n, const QString &) { number = n; });
        QVERIFY(c.open());
        QCOMPARE(c.s.RemotePort(), qint32(c.server.serverPort()));
        QCOMPARE(c.s.LocalPort(), qint32(c.peer->peerPort()));
        QCOMPARE(c.s.RemoteHostIP(), QString("127.0.0.1"));
        if (what == "busy") {
            qint64 deliveredUs = -1;
            c.action = [&](const QString &name) {
                if (name == "Data" && deliveredUs < 0)
                    deliveredUs = MonotonicUs();
            };
            // The system turns its receive stamps on a moment after they
            // are asked for.
            QTest::qWait(50);
            const qint64 writtenUs = MonotonicUs();
            c.peer->write("x");
            c.peer->flush();
            ::usleep(60000); // the event loop does not run
            QTRY_COMPARE_WITH_TIMEOUT(c.data, QByteArray("x"), Wait);
            const qint64 arrival = c.s.LastArrivalUs();
            QCOMPARE(arrival >= writtenUs && deliveredUs - arrival >= 50000, stamps);
            QCOMPARE(arrival < 0, !stamps);
            // ... and each SendData by when its last byte left.
            const quint64 number = c.s.NextSendNumber();
            const qint64 sendingUs = MonotonicUs();
            c.s.SendData("two");
            c.s.SendData("more");
            QCOMPARE(c.s.NextSendNumber(), number + (stamps ? 2 : 0));
            const qint64 first = c.s.SentAtUs(number), second = c.s.SentAtUs(number + 1);
            QCOMPARE(first >= sendingUs && second >= first && second <= MonotonicUs(), stamps);
            QCOMPARE(c.s.SentAtUs(number + 2), qint64(-1));
        } else if (what == "bulk") {
            const QByteArray down(3 << 20, 'd'), up(3 << 20, 'u');
            c.peer->write(down);
            c.s.SendData(up);
            QByteArray atPeer;
            QTRY_VERIFY_WITH_TIMEOUT((atPeer += c.peer->readAll()).size() == up.size()
                                         && c.data.size() == down.size(),
                                     4 * Wait);
            QVERIFY(atPeer == up && c.data == down);
            QTRY_COMPARE_WITH_TIMEOUT(c.s.BytesWaiting(), qint64(0), Wait);
        } else if (what == "close") {
            c.peer->write("tail");
            c.peer->disconnectFromHost();
            QTRY_COMPARE_WITH_TIMEOUT(c.events, (QStringList{"Connect", "Data", "Close"}), Wait);
            QCOMPARE(c.data, QByteArray("tail"));
            QCOMPARE(c.s.State(), SocketState::Closing);
        } else if (what == "reset") {
            c.peer->setSocketOption(QAbstractSocket::KeepAliveOption, 0);
            const linger now{1, 0};
            ::setsockopt(int(c.peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            c.peer->abort();
            QTRY_COMPARE_WITH_TIMEOUT(number, qint16(10054), Wait);
            QCOMPARE(c.s.State(), SocketState::Error);
        } else {
            c.s.SendData("bye");
            c.s.Close();
            QByteArray atPeer;
            QTRY_VERIFY_WITH_TIMEOUT(
                (atPeer += c.peer->readAll(), c.peer->state() != QAbstractSocket::ConnectedState),
                Wait);
            QCOMPARE(atPeer + c.peer->readAll(), QByteArray("bye"));
        }
    }

    // A connection's failure as the system's error tells it.
    void streamErrorNumbers()
    {
        const std::pair<int, int> rows[] = {{ECONNRESET, sck::ConnectionReset},
                                            {EPIPE, sck::ConnectionReset},
                                            {ETIMEDOUT, sck::TimedOut},
                                            {EHOSTUNREACH, sck::HostUnreachable},
                                            {ENETUNREACH, sck::NetworkUnreachable},
                                            {EPROTO, sck::ConnectionAborted}};
        for (const auto &[error, number] : rows)
            QCOMPARE(StreamErrorNumber(error), number);
    }

    // With no descriptor left a connect says so (10024), not that the
    // network failed.
    void noDescriptorLeft()
    {
        Connection c;
        qint16 number = 0;
        connect(&c.s, &Winsock::Error, &c, [&](qint16 n, const QString &) { number = n; });
        rlimit was{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &was) == 0);
        const int next = ::open("/dev/null", O_RDONLY);
        ::close(next);
        rlimit full = was;
        full.rlim_cur = rlim_t(next);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &full) == 0);
        c.open(c.server.serverPort());
        const bool told = QTest::qWaitFor([&] { return number != 0; }, Wait);
        ::setrlimit(RLIMIT_NOFILE, &was);
        QVERIFY(told);
        QCOMPARE(number, 10024);
    }

    // A burst sent while the event loop is kept busy (the test sends without
    // returning to it): the socket still takes every datagram from the
    // system, then delivers them in order; what does not fit into a queue
    // forced small is reported as dropped, never silently lost.
    // In batches the system's buffer is the queue: far more than it holds
    // is sent, and what it dropped is reported all the same.
    void udpBurstWhileBusy_data()
    {
        columns<int, bool, int>("queueLimit", "batches", "count");
        dataRow("every datagram, in order", int(Winsock::UdpQueueDatagrams), false, 1000);
        dataRow("small queue: the rest reported", 10, false, 1000);
        dataRow("batches: the system's drops reported", 0, true, 30000);
    }
    void udpBurstWhileBusy()
    {
        const auto [queueLimit, batches, count]
            = fetched<int, bool, int>("queueLimit", "batches", "count");
        const int Count = count;
        Winsock s;
        s.setProtocol(Winsock::sckUDPProtocol);
        s.setUdpQueueLimit(queueLimit);
        s.setUdpBatches(batches);
        s.Bind(0, "127.0.0.1");
        QList<int> numbers;
        qint64 dropped = 0;
        connect(&s, &Winsock::DataArrival, this, [&] { numbers << s.GetData().toInt(); });
        connect(&s, &Winsock::DatagramsDropped, this, [&](qint32 count) { dropped += count; });
        QUdpSocket sender;
        for (int n = 0; n < Count; ++n) {
            sender.writeDatagram(QByteArray::number(n), QHostAddress::LocalHost,
                                 quint16(s.LocalPort()));
            if (!batches && n % 100 == 99) // a few hundred fit into the system's buffer
                QVERIFY(systemQueueEmpty(quint16(s.LocalPort())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(numbers.size() + dropped, qint64(Count), Wait);
        QList<int> expected(batches ? numbers.size() : std::min(Count, queueLimit));
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(numbers, expected);
        QCOMPARE(dropped > 0, batches || queueLimit < Count); // more than fits
    }

    // A turn of a few datagrams after a quiet while leaves from flush
    // itself, so that an answer at a probe's pace never waits for the send
    // thread to wake: every one is at the peer when flush returns.
    void quietTurnSentAtOnce()
    {
        const int peer = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int own = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_storage to{};
        auto *at = reinterpret_cast<sockaddr_in *>(&to);
        at->sin_family = AF_INET;
        at->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(sockaddr_in);
        QVERIFY(::bind(peer, reinterpret_cast<sockaddr *>(at), size) == 0
                && ::getsockname(peer, reinterpret_cast<sockaddr *>(at), &size) == 0);
        int arrived = 0;
        {
            UdpSender sender(own, [] {});
            for (int n = 0; n < UdpSender::InlineMost; ++n)
                sender.queue(QByteArray::number(n), to, size);
            sender.flush();
            for (char byte; ::recv(peer, &byte, 1, MSG_DONTWAIT) == 1;)
                QCOMPARE(byte, char('0' + arrived++));
        }
        ::close(own);
        ::close(peer);
        QCOMPARE(arrived, UdpSender::InlineMost);
    }

    // In batches, what a handler sends goes out from the send thread: every
    // answer, in order, to its sender; one the system refuses fails the
    // socket (10040 for a datagram longer than UDP allows).
    void udpBatchesAnswer()
    {
        Winsock s;
        s.setProtocol(Winsock::sckUDPProtocol);
        s.setUdpBatches(true);
        s.Bind(0, "127.0.0.1");
        QStringList events;
        connect(&s, &Winsock::DataArrival, this, [&] {
            const QByteArray data = s.GetData();
            s.SendData(data == "big" ? QByteArray(70000, 'x') : data);
        });
        connect(&s, &Winsock::SendComplete, this, [&] { events << "Sent"; });
        connect(&s, &Winsock::Error, this,
                [&](qint16 number) { events << QString::number(number); });
        QUdpSocket peers[2]; // taking turns: a batch holds datagrams of both
        for (QUdpSocket &peer : peers)
            peer.bind(QHostAddress::LocalHost);
        constexpr int Count = 100;
        QList<int> answers[2], expected[2];
        for (int n = 0; n < Count; ++n) {
            peers[n % 2].writeDatagram(QByteArray::number(n), QHostAddress::LocalHost,
                                       quint16(s.LocalPort()));
            expected[n % 2] << n;
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int i : {0, 1})
                    while (peers[i].hasPendingDatagrams())
                        answers[i] << peers[i].receiveDatagram().data().toInt();
                return answers[0].size() + answers[1].size() >= Count;
            }(),
            Wait);
        QCOMPARE(answers[0], expected[0]);
        QCOMPARE(answers[1], expected[1]);
        QCOMPARE(events.size(), Count);
        peers[0].writeDatagram("big", QHostAddress::LocalHost, quint16(s.LocalPort()));
        QTRY_COMPARE_WITH_TIMEOUT(events.last(), QString("10040"), Wait);
        QCOMPARE(s.State(), SocketState::Error);
    }
};

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
