// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What an AutoPing run measures and plots, against a scripted peer that
// answers each query after a known delay.  The script's times are exact, so
// the figures are too; the texts round them to 10 us (the window's line) and
// 1 us (the ping-style lines), which is the tolerance checked.
#include "autoping/pingstats.h"
#include "autoping/probetexts.h"
#include "console/pingplot.h"

#include <QAccessible>
#include <QtTest>

#include <algorithm>

using Delays = QList<int>;

namespace {

// Ticks a second apart, each sending its query 1 us after the tick; query i
// is answered delays[i] us after it was sent (-1: never).  One more tick
// judges the last query.
void probe(PingStats &stats, const Delays &delays)
{
    enum Kind { Tick, Send, Response };
    QList<std::pair<qint64, Kind>> events;
    for (qint64 i = 0; i <= delays.size(); ++i) {
        events.append({i * 1000000, Tick});
        if (i == delays.size())
            break;
        events.append({i * 1000000 + 1, Send});
        if (delays[i] >= 0)
            events.append({i * 1000000 + 1 + delays[i], Response});
    }
    std::stable_sort(events.begin(), events.end());
    stats.reset(QStringLiteral("192.0.2.9:7010"));
    for (const auto &[at, kind] : events)
        if (kind == Tick)
            stats.judgeAll();
        else
            kind == Send ? void(stats.querySent(at)) : void(stats.responseArrived(at));
}

} // namespace

class TestPingStats : public QObject
{
    Q_OBJECT
private slots:
    // marks: a answered, x lost, l late, in the history and in the plot.
    void run_data()
    {
        QTest::addColumn<Delays>("delays");
        QTest::addColumn<QString>("marks");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("ping");
        QTest::addColumn<qint64>("ceiling");
        const QString rtt = "\nrtt min/avg/max/mdev = 0.300/0.400/0.500/0.100 ms";
        QTest::newRow("known delays")
            << Delays{210, 350, 1200, 300, 400} << "aaaaa"
            << "5 sent, 5 answered, 0 lost (0.0 %), rtt 0.21 / 0.49 / 1.20 / 0.36 ms"
            << "5 packets transmitted, 5 received, 0% packet loss\n"
               "rtt min/avg/max/mdev = 0.210/0.492/1.200/0.360 ms"
            << qint64(2000);
        // Query 1's answer comes after query 2's, 0.4 s after tick 2.
        QTest::newRow("late answer")
            << Delays{300, 1400000, 500} << "ala"
            << "3 sent, 2 answered, 1 late, 0 lost (0.0 %), rtt 0.30 / 0.40 / 0.50 / 0.10 ms"
            << "3 packets transmitted, 3 received, 1 late, 0% packet loss" + rtt << qint64(500);
        // Two lost, then query 0's answer 2.5 s late: the oldest lost is late.
        QTest::newRow("late answer to the oldest lost")
            << Delays{2500000, -1, 300} << "lxa"
            << "3 sent, 1 answered, 1 late, 1 lost (33.3 %), rtt 0.30 / 0.30 / 0.30 / 0.00 ms"
            << "3 packets transmitted, 2 received, 1 late, 33.3333% packet loss\n"
               "rtt min/avg/max/mdev = 0.300/0.300/0.300/0.000 ms"
            << qint64(500);
        QTest::newRow("no answers")
            << Delays{-1, -1, -1} << "xxx"
            << "3 sent, 0 answered, 3 lost (100.0 %)"
            << "3 packets transmitted, 0 received, 100% packet loss" << qint64(1000);
        QTest::newRow("plot keeps the last minute")
            << Delays{-1} + Delays(60, 300) << QString(60, 'a')
            << "61 sent, 60 answered, 1 lost (1.6 %), rtt 0.30 / 0.30 / 0.30 / 0.00 ms"
            << "61 packets transmitted, 60 received, 1.63934% packet loss\n"
               "rtt min/avg/max/mdev = 0.300/0.300/0.300/0.000 ms"
            << qint64(500);
    }
    void run()
    {
        QFETCH(Delays, delays);
        QFETCH(QString, marks);
        QFETCH(QString, summary);
        PingStats stats;
        probe(stats, {-1, 100, 1400000, 200}); // a run before, which reset drops
        probe(stats, delays);
        QCOMPARE(stats.summary(), "AutoPing 192.0.2.9:7010 \u2014 " + summary);
        QTEST(stats.pingSummary(), "ping");

        PingPlot plot;
        plot.setStats(stats);
        QTEST(plot.ceilingUs(), "ceiling");
        QString history, drawn;
        for (const auto &judged : stats.history())
            history += "alx"[int(judged.outcome)];
        for (const auto &mark : plot.marks()) {
            drawn += "alx"[int(mark.outcome)];
            QVERIFY(mark.height >= 0 && mark.height <= 1);
            QCOMPARE(mark.height > 0, mark.outcome == PingStats::Outcome::Answered);
        }
        QCOMPARE(history, marks);
        QCOMPARE(drawn, marks);
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&plot);
        QCOMPARE(iface->role(), QAccessible::Chart);
        QVERIFY(!iface->text(QAccessible::Name).isEmpty());
        const QString lost = QString::number(marks.count('x')) + " lost";
        QVERIFY(iface->text(QAccessible::Description).contains(lost));
    }

    // The command line's matching: a query a second, answered after the
    // delays (ms, -1: never) with its number, 2 s to be answered in time.
    void matching_data()
    {
        QTest::addColumn<PingStats::Matching>("matching");
        QTest::addColumn<Delays>("delays");
        QTest::addColumn<QString>("ping");
        QTest::newRow("stream, answers after 1.5 s")
            << PingStats::Matching::Ordered << Delays(6, 1500)
            << "6 packets transmitted, 6 received, 0% packet loss\n"
               "rtt min/avg/max/mdev = 1500.000/1500.000/1500.000/0.000 ms";
        QTest::newRow("numbered: lost, late, out of order")
            << PingStats::Matching::Numbered << Delays{2300, -1, 2001, 100, 1999}
            << "5 packets transmitted, 4 received, 2 late, 20% packet loss\n"
               "rtt min/avg/max/mdev = 100.000/1049.500/1999.000/949.500 ms";
        QTest::newRow("plain, answers slower than the interval")
            << PingStats::Matching::Plain << Delays{1500, 1500, 1500}
            << "3 packets transmitted, 3 received, 2 late, 0% packet loss\n"
               "rtt min/avg/max/mdev = 1500.000/1500.000/1500.000/0.000 ms";
    }
    void matching()
    {
        QFETCH(PingStats::Matching, matching);
        QFETCH(Delays, delays);
        QList<std::pair<qint64, int>> events; // time, query (>= 0: sent; < 0: -seq answered)
        for (int i = 0; i < delays.size(); ++i) {
            events.append({i * 1000000LL, i});
            if (delays[i] >= 0)
                events.append({i * 1000000LL + delays[i] * 1000LL, -(i + 1)});
        }
        std::stable_sort(events.begin(), events.end());
        PingStats stats;
        stats.reset("192.0.2.9:7010", matching, 2000000);
        for (const auto &[at, what] : events) {
            stats.expire(at);
            if (what >= 0)
                QCOMPARE(stats.querySent(at), what + 1);
            else
                stats.responseArrived(at, -what);
        }
        stats.responseArrived(9000000, 1); // a duplicate changes nothing
        stats.judgeAll();
        QTEST(stats.pingSummary(), "ping");
    }

    // The numbered texts as a responder reads them (0: plain, -1: none) and
    // writes them back.
    void probeTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seq");
        QTest::newRow("plain, with a line end") << "++ AutoPing Query ++\r\n" << 0;
        QTest::newRow("the largest number") << "++ AutoPing Response ++ #2147483647" << INT_MAX;
        QTest::newRow("one more") << "++ AutoPing Query ++ #2147483648" << -1;
        QTest::newRow("0, a sign, no digits, more after")
            << "++ AutoPing Query ++ #0|++ AutoPing Query ++ #+5|++ AutoPing Query ++ #|"
               "++ AutoPing Query ++ #5x"
            << -1;
    }
    void probeTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, seq);
        for (const QString &one : text.split('|')) {
            const auto read = ReadProbeDatagram(one);
            QCOMPARE(read ? read->seq.value_or(0) : -1, seq);
            if (seq > 0)
                QCOMPARE(ProbeTextOf(read->kind, seq), one);
        }
    }
};

QTEST_MAIN(TestPingStats)
#include "tst_pingstats.moc"
