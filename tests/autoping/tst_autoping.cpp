// The AutoPing probe's step against a scripted window: what each tick sends
// and reports, and how responses are counted.
#include "autoping/autoping.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

// A window whose sends are recorded, and whose peer is scripted by the test.
class ScriptedWindow final : public ProbeWindow
{
public:
    QStringList sent;
    QList<PaneLine> lines;
    bool sendFails = false;

    bool Send(const QString &text) override
    {
        if (sendFails || text.isEmpty())
            return false;
        sent.append(text);
        return true;
    }
    void AddToMsgsBox(const QString &speaker, const QString &sentence) override
    {
        lines.append({speaker, sentence});
    }
    int failures() const
    {
        return int(std::count_if(lines.begin(), lines.end(), [](const PaneLine &l) {
            return l.sentence == QStringLiteral("Failed to receive a response.\r\n");
        }));
    }
};

} // namespace

class TestAutoPing : public QObject
{
    Q_OBJECT
private slots:
    void firstTickReportsMissingResponse()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        QVERIFY(probe.AutoPingOn);
        QVERIFY(probe.Timer2.isActive());
        QCOMPARE(probe.Timer2.interval(), 1000); // once a second, from the probe itself
        QCOMPARE(probe.Timer2.timerType(), Qt::PreciseTimer);
        probe.Timer2_Timer();
        QCOMPARE(w.sent, QStringList{AutoPingQuery});
        QCOMPARE(w.lines.size(), 1);
        QCOMPARE(w.lines[0].text(), QStringLiteral("AutoPing:\tFailed to receive a response.\r\n"));
    }

    // Each tick judges the query of the tick before.
    void responsesCountForTheNextTick_data()
    {
        QTest::addColumn<QString>("script"); // per tick: 'a' answered before it, '-' not
        QTest::addColumn<int>("failures");
        QTest::newRow("peer answers every query") << "-aaaa" << 1;
        QTest::newRow("peer never answers") << "-----" << 5;
        QTest::newRow("one late response") << "-aa-aa" << 2;
        QTest::newRow("answered before the run") << "aaa" << 0;
    }
    void responsesCountForTheNextTick()
    {
        QFETCH(QString, script);
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        for (const QChar step : script) {
            if (step == u'a')
                probe.PingAnswered = true; // the data handler saw a response
            probe.Timer2_Timer();
        }
        QCOMPARE(w.sent.size(), script.size());
        QTEST(w.failures(), "failures");
    }

    void answeredFlagSurvivesStopAndStart()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        probe.Timer2_Timer();
        probe.PingAnswered = true; // a response after the last tick
        probe.cmdAutoPing_Click(); // off
        probe.cmdAutoPing_Click(); // on again
        probe.Timer2_Timer();
        QCOMPARE(w.failures(), 1); // only the first run's first tick
    }

    void twoClicksWithinOneIntervalSendNothing()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        probe.cmdAutoPing_Click();
        QVERIFY(!probe.Timer2.isActive());
        QTest::qWait(50);
        QVERIFY(w.sent.isEmpty());
        QVERIFY(w.lines.isEmpty());
    }

    void flagClearedElsewhereStopsTheClockSilently()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        probe.AutoPingOn = false; // state display, Connect button or a socket event
        probe.Timer2_Timer();
        QVERIFY(!probe.Timer2.isActive());
        QVERIFY(w.sent.isEmpty());
        QVERIFY(w.lines.isEmpty());
    }

    void failedSendEndsTheRun()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.cmdAutoPing_Click();
        w.sendFails = true;
        probe.Timer2_Timer();
        QVERIFY(!probe.AutoPingOn);
        QVERIFY(!probe.Timer2.isActive());
        QCOMPARE(w.lines.size(), 2);
        QCOMPARE(w.lines[0].text(), QStringLiteral("AutoPing:\tFailed to send ++ AutoPing Query ++\r\n"));
        QCOMPARE(w.lines[1].text(), QStringLiteral("AutoPing:\tFailed to receive a response.\r\n"));
    }

    // The clock keeps its period: ticks stay on a 1 s grid instead of adding
    // each tick's lateness to the next.
    void clockDoesNotDrift()
    {
        ScriptedWindow w;
        AutoPing probe(w);
        probe.Timer2.setInterval(100); // a tenth of the real period keeps the test short
        QElapsedTimer clock;
        QList<qint64> ticks;
        connect(&probe.Timer2, &QTimer::timeout, this, [&] {
            ticks.append(clock.elapsed());
            QTest::qSleep(15); // a slow handler
        });
        clock.start();
        probe.cmdAutoPing_Click();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 10, 5000);
        probe.cmdAutoPing_Click();
        // With drift, ten slow ticks would end at least 150 ms late.
        QVERIFY2(ticks[9] < 1000 + 60, qPrintable(QString::number(ticks[9])));
    }
};

QTEST_GUILESS_MAIN(TestAutoPing)
#include "tst_autoping.moc"
