// AutoPing end to end between two copies of the program on two hosts: two
// network namespaces made for the run, joined by a veth pair, one copy in
// each (the test driver, see driver/selmarin_driver.cpp), driven as a user
// would drive them.  Needs root and `ip`; without them the test reports
// itself skipped with the reason.
//
// Set SELMARIN_PROBE_SECONDS to let the probe run longer (for measuring the
// spread of the probe's ticks by hand; the test prints the figures).
#include "copydriver.h"
#include "netnspair.h"

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

int probeSeconds()
{
    bool ok = false;
    const int s = qEnvironmentVariableIntValue("SELMARIN_PROBE_SECONDS", &ok);
    return ok && s >= 2 ? s : 5;
}

qsizetype countOf(const QStringList &lines, const QString &line) { return lines.count(line); }

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

    // Lets the probe run and prints the spread of its ticks.
    void runProbe()
    {
        QVERIFY2(m_client->command(QStringLiteral("click cmdAutoPing")), qPrintable(m_client->lastError()));
        const int seconds = probeSeconds();
        QTest::qWait(seconds * 1000 + 500);
        const QList<qint64> ticks = m_client->ticks();
        QVERIFY2(ticks.size() >= seconds - 1, qPrintable(QString::number(ticks.size())));
        // Distance of each tick from the 1 s grid of the first one, and the
        // intervals between ticks.
        qint64 worstOffset = 0, shortest = LLONG_MAX, longest = 0;
        for (qsizetype k = 1; k < ticks.size(); ++k) {
            worstOffset = std::max(worstOffset, qAbs(ticks[k] - ticks[0] - 1000 * k));
            shortest = std::min(shortest, ticks[k] - ticks[k - 1]);
            longest = std::max(longest, ticks[k] - ticks[k - 1]);
        }
        qInfo("%lld ticks: intervals %lld..%lld ms, worst distance from the 1 s grid %lld ms",
              qint64(ticks.size()), shortest, longest, worstOffset);
        // The clock keeps its period: lateness is not carried into later ticks.
        QVERIFY2(worstOffset < 300, qPrintable(QString::number(worstOffset)));
    }

    QStringList logLines(CopyDriver &copy)
    {
        QFile log(copy.logFile());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QString &l : QString::fromUtf8(log.readAll()).split(QStringLiteral("\r\n"))) {
            const qsizetype tab = l.indexOf(u'\t'); // "-- <time>" TAB line
            if (l.startsWith(QLatin1String("-- ")) && tab > 0)
                lines.append(l.mid(tab + 1));
        }
        return lines;
    }

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

    void cleanup()
    {
        // Each copy's window is closed; the copy must then end by itself.
        const bool clientEnded = m_client && m_client->stop();
        const bool serverEnded = m_server && m_server->stop();
        m_client.reset();
        m_server.reset();
        if (!QTest::currentTestFailed()) {
            QVERIFY2(clientEnded, "the client did not end cleanly");
            QVERIFY2(serverEnded, "the server did not end cleanly");
        }
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
        const QString portText = QString::number(port);

        // The server opens: listening (2) for TCP, open (1) for UDP.
        for (const QString &c : {QStringLiteral("mode server"), protocol,
                                 QStringLiteral("local ") + ServerIP + u' ' + portText,
                                 QStringLiteral("click cmdConnect")})
            QVERIFY2(server.command(c), qPrintable(server.lastError()));
        QVERIFY2(server.waitForState(tcp ? 2 : 1, Step), qPrintable(server.pane().join(u'\n')));

        // The client connects (7) or binds (1).
        for (const QString &c : {QStringLiteral("mode client"), protocol,
                                 QStringLiteral("remote ") + ServerIP + u' ' + portText,
                                 QStringLiteral("click cmdConnect")})
            QVERIFY2(client.command(c), qPrintable(client.lastError()));
        QVERIFY2(client.waitForState(tcp ? 7 : 1, Step), qPrintable(client.pane().join(u'\n')));

        runProbe();
        if (QTest::currentTestFailed())
            return;

        // The client: its queries under its own address, the answers under
        // the server's, and no missing answer after the first tick.
        const QStringList pane = client.pane();
        const QString shown = pane.join(u'\n');
        const qsizetype queries = countOf(pane, Query);
        QVERIFY2(queries >= probeSeconds() - 1, qPrintable(shown));
        QVERIFY2(countOf(pane, Answer) >= queries - 1, qPrintable(shown));
        QVERIFY2(countOf(pane, NoAnswer) <= 1, qPrintable(shown));
        QVERIFY2(pane.indexOf(Query) < pane.indexOf(Answer), qPrintable(shown));
        // ... and its log holds every line of the pane.
        const QStringList log = logLines(client);
        QVERIFY2(countOf(log, Query) >= queries && countOf(log, Answer) >= countOf(pane, Answer),
                 qPrintable(log.join(u'\n')));

        // The server: the queries under the client's address, each answered.
        const QStringList served = server.pane();
        QVERIFY2(countOf(served, Query) >= queries - 1, qPrintable(served.join(u'\n')));
        QCOMPARE(countOf(served, Answer), countOf(served, Query));

        // The server side closes while the probe runs.
        QVERIFY(client.probeRunning());
        QVERIFY(server.command(QStringLiteral("click cmdConnect")));
        QVERIFY(server.waitForState(0, Step));

        if (tcp) {
            // The client sees the remote close, and the probe stops.
            QVERIFY2(client.waitForPaneLine(QStringLiteral("Winsock:\tClosed"), Step),
                     qPrintable(client.pane().join(u'\n')));
            QTest::qWait(1500); // past the next tick
            const QStringList after = client.pane();
            const qsizetype closed = after.indexOf(QStringLiteral("Winsock:\tClosed"));
            QVERIFY2(countAfter(after, closed, Query) == 0, qPrintable(after.join(u'\n')));
            QVERIFY(!client.probeRunning());
            QCOMPARE(client.state(), 0);
            qInfo("The client's pane:\n%s", qPrintable(after.join(u'\n')));
        } else {
            // UDP has no connection: nothing tells the client that the server
            // went (its datagrams are sent, unconnected, and any "port
            // unreachable" coming back is not reported to such a socket).  The
            // client's socket stays open and quiet, and the probe goes on
            // sending, with a missing answer each second, until the user stops it.
            const qsizetype from = client.pane().size();
            QTest::qWait(2500);
            const QStringList after = client.pane();
            QVERIFY2(countAfter(after, from, Query) >= 2, qPrintable(after.join(u'\n')));
            QVERIFY2(countAfter(after, from, NoAnswer) >= 2, qPrintable(after.join(u'\n')));
            QVERIFY2(!after.join(u'\n').contains(QLatin1String("Winsock Error")), qPrintable(after.join(u'\n')));
            QVERIFY(client.probeRunning());
            QCOMPARE(client.state(), 1);
            // The user stops it with the button.
            QVERIFY(client.command(QStringLiteral("click cmdAutoPing")));
            const qsizetype stopped = client.pane().size();
            QTest::qWait(1200);
            QCOMPARE(countAfter(client.pane(), stopped, Query), 0);
            QVERIFY(!client.probeRunning());
        }
    }
};

QTEST_GUILESS_MAIN(TestTwoHosts)
#include "tst_twohosts.moc"
