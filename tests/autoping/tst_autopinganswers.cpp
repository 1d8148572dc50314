// The console's side of AutoPing against a TCP peer on loopback: which
// arriving data a server answers and a client counts as a response.  Only a
// piece of data that is exactly one of the two texts counts; two texts in one
// piece, or a text with a line end, are shown as they came and left alone.
#include "../console/consolefixture.h"

#include <QTcpSocket>

class TestAutoPingAnswers : public QObject
{
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> f;

private slots:
    void init() { f = std::make_unique<ConsoleFixture>(); }
    void cleanup() { f.reset(); }

    void arrivingProbeTexts_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("shown");    // the pane line after the peer's address
        QTest::addColumn<bool>("answered");    // the server sent the response
        QTest::addColumn<bool>("pingAnswered");
        const QString q = AutoPingQuery, r = AutoPingResponse;
        QTest::newRow("server: query") << true << q << q + "\r\n" << true << false;
        QTest::newRow("server: query twice in one piece") << true << q + q << q + q << false << false;
        QTest::newRow("server: query with line end") << true << q + "\r\n" << q + "\r\n" << false << false;
        QTest::newRow("server: other case") << true << q.toLower() << q.toLower() << false << false;
        QTest::newRow("server: response") << true << r << r + "\r\n" << false << false;
        QTest::newRow("client: response") << false << r << r + "\r\n" << false << true;
        QTest::newRow("client: response twice in one piece") << false << r + r << r + r << false << false;
        QTest::newRow("client: query") << false << q << q + "\r\n" << false << false;
    }
    void arrivingProbeTexts()
    {
        QFETCH(bool, server);
        QFETCH(QString, data);
        QFETCH(QString, shown);
        QFETCH(bool, answered);
        QFETCH(bool, pingAnswered);

        QTcpServer listener;
        QTcpSocket dialer;
        QTcpSocket *peer = nullptr;
        if (server) {
            const quint16 port = ConsoleFixture::unusedPort();
            f->chooseMode(true, true);
            f->local("127.0.0.1", port);
            f->click(f->ui().cmdConnect);
            QTRY_COMPARE_WITH_TIMEOUT(f->window->Winsock1.State(), qint16(Winsock::sckListening), NetTimeout);
            dialer.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(dialer.waitForConnected(NetTimeout));
            peer = &dialer;
        } else {
            QVERIFY(listener.listen(QHostAddress::LocalHost));
            f->remote("localhost", listener.serverPort());
            f->click(f->ui().cmdConnect);
            QVERIFY(QTest::qWaitFor([&] { return listener.hasPendingConnections(); }, NetTimeout));
            peer = listener.nextPendingConnection();
        }
        QTRY_COMPARE_WITH_TIMEOUT(f->window->Winsock1.State(), qint16(Winsock::sckConnected), NetTimeout);

        peer->write(data.toUtf8()); // one write: one piece of data on loopback
        QTRY_VERIFY_WITH_TIMEOUT(f->paneHas("127.0.0.1:\t" + shown), NetTimeout);
        const QString pane = f->pane();
        QCOMPARE(pane.count(AutoPingQuery) + pane.count(AutoPingResponse),
                 shown.count(AutoPingQuery) + shown.count(AutoPingResponse) + (answered ? 1 : 0));
        if (answered) {
            QTRY_COMPARE_WITH_TIMEOUT(peer->bytesAvailable(), qint64(AutoPingResponse.size()), NetTimeout);
            QCOMPARE(peer->readAll(), AutoPingResponse.toUtf8());
            QVERIFY(f->paneHas("127.0.0.1:\t" + AutoPingResponse + "\r\n"));
        } else {
            QTest::qWait(200); // an answer would be on its way by now
            QCOMPARE(peer->bytesAvailable(), qint64(0));
        }
        QCOMPARE(f->window->PingAnswered, pingAnswered);
    }
};

QTEST_MAIN(TestAutoPingAnswers)
#include "tst_autopinganswers.moc"
