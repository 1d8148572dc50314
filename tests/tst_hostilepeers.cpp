// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Hostile peers against the window serving on 127.0.0.1: it stays responsive
// (the event loop's lateness), says what happened, and the log holds every
// byte that arrived.  The peers run on threads of their own with blocking
// sockets, so their work never counts as the window's.

#include "fixture.h"

#include <QLabel>

#include <sys/socket.h>

#include <thread>

namespace {

constexpr int Wait = 5000;

// The longest delay of a 5 ms timer: how long the event loop was kept busy.
// The bench holds a release build to 50 ms; the tests run beside other tests
// (and, in the sanitizer build, beside the fuzz targets) on a shared
// machine, so they look for a freeze, with room to spare.
struct LatenessProbe
{
    LatenessProbe()
    {
        timer.callOnTimeout([this] { worst = std::max(worst, clock.restart() - 5); });
        clock.start();
        timer.start(5);
    }
    bool responsive() const
    {
        qInfo("longest event-loop delay: %lld ms", worst);
        return worst < (Sanitized ? 1000 : 250);
    }
    QTimer timer;
    QElapsedTimer clock;
    qint64 worst = 0;
};

// A peer on its own thread: connects, writes the bytes and closes (with a
// reset when asked); true when all went out.
bool sendAll(quint16 port, const QByteArray &bytes, bool reset = false)
{
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port);
    bool sent = peer.waitForConnected(Wait) && peer.write(bytes) == bytes.size();
    while (sent && peer.bytesToWrite() > 0)
        sent = peer.waitForBytesWritten(10000);
    const linger hard{1, 0};
    if (reset)
        setsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    peer.close();
    return sent;
}

// The peer's data as the log holds it: the texts of the records
// "-- 5:15:09 AM\t127.0.0.1:\t<text>" joined (a record runs to the next).
QByteArray receivedInLog(const QByteArray &log)
{
    const QByteArray record = "-- 5:15:09 AM\t", data = "127.0.0.1:\t";
    QByteArray received;
    for (qsizetype at = log.indexOf(record); at >= 0;) {
        const qsizetype text = at + record.size(), next = log.indexOf(record, text);
        const QByteArray piece = log.mid(text, (next < 0 ? log.size() : next) - text);
        if (piece.startsWith(data))
            received += piece.mid(data.size());
        at = next;
    }
    return received;
}

// Numbered lines of 64 bytes.
QByteArray lines(int count)
{
    QByteArray all;
    for (int n = 0; n < count; ++n)
        all += QByteArray::number(n).rightJustified(8, '0') + ' '
               + QByteArray(53, char('a' + n % 26)) + "\r\n";
    return all;
}

} // namespace

class TestHostilePeers : public QObject
{
    Q_OBJECT

    std::unique_ptr<Program> p;
    quint16 port = 0;

    QByteArray log() const { return readFile(p->logPath()); }
    // The window shows its idle layout again: the socket closed.
    bool idle() const { return p->text("cmdConnect") != "&Close"; }

    void serve(bool tcp)
    {
        port = freePort(!tcp);
        p->open(tcp ? "server tcp" : "server udp", {"127.0.0.1", QString::number(port)});
        QTRY_VERIFY_WITH_TIMEOUT(!idle(), Wait);
    }

private slots:
    void init()
    {
        p = std::make_unique<Program>();
        QVERIFY(p->start());
    }
    void cleanup() { p.reset(); }

    // More than the pane keeps, as lines or as one line: the log has every
    // byte; the pane shows the newest lines, whole and in order, or the
    // newest part of the one line in pieces, bounded in characters; and a
    // note naming the log.
    void floodBeyondThePane_data()
    {
        QTest::addColumn<QByteArray>("stream");
        dataRow("50,000 lines", lines(50000));
        dataRow("10 MB without a line break", QByteArray(10 * 1024 * 1024, 'x'));
    }
    void floodBeyondThePane()
    {
        QFETCH(QByteArray, stream);
        serve(true);
        LatenessProbe probe;
        bool sent = false;
        std::thread peer([&] { sent = sendAll(port, stream); });
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 60000);
        peer.join();
        QVERIFY(sent && probe.responsive());
        QVERIFY(receivedInLog(log()) == stream);
        const QString shown = p->pane()
                                  .remove(QRegularExpression("Winsock:\\t[^\\r]*\\r\\n"))
                                  .remove("127.0.0.1:\t");
        if (stream.startsWith('x')) {
            const QStringList pieces = shown.split("\r\n", Qt::SkipEmptyParts);
            QVERIFY(shown.size() < 2'300'000 && pieces.size() > 400
                    && std::all_of(pieces.begin(), pieces.end(),
                                   [](const QString &l) { return l.size() <= 4000; }));
        } else {
            QVERIFY(shown.count(u'\n') > 19900
                    && shown.count(u'\n') < 22000); // about the newest 20,000
            QVERIFY(stream.endsWith(shown.toLatin1()));
        }
        auto *note = p->control<QLabel>("lblOlderLines");
        QVERIFY(note->isVisible() && note->text().contains(p->logPath()));
        serve(true); // a new open empties the pane: the note goes with the lines
        QVERIFY(!note->isVisible());
    }

    // The peer resets the connection halfway: the reset is reported, and
    // what came before it is in the log, in order.
    void resetMidTransfer()
    {
        serve(true);
        const QByteArray stream = lines(40000);
        LatenessProbe probe;
        std::thread peer([&] { sendAll(port, stream.first(stream.size() / 2), true); });
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
        peer.join();
        QVERIFY(probe.responsive());
        // The Error event follows the state's line, in a later turn.
        QTRY_VERIFY2(p->pane().contains("Winsock Error:\t10054\r\n* Description:\tThe "
                                        "connection is reset by remote side.\r\n"
                                        "* Scode:\t0x800A2746\r\n"),
                     qPrintable(p->pane().right(600)));
        QVERIFY(stream.startsWith(receivedInLog(log())));
    }

    // The largest datagrams UDP carries arrive whole and in order; the
    // socket stays open.
    void largestUdpDatagrams()
    {
        serve(false);
        LatenessProbe probe;
        QByteArray sent;
        std::thread peer([&] {
            QUdpSocket sender;
            for (char c : {'a', 'b', 'c', 'd', 'e'})
                sender.writeDatagram(sent.append(QByteArray(65507, c)).right(65507),
                                     QHostAddress::LocalHost, port);
        });
        peer.join();
        QTRY_COMPARE_WITH_TIMEOUT(receivedInLog(log()), sent, Wait);
        QVERIFY(probe.responsive() && !idle());
        QVERIFY2(!p->pane().contains("Winsock Error"), qPrintable(p->pane().right(400)));
    }
};

QTEST_MAIN(TestHostilePeers)
#include "tst_hostilepeers.moc"
