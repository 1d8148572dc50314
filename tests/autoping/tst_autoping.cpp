// The AutoPing probe's step against a scripted window: what each tick sends
// and reports, and how responses are counted.
#include "autoping/autoping.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

// A window whose sends are recorded and whose pane lines are kept as codes:
// 'F' for a missing response, 'S' for a failed send.
class ScriptedWindow final : public ProbeWindow
{
public:
    QStringList sent;
    QString lines;
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
        const QString line = speaker + ":\t" + sentence;
        if (line == "AutoPing:\tFailed to receive a response.\r\n")
            lines += u'F';
        else if (line == "AutoPing:\tFailed to send ++ AutoPing Query ++\r\n")
            lines += u'S';
        else
            lines += u'?';
    }
};

} // namespace

class TestAutoPing : public QObject
{
    Q_OBJECT
private slots:
    // Each tick judges the query of the tick before.  Script steps: 'c' click
    // the button, 't' tick, 'a' a response arrives, 'f' sends fail from now,
    // 'x' the flag is cleared elsewhere (state display, Connect, socket event).
    void script_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<bool>("running");
        QTest::newRow("first tick misses") << "ct" << 1 << "F" << true;
        QTest::newRow("peer answers every query") << "ctatatatat" << 5 << "F" << true;
        QTest::newRow("peer never answers") << "cttttt" << 5 << "FFFFF" << true;
        QTest::newRow("one late response") << "ctatattatat" << 6 << "FF" << true;
        QTest::newRow("answered before the run") << "catatat" << 3 << "" << true;
        QTest::newRow("flag survives stop and start") << "ctacct" << 2 << "F" << true;
        QTest::newRow("two clicks send nothing") << "cc" << 0 << "" << false;
        QTest::newRow("cleared flag stops silently") << "cxt" << 0 << "" << false;
        QTest::newRow("failed send ends the run") << "cft" << 0 << "SF" << false;
    }
    void script()
    {
        QFETCH(QString, script);
        ScriptedWindow w;
        AutoPing probe(w);
        for (const QChar step : script) {
            switch (step.unicode()) {
            case 'c': probe.cmdAutoPing_Click(); break;
            case 't': probe.Timer2_Timer(); break;
            case 'a': probe.PingAnswered = true; break;
            case 'f': w.sendFails = true; break;
            case 'x': probe.AutoPingOn = false; break;
            }
        }
        QTEST(int(w.sent.size()), "sent");
        QVERIFY(w.sent.count(AutoPingQuery) == w.sent.size());
        QTEST(w.lines, "lines");
        QTEST(probe.Timer2.isActive(), "running");
        QTEST(probe.AutoPingOn, "running");
        QCOMPARE(probe.Timer2.interval(), 1000);
        QCOMPARE(probe.Timer2.timerType(), Qt::PreciseTimer);
    }

    // Ticks stay on the clock's grid instead of adding each tick's lateness
    // to the next.
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
