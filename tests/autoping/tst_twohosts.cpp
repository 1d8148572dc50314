// AutoPing end to end between two copies of the program on two hosts: two
// network namespaces made for the run, joined by a veth pair, one copy in
// each (the test driver, see driver/selmarin_driver.cpp), driven as a user
// would drive them.  Needs root and `ip`; without them the test reports
// itself skipped with the reason.
#include "copydriver.h"
#include "netnspair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

const QString ServerIP = QStringLiteral("10.213.7.1");
const QString ClientIP = QStringLiteral("10.213.7.2");
const QString Query = ClientIP + QStringLiteral(":\t++ AutoPing Query ++");
const QString Answer = ServerIP + QStringLiteral(":\t++ AutoPing Response ++");
const QString NoAnswer = QStringLiteral("AutoPing:\tFailed to receive a response.");
constexpr int Step = 5000; // ms: the longest wait for anything that crosses the veth

constexpr int ProbeSeconds = 5;

QString dump(const QStringList &lines) { return lines.join(u'\n'); }

qsizetype countAfter(const QStringList &lines, qsizetype from, const QString &line)
{
    return std::count(lines.begin() + std::min(from, lines.size()), lines.end(), line);
}

} // namespace

class TestTwoHosts : public QObject
{
    Q_OBJECT

    NetnsPair m_hosts;
    QTemporaryDir m_dir;
    std::unique_ptr<CopyDriver> m_server;
    std::unique_ptr<CopyDriver> m_client;

private slots:
    void initTestCase()
    {
        QString why;
        if (!m_hosts.create(&why))
            QSKIP(qPrintable(QStringLiteral("two hosts cannot be made here: ") + why));
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        QString why;
        m_server = std::make_unique<CopyDriver>();
        QVERIFY2(m_server->start(m_hosts.server(), m_dir.path() + "/server", "HOSTA", &why), qPrintable(why));
        m_client = std::make_unique<CopyDriver>();
        QVERIFY2(m_client->start(m_hosts.client(), m_dir.path() + "/client", "HOSTB", &why), qPrintable(why));
    }

    // Each copy's window is closed; the copy must then end by itself.
    void cleanup()
    {
        const bool ended = (!m_client || m_client->stop()) & (!m_server || m_server->stop());
        m_client.reset();
        m_server.reset();
        QVERIFY2(ended || QTest::currentTestFailed(), "a copy did not end cleanly");
    }

    void cleanupTestCase() { m_hosts.remove(); }

    void probeBetweenTwoHosts_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<quint16>("port");
        QTest::newRow("TCP") << true << quint16(7010);
        QTest::newRow("UDP") << false << quint16(7011);
    }
    void probeBetweenTwoHosts()
    {
        QFETCH(bool, tcp);
        QFETCH(quint16, port);
        CopyDriver &server = *m_server;
        CopyDriver &client = *m_client;
        const QString protocol = tcp ? QStringLiteral("protocol tcp") : QStringLiteral("protocol udp");
        const QString at = u' ' + ServerIP + u' ' + QString::number(port);
        // The server opens: listening (2) for TCP, open (1) for UDP; then the
        // client connects (7) or binds (1).
        for (const QString &c : {QStringLiteral("mode server"), protocol, "local" + at, QStringLiteral("click cmdConnect")})
            QVERIFY2(server.command(c), qPrintable(server.lastError()));
        QVERIFY2(server.waitForState(tcp ? 2 : 1, Step), qPrintable(dump(server.pane())));
        for (const QString &c : {QStringLiteral("mode client"), protocol, "remote" + at, QStringLiteral("click cmdConnect")})
            QVERIFY2(client.command(c), qPrintable(client.lastError()));
        QVERIFY2(client.waitForState(tcp ? 7 : 1, Step), qPrintable(dump(client.pane())));

        QVERIFY2(client.command(QStringLiteral("click cmdAutoPing")), qPrintable(client.lastError()));
        QTest::qWait(ProbeSeconds * 1000 + 500);

        // The client: its queries under its own address, the answers under
        // the server's, and no missing answer after the first tick.
        const QStringList pane = client.pane();
        const qsizetype queries = pane.count(Query);
        QVERIFY2(queries >= ProbeSeconds - 1, qPrintable(dump(pane)));
        QVERIFY2(pane.count(Answer) >= queries - 1, qPrintable(dump(pane)));
        QVERIFY2(pane.count(NoAnswer) <= 1, qPrintable(dump(pane)));
        QVERIFY2(pane.indexOf(Query) < pane.indexOf(Answer), qPrintable(dump(pane)));

        // The client's log holds the same lines (its day's file, appended
        // to by every run of this test).
        QString log;
        for (const QFileInfo &file : QDir(m_dir.path() + "/client/Selmarin").entryInfoList({"HOSTB_*.log"})) {
            QFile f(file.filePath());
            if (f.open(QIODevice::ReadOnly))
                log += QString::fromUtf8(f.readAll());
        }
        QVERIFY2(log.count(u'\t' + Query + "\r\n") >= queries, qPrintable(log));
        QVERIFY2(log.count(u'\t' + Answer + "\r\n") >= pane.count(Answer), qPrintable(log));

        // The server: the queries under the client's address, each answered.
        const QStringList served = server.pane();
        QVERIFY2(served.count(Query) >= queries - 1, qPrintable(dump(served)));
        QCOMPARE(served.count(Answer), served.count(Query));

        // The server side closes while the probe runs.
        QVERIFY(client.probeRunning());
        QVERIFY(server.command(QStringLiteral("click cmdConnect")));
        QVERIFY(server.waitForState(0, Step));

        if (tcp) {
            // The client sees the remote close, and the probe stops.
            QVERIFY2(client.waitForPaneLine(QStringLiteral("Winsock:\tClosed"), Step),
                     qPrintable(dump(client.pane())));
            QTest::qWait(1500); // past the next tick
            const QStringList after = client.pane();
            const qsizetype closed = after.indexOf(QStringLiteral("Winsock:\tClosed"));
            QVERIFY2(countAfter(after, closed, Query) == 0, qPrintable(dump(after)));
            QVERIFY(!client.probeRunning());
            QCOMPARE(client.state(), 0);
        } else {
            // UDP has no connection: nothing tells the client that the server
            // went (its datagrams are sent, unconnected, and any "port
            // unreachable" coming back is not reported to such a socket).  The
            // client's socket stays open and quiet, and the probe goes on
            // sending, with a missing answer each second (the user's button
            // stops it, as the probe's own tests show).
            const qsizetype from = client.pane().size();
            QTest::qWait(2500);
            const QStringList after = client.pane();
            QVERIFY2(countAfter(after, from, Query) >= 2, qPrintable(dump(after)));
            QVERIFY2(countAfter(after, from, NoAnswer) >= 2, qPrintable(dump(after)));
            QVERIFY2(!dump(after).contains(QLatin1String("Winsock Error")), qPrintable(dump(after)));
            QVERIFY(client.probeRunning());
            QCOMPARE(client.state(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestTwoHosts)
#include "tst_twohosts.moc"
