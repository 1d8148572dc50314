// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The socket class against real peers on loopback, for what the window does
// not show on its own: events that die with Close, received bytes as text,
// a typed text read into bytes with escapes on, and a UDP burst taken whole
// while the event loop is busy.

#include "session/escapes.h"
#include "socket/winsock.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <numeric>

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
        s.setProtocol(Winsock::sckTCPProtocol);
        s.setRemoteHost("127.0.0.1");
        s.setRemotePort(port);
        s.Connect();
    }
    bool open()
    {
        open(server.serverPort());
        return QTest::qWaitFor([this] { return peer && s.State() == Winsock::sckConnected; }, Wait);
    }
    void handle(const char *name)
    {
        events << QLatin1String(name);
        if (action)
            action(events.last());
        if (events.last() == "Data" && s.State() != Winsock::sckClosed)
            text += s.GetData();
    }
    Winsock s;
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QStringList events;
    QString text;
    std::function<void(const QString &)> action;
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

    // Bytes the peer writes (an empty write: it closes), and the text the
    // socket gives for them: nothing is lost, and what cannot be shown is
    // escaped byte by byte.
    void receivedBytesBecomeText_data()
    {
        QTest::addColumn<QByteArrayList>("writes");
        QTest::addColumn<QString>("text");
        QTest::newRow("tab and line ends") << QByteArrayList{"a\tb\r\nc\n"} << "a\tb\r\nc\n";
        QTest::newRow("control characters")
            << QByteArrayList{QByteArray("a\0b\x07\x1B[0m\x7F", 9)} << "a\\x00b\\x07\\x1B[0m\\x7F";
        QTest::newRow("backslash doubled")
            << QByteArrayList{"C:\\temp\\x41"} << "C:\\\\temp\\\\x41";
        QTest::newRow("UTF-8") << QByteArrayList{"\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"}
                               << QStringLiteral("\u00fc\u20ac\U0001F600");
        QTest::newRow("C1 control as its bytes") << QByteArrayList{"\xC2\x85"} << "\\xC2\\x85";
        QTest::newRow("not UTF-8")
            << QByteArrayList{"caf\xE9 \x80 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2("}
            << "caf\\xE9 \\x80 \\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE2(";
        QTest::newRow("character split over two reads")
            << QByteArrayList{"a\xE2", "\x82\xAC"} << QStringLiteral("a\u20ac");
        QTest::newRow("tail never completed") << QByteArrayList{"x\xE2\x82"} << "x\\xE2\\x82";
        QTest::newRow("tail at the close") << QByteArrayList{"y\xF0\x9F", ""} << "y\\xF0\\x9F";
        QTest::newRow("long runs")
            << QByteArrayList{"aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\x01"
                              "ccccccccccccccccc\x7F"
                              "eeeeeeeeeeeeeeeee\\"
                              "ddddddddddddddddd\xC3\xBC!"}
            << QStringLiteral("aaaaaaaaaaaaaaaaaaa\tbbbbbbbbbbbbbbbbb\\x01ccccccccccccccccc\\x7Feee"
                              "eeeeeeeeeeeeee\\\\ddddddddddddddddd\u00FC!");
    }
    void receivedBytesBecomeText()
    {
        QFETCH(QByteArrayList, writes);
        QFETCH(QString, text);
        Connection c;
        QVERIFY(c.open());
        for (const QByteArray &bytes : writes) {
            const qsizetype events = c.events.size();
            bytes.isEmpty() ? c.peer->disconnectFromHost() : void(c.peer->write(bytes));
            QTRY_VERIFY_WITH_TIMEOUT(c.events.size() > events, Wait);
        }
        QTRY_COMPARE_WITH_TIMEOUT(c.text, text, Wait);
    }

    // A text typed with escapes on, and the bytes it is read into, or where
    // it is refused (position 0: read whole).
    void escapesReadBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("position");
        const auto row = [](const char *name, const QString &text, QByteArray bytes, int at) {
            QTest::newRow(name) << text << bytes << at;
        };
        row("plain and UTF-8", QStringLiteral("a\u00fc\U0001F600"), "a\xC3\xBC\xF0\x9F\x98\x80", 0);
        row("lone surrogate", QStringLiteral("\xD800\\t"), "\xEF\xBF\xBD\t", 0);
        row("letters", "\\r\\n\\t\\\\\\012", QByteArray::fromHex("0d0a095c003132"), 0);
        row("hex bounds", "\\x09\\xaf\\xAF\\x00\\xFFx", QByteArray::fromHex("09afaf00ff78"), 0);
        row("/ below 0", "\\x/0", {}, 1);
        row(": above 9", "\\x:0", {}, 1);
        row("@ below A", "\\x@0", {}, 1);
        row("G above F", "\\x0G", {}, 1);
        row("` below a", "\\x`0", {}, 1);
        row("g above f", "\\xg0", {}, 1);
        row("one hex digit at the end", "ab\\x4", {}, 3);
        row("one hex digit", "\\x41\\x4 ", {}, 5);
        row("no hex digit", "\\xZZ", {}, 1);
        row("lone backslash", "\\\\\\", {}, 3);
        row("unknown escape", "a\\q", {}, 2);
        row("upper-case X", "\\X41", {}, 1);
        row("after non-BMP and escapes", QStringLiteral("\U0001F600\\x41\\t\\q"), {}, 8);
        row("after a lone surrogate", QStringLiteral("\xDC00\\N"), {}, 2);
    }
    void escapesReadBack()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, position);
        const EscapedBytes read = ReadEscapes(text);
        QCOMPARE(read.bytes, bytes);
        QCOMPARE(int(read.position), position);
        QCOMPARE(read.error.isEmpty(), position == 0);
    }

    // A burst sent while the event loop is kept busy (the test sends without
    // returning to it): the socket still takes every datagram from the
    // system, then delivers them in order; what does not fit into a queue
    // forced small is reported as dropped, never silently lost.
    void udpBurstWhileBusy_data()
    {
        QTest::addColumn<int>("queueLimit");
        QTest::newRow("every datagram, in order") << int(Winsock::UdpQueueDatagrams);
        QTest::newRow("small queue: the rest reported") << 10;
    }
    void udpBurstWhileBusy()
    {
        QFETCH(int, queueLimit);
        constexpr int Count = 1000;
        Winsock s;
        s.setProtocol(Winsock::sckUDPProtocol);
        s.setUdpQueueLimit(queueLimit);
        s.Bind(0, "127.0.0.1");
        QList<int> numbers;
        qint64 dropped = 0;
        connect(&s, &Winsock::DataArrival, this, [&] { numbers << s.GetData().toInt(); });
        connect(&s, &Winsock::DatagramsDropped, this, [&](qint32 count) { dropped += count; });
        QUdpSocket sender;
        for (int n = 0; n < Count; ++n) {
            sender.writeDatagram(QByteArray::number(n), QHostAddress::LocalHost,
                                 quint16(s.LocalPort()));
            if (n % 100 == 99) // no more than a few hundred fit into the system's buffer
                QVERIFY(systemQueueEmpty(quint16(s.LocalPort())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(numbers.size() + dropped, qint64(Count), Wait);
        QList<int> expected(std::min(Count, queueLimit));
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(numbers, expected);
    }
};

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
