// Hostile peers against a window in server mode on 127.0.0.1: each test
// checks that the window stays responsive (the event loop's lateness), says
// what happened, and that the log holds everything that arrived.
#include "console/consolefixture.h"
#include "hostile.h"
#include "runlog/runlog.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTextBlock>
#include <QUdpSocket>

#include <atomic>
#include <thread>

class TestHostilePeers : public QObject
{
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> f;
    quint16 port = 0;

    QByteArray log() const
    {
        QFile file(Globals::instance().LogStream().fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    qint16 reported() const { return f->window->LastState; }

    // Opens the window as a server on 127.0.0.1 (TCP listening, UDP bound).
    void serve(bool tcp)
    {
        if (tcp) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            port = probe.serverPort();
        } else {
            QUdpSocket probe;
            probe.bind(QHostAddress::LocalHost, 0);
            port = probe.localPort();
        }
        f->chooseMode(true, tcp);
        f->local("127.0.0.1", port);
        f->click(f->ui().cmdConnect);
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(tcp ? Winsock::sckListening : Winsock::sckOpen), NetTimeout);
    }

    static bool responsive(const LatenessProbe &probe)
    {
        qInfo("longest event-loop delay: %lld ms", probe.worstMs());
        return probe.worstMs() < ResponsiveMs;
    }

    // Numbered lines of 64 bytes.
    static QByteArray lines(int count)
    {
        QByteArray all;
        all.reserve(qsizetype(count) * 64);
        for (int n = 0; n < count; ++n)
            all += QByteArray::number(n).rightJustified(8, '0') + ' ' + QByteArray(53, 'a' + n % 26) + "\r\n";
        return all;
    }

    // A peer that sends all of stream and closes; every byte reaches the log
    // while the window stays responsive.
    void sendAndClose(const QByteArray &stream)
    {
        LatenessProbe probe;
        std::atomic<bool> sent{false};
        std::thread peer([&] {
            const int fd = ConnectTcp(port);
            sent = fd >= 0 && SendAll(fd, stream);
            if (fd >= 0)
                ::close(fd);
        });
        QTRY_VERIFY_WITH_TIMEOUT(reported() == Winsock::sckClosed && !f->ui().cmdConnect->text().contains("Close"), 60000);
        peer.join();
        QVERIFY(sent);
        QVERIFY(responsive(probe));
        QVERIFY(ReceivedInLog(log()) == stream); // every byte, in order
    }

private slots:
    void init() { f = std::make_unique<ConsoleFixture>(); }
    void cleanup() { f.reset(); }

    void silentPeer()
    {
        serve(true);
        LatenessProbe probe;
        const int fd = ConnectTcp(port);
        QVERIFY(fd >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(Winsock::sckConnected), NetTimeout);
        QVERIFY(f->paneHas("Winsock:\tAccepting TCP connection from 127.0.0.1:"));
        QTest::qWait(1000); // it says nothing
        QCOMPARE(f->window->Winsock1.State(), qint16(Winsock::sckConnected));
        QVERIFY(responsive(probe));

        // The user ends it; the peer sees the end.
        f->click(f->ui().cmdConnect);
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(Winsock::sckClosed), NetTimeout);
        char byte;
        QCOMPARE(::recv(fd, &byte, 1, 0), ssize_t(0));
        ::close(fd);
        const QByteArray written = log();
        QVERIFY(written.contains("\tWinsock:\tAccepting TCP connection from 127.0.0.1:"));
        QVERIFY(written.endsWith("\tWinsock:\tClosed\r\n"));
        QVERIFY(ReceivedInLog(written).isEmpty());
    }

    void megabytesWithoutLineBreak()
    {
        serve(true);
        sendAndClose(QByteArray(10 * 1024 * 1024, 'x'));
        if (QTest::currentTestFailed())
            return;

        // The pane shows it in pieces of at most PaneColumnLimit characters.
        f->window->msgsText();
        int longest = 0;
        for (QTextBlock b = f->ui().txtMsgs->document()->begin(); b.isValid(); b = b.next())
            longest = std::max(longest, b.length() - 1);
        QCOMPARE(longest, int(FrmMain::PaneColumnLimit));
    }

    void resetMidTransfer()
    {
        serve(true);
        const QByteArray stream = lines(40000);
        LatenessProbe probe;
        std::thread peer([&] {
            const int fd = ConnectTcp(port);
            if (fd < 0)
                return;
            SendAll(fd, stream.first(stream.size() / 2));
            const linger hard{1, 0}; // a reset while the rest would still be coming
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
        });
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock Error:\t10054\r\n"
                                           "* Description:\tThe connection is reset by remote side.\r\n"
                                           "* Scode:\t0x800A2746\r\n"), 30000);
        peer.join();
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(Winsock::sckClosed), NetTimeout);
        QVERIFY(responsive(probe));
        // What came before the reset is in the log, in order, and nothing else.
        const QByteArray received = ReceivedInLog(log());
        QVERIFY(stream.startsWith(received));
        QVERIFY(log().contains("\tWinsock Error:\t10054\r\n"));
    }

    void largestUdpDatagrams()
    {
        serve(false);
        LatenessProbe probe;
        std::thread peer([&] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in to = LoopbackAddress(port);
            for (char c : {'a', 'b', 'c', 'd', 'e'}) {
                const QByteArray datagram(65507, c);
                ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to);
            }
            ::close(fd);
        });
        peer.join();
        // The first arrives cut to the receive buffer, and the cut is reported;
        // the report closes the socket, as every socket error does.
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock Error:\t10040\r\n"
                                           "* Description:\tThe datagram is too large to fit into the buffer "
                                           "and is truncated.\r\n"), NetTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(Winsock::sckClosed), NetTimeout);
        QVERIFY(responsive(probe));
        QCOMPARE(ReceivedInLog(log()), QByteArray(Winsock::UdpReceiveBuffer, 'a'));
    }

    void connectionStorm()
    {
        serve(true);
        LatenessProbe probe;
        // 100 attempts at once, without waiting for any of them.
        QList<int> clients;
        QElapsedTimer storm;
        storm.start();
        for (int i = 0; i < 100; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in to = LoopbackAddress(port);
            ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            clients.append(fd);
        }
        QVERIFY(storm.elapsed() < 1000);

        // One is served; the window listens no more.
        QTRY_COMPARE_WITH_TIMEOUT(reported(), qint16(Winsock::sckConnected), NetTimeout);
        QCOMPARE(f->pane().count(QStringLiteral("Accepting TCP connection from 127.0.0.1:")), 1);

        // Every other attempt ends: refused, or closed by the window.
        auto ended = [&](int fd) {
            pollfd p{fd, POLLIN | POLLOUT, 0};
            if (::poll(&p, 1, 0) != 1)
                return false; // still trying
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            char byte;
            const ssize_t n = error ? 0 : ::recv(fd, &byte, 1, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN);
        };
        QTRY_COMPARE_WITH_TIMEOUT(std::count_if(clients.begin(), clients.end(), ended), qsizetype(clients.size() - 1), 10000);
        const int served = *std::find_if_not(clients.begin(), clients.end(), ended);

        // The served one is heard, and the window is still quick.
        QVERIFY(SendAll(served, "still here\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("127.0.0.1:\tstill here\r\n"), NetTimeout);
        QVERIFY(responsive(probe));
        QVERIFY(log().contains("\t127.0.0.1:\tstill here\r\n"));
        QCOMPARE(log().count("\tWinsock:\tAccepting TCP connection from "), 1);
        for (int fd : std::as_const(clients))
            ::close(fd);
    }

    // More lines than the pane keeps: the pane shows the newest ones and
    // says that older ones are only in the log, which has every byte.
    void floodBeyondThePaneKeepsEveryByteInTheLog()
    {
        serve(true);
        const QByteArray stream = lines(FrmMain::PaneLineLimit * 5 / 2);
        sendAndClose(stream);
        if (QTest::currentTestFailed())
            return;

        // The pane: the newest lines, whole and in order.
        QString shown = f->pane();
        static const QRegularExpression stateLines(QStringLiteral("Winsock:\\t[^\\r]*\\r\\n"));
        shown.remove(stateLines).remove(QStringLiteral("127.0.0.1:\t"));
        const int paneLines = f->ui().txtMsgs->document()->blockCount();
        QVERIFY2(paneLines >= FrmMain::PaneLineLimit && paneLines <= FrmMain::PaneLineLimit * 11 / 10,
                 qPrintable(QString::number(paneLines)));
        QVERIFY(shown.count(u'\n') >= FrmMain::PaneLineLimit - 10);
        QVERIFY(stream.endsWith(shown.toLatin1()));
        QVERIFY(f->ui().lblOlderLines->isVisible());
        QVERIFY(f->ui().lblOlderLines->text().contains(Globals::instance().LogStream().fileName()));
    }
};

QTEST_MAIN(TestHostilePeers)
#include "tst_hostilepeers.moc"
