// The interactive test end to end: the window driven as a user would, against
// real peers on loopback.
#include "consolefixture.h"
#include "console/statuslight.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

class TestConsole : public QObject
{
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> f;

    // A TCP client connected to a peer on loopback; returns the peer's socket.
    QTcpSocket *connectClient(QTcpServer &peer)
    {
        if (!peer.isListening())
            peer.listen(QHostAddress::LocalHost);
        f->remote("localhost", peer.serverPort());
        f->click(f->ui().cmdConnect);
        if (!QTest::qWaitFor([&] { return peer.hasPendingConnections(); }, NetTimeout))
            return nullptr;
        QTcpSocket *s = peer.nextPendingConnection();
        (void)QTest::qWaitFor([&] { return f->window->Winsock1.State() == Winsock::sckConnected
                                     && f->ui().cmdSend->isEnabled(); }, NetTimeout);
        return s;
    }

private slots:
    void init() { f = std::make_unique<ConsoleFixture>(); }
    void cleanup() { f.reset(); }

    void tcpClientByNameShowsEveryStateSendsAndSeesTheClose()
    {
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s);
        const QString port = QString::number(peer.serverPort());
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tConnection completed\r\n"), NetTimeout);
        const QString pane = f->pane();
        const QStringList states = {
            "Winsock:\tResolving Host localhost\r\n",
            "Winsock:\tHost Resolved localhost as 127.0.0.1\r\n",
            "Winsock:\tConnecting to localhost:" + port + "\r\n",
            "Winsock:\tConnected to 127.0.0.1:" + port + "\r\n",
        };
        qsizetype at = 0;
        for (const QString &line : states) {
            at = pane.indexOf(line, at);
            QVERIFY2(at >= 0 && pane.count(line) == 1, qPrintable(pane));
        }
        // The ready layout.
        QCOMPARE(f->ui().cmdConnect->text(), QStringLiteral("&Close"));
        QCOMPARE(f->window->defaultButton(), f->ui().cmdSend);
        QVERIFY(f->ui().txtSend->isEnabled() && f->ui().cmdAutoPing->isEnabled() && !f->ui().fraMode->isEnabled());
        QCOMPARE(f->ui().cboRemAddress->currentText(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f->ui().txtRemPort->text(), port);
        QCOMPARE(f->ui().txtLocPort->text(), QString::number(s->peerPort()));
        QVERIFY(f->ui().shpOk->isLit() && !f->ui().shpError->isLit());

        // Send, receive, and the peer's close.
        QTest::keyClicks(f->ui().txtSend, "hello");
        f->click(f->ui().cmdSend);
        QTRY_COMPARE_WITH_TIMEOUT(s->bytesAvailable(), qint64(7), NetTimeout);
        QCOMPARE(s->readAll(), QByteArray("hello\r\n"));
        QVERIFY(f->ui().txtSend->toPlainText().isEmpty());
        QVERIFY(f->paneHas(f->window->Winsock1.LocalIP() + ":\thello\r\n"));

        s->write("hi there\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("127.0.0.1:\thi there\r\n"), NetTimeout);

        s->close();
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tClosed\r\n"), NetTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(f->ui().cmdConnect->text(), QStringLiteral("&Connect"), NetTimeout);
        QVERIFY(f->ui().shpError->isLit() && f->ui().fraMode->isEnabled());
        QCOMPARE(f->window->Winsock1.State(), qint16(Winsock::sckClosed));
    }

    void refusedConnectionReportsThreeLines()
    {
        f->remote("localhost", ConsoleFixture::unusedPort());
        f->click(f->ui().cmdConnect);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock Error:\t10061\r\n"
                                           "* Description:\tConnection is forcefully rejected.\r\n"
                                           "* Scode:\t0x800A274D\r\n"), NetTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(f->window->Winsock1.State(), qint16(Winsock::sckClosed), NetTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(f->ui().cmdConnect->text(), QStringLiteral("&Connect"), NetTimeout);
        QVERIFY(f->ui().shpError->isLit());
    }

    void tcpServerAcceptsOneClient()
    {
        const quint16 port = ConsoleFixture::unusedPort();
        f->chooseMode(true, true);
        f->local("127.0.0.1", port);
        f->click(f->ui().cmdConnect);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tListening\r\n"), NetTimeout);
        QCOMPARE(f->ui().cmdConnect->text(), QStringLiteral("&Close"));
        QVERIFY(f->ui().shpProg->isLit() && !f->ui().cmdSend->isEnabled());

        QTcpSocket first;
        first.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(first.waitForConnected(NetTimeout));
        const QString from = "127.0.0.1:" + QString::number(first.localPort());
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tAccepting TCP connection from " + from
                                           + " to 127.0.0.1:" + QString::number(port) + "\r\n"),
                                 NetTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tConnected to " + from + "\r\n"), NetTimeout);
        QVERIFY(!f->ui().cmdAutoPing->isEnabled()); // servers do not probe

        // The listener is gone: a second client does not get through.
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        if (second.waitForConnected(1000))
            QVERIFY(second.waitForDisconnected(NetTimeout));
        QCOMPARE(f->window->Winsock1.State(), qint16(Winsock::sckConnected));
    }

    void udpServerAnswersTheSender()
    {
        const quint16 port = ConsoleFixture::unusedPort();
        f->chooseMode(true, false);
        f->local("127.0.0.1", port);
        f->window->AddToMsgsBox("Kept", "across the bind\r\n");
        f->click(f->ui().cmdConnect);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tOpen\r\n"), NetTimeout);
        QVERIFY(f->paneHas("Kept:\tacross the bind\r\n")); // a UDP server keeps the pane
        QVERIFY(f->ui().cmdSend->isEnabled() && !f->ui().cmdAutoPing->isEnabled());

        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        peer.writeDatagram("ping\r\n", QHostAddress::LocalHost, port);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("127.0.0.1:\tping\r\n"), NetTimeout);
        QCOMPARE(f->ui().cboRemAddress->currentText(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f->ui().txtRemPort->text(), QString::number(peer.localPort()));

        QTest::keyClicks(f->ui().txtSend, "pong");
        f->click(f->ui().cmdSend);
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), NetTimeout);
        QCOMPARE(peer.receiveDatagram().data(), QByteArray("pong\r\n"));
    }

    void udpClientSendsToItsRemote()
    {
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        f->chooseMode(false, false);
        f->local("127.0.0.1", 0);
        f->remote("localhost", peer.localPort());
        f->click(f->ui().cmdConnect);
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tOpen\r\n"), NetTimeout);
        QTest::keyClicks(f->ui().txtSend, "x");
        f->click(f->ui().cmdSend);
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), NetTimeout);
        QCOMPARE(peer.receiveDatagram().data(), QByteArray("x\r\n"));
        f->click(f->ui().cmdConnect); // close
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("Winsock:\tClosed\r\n"), NetTimeout);
        QCOMPARE(f->ui().cmdConnect->text(), QStringLiteral("&Bind"));
    }

    // Rows: server?, local address, local port, remote host, remote port, the lines in order.
    void refusedInputWritesOneLineEach_data()
    {
        QTest::addColumn<QStringList>("input");
        QTest::addColumn<QStringList>("lines");
        const QString remote = "++ PEBKAC:\tRemote port must be a number between 1 and 65535\r\n";
        const QString local = "++ PEBKAC:\tLocal port must be a number between 1 and 65535\r\n";
        QTest::newRow("server without address and port") << QStringList{"s", "", "0", "", ""} << QStringList{"++ PEBKAC:\tA server needs a local address", local};
        QTest::newRow("remote port 0") << QStringList{"", "", "", "server01", "0"} << QStringList{remote};
        QTest::newRow("remote port 65536") << QStringList{"", "", "", "server01", "65536"} << QStringList{remote};
        QTest::newRow("remote port empty") << QStringList{"", "", "", "server01", ""} << QStringList{remote};
        QTest::newRow("remote port letters") << QStringList{"", "", "", "server01", "ab"} << QStringList{"** Error 0xD:\t in frmMain.CheckPort; Type mismatch\r\n", remote};
        QTest::newRow("no remote host") << QStringList{"", "", "", "", "80"} << QStringList{"++ PEBKAC:\tYou must select a remote server\r\n"};
        QTest::newRow("loopback refused") << QStringList{"", "", "", "127.0.0.1", "80"} << QStringList{"++ PEBKAC:\tLocalHost IP addresses (127.x.x.x) are not valid\r\n"};
    }
    void refusedInputWritesOneLineEach()
    {
        QFETCH(QStringList, input);
        QFETCH(QStringList, lines);
        const bool server = !input[0].isEmpty();
        f->chooseMode(server, true);
        f->ui().cboLocAddress->setEditText(input[1]);
        f->ui().txtLocPort->setText(input[2]);
        f->ui().cboRemAddress->setEditText(input[3]);
        f->ui().txtRemPort->setText(input[4]);
        f->click(f->ui().cmdConnect);
        const QString pane = f->pane();
        qsizetype at = 0;
        for (const QString &line : lines) {
            at = pane.indexOf(line, at) + 1;
            QVERIFY2(at > 0, qPrintable(pane));
        }
        QCOMPARE(pane.count("\r\n"), lines.size());
        QCOMPARE(f->window->Winsock1.State(), qint16(Winsock::sckClosed));
        if (!server)
            QCOMPARE(f->ui().txtLocPort->text(), QStringLiteral("0")); // empty becomes 0
    }

    void sendWithoutConnectionIsRefused()
    {
        QVERIFY(f->window->Send("x\r\n"));
        QVERIFY(!f->window->Send(QString()));
        QCOMPARE(f->pane(), QStringLiteral("++ PEBKAC:\tYou must establish a connection first.\r\n"));
    }

    void closingTheWindowClosesSocketAndLog()
    {
        QTcpServer peer;
        QTcpSocket *s = connectClient(peer);
        QVERIFY(s);
        const QString logName = Globals::instance().LogStream().fileName();
        f->window->close();
        QVERIFY(s->state() == QAbstractSocket::UnconnectedState || s->waitForDisconnected(NetTimeout));
        QVERIFY(!Globals::instance().LogStream().isOpen());
        QFile log(logName);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().endsWith("; ended 12/4/2026 5:15:09 AM\r\n\r\n"));
    }

    // An idle window must not wake up: the state watch runs only after the
    // socket has touched its state.
    void idleWindowDoesNotTick()
    {
        QTest::qWait(20);
        QVERIFY(!f->window->Timer1.isActive());
        int ticks = 0;
        connect(&f->window->Timer1, &QTimer::timeout, this, [&] { ++ticks; });
        QTest::qWait(100);
        QCOMPARE(ticks, 0);
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
