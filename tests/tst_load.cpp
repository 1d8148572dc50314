// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A load's core on made-up times: the wire format, the far end's count of
// one sender's pieces (loss, order, duplicates, jitter, delay variation,
// goodput), the reports and the ends of loads, a stream's pieces, and the
// sender's pace; then `selmarin load` and `respond` on loopback.
#include "load/loadcounter.h"
#include "load/loadpacer.h"
#include "load/loadwire.h"

#include "fixture.h"

namespace {

LoadHeader data(quint64 seq, qint64 sentUs, quint32 length = 100)
{
    return {LoadKind::Data, 7, seq, sentUs, length};
}

// Feeds a script to a counter, one step "seq@sent/arrived" (times in µs;
// "e<count>@arrived": the End), and returns its tally at the end.
LoadTally count(const QString &script, qint64 *last = nullptr)
{
    LoadCounter counter;
    qint64 at = 0;
    for (const QString &step : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString what = step.section(u'@', 0, 0);
        const QString when = step.section(u'@', 1);
        at = when.section(u'/', -1).toLongLong();
        if (what.startsWith(u'e')) {
            counter.take({LoadKind::End, 7, what.mid(1).toULongLong(), 0, 40}, at, 40);
        } else if (what.startsWith(u'w')) {
            counter.take({LoadKind::WarmUp, 7, what.mid(1).toULongLong(), 0, 100}, at, 100);
        } else {
            counter.take(data(what.toULongLong(), when.section(u'/', 0, 0).toLongLong()), at, 100);
        }
    }
    if (last)
        *last = at;
    return counter.tally(at);
}

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void wire()
    {
        const QByteArray piece
            = LoadWire::Piece({LoadKind::Data, 0xA1B2C3D4, 1ull << 40, -5, 1400});
        // Big-endian, each at its place, zeros after the header.
        QCOMPARE(
            piece.left(LoadWire::HeaderBytes).toHex(),
            "53454c4d4c4f414401010000a1b2c3d40000010000000000fffffffffffffffb0000057800000000");
        QCOMPARE(piece.size() - piece.count('\0'), 25); // the header's bytes that are not 0
        const auto header = LoadWire::ReadHeader(piece.constData(), piece.size());
        QVERIFY(header && header->id == 0xA1B2C3D4u && header->seq == 1ull << 40
                && header->sentUs == -5 && header->length == 1400u);
        // Not ours: an AutoPing text, a header cut short, another version,
        // an unknown kind, a length below the header's.
        QVERIFY(!LoadWire::IsLoad(QByteArray("++ AutoPing Query ++")));
        QVERIFY(!LoadWire::ReadHeader(piece.constData(), LoadWire::HeaderBytes - 1));
        for (const auto &[at, value] : {std::pair{8, 2}, {9, 0}, {9, 6}, {35, 39}}) {
            QByteArray bad = piece;
            bad[at] = char(value);
            bad[34] = at == 35 ? 0 : bad[34]; // a length of 39
            QVERIFY(!LoadWire::ReadHeader(bad.constData(), bad.size()));
        }
        LoadTally tally;
        tally.received = 9;
        tally.expected = 10;
        tally.intervalLost = -2;
        tally.goodputBps = 8'000'000;
        const QByteArray report = LoadWire::ReportPiece(LoadKind::Final, 7, 99, tally);
        LoadHeader read;
        const auto back = LoadWire::ReadReport(report.constData(), report.size(), &read);
        QVERIFY(back && read.kind == LoadKind::Final && read.id == 7);
        QCOMPARE(
            (QList<qint64>{qint64(back->lost()), back->intervalLost, qint64(back->goodputBps)}),
            (QList<qint64>{1, -2, 8'000'000}));
        QVERIFY(!LoadWire::ReadReport(report.constData(), report.size() - 1));
        QVERIFY(!LoadWire::ReadReport(piece.constData(), piece.size())); // Data is no report
    }

    // What the far end counts of a script of arrivals (seq@sent/arrived,
    // eN: End with N sent, wN: warm-up).
    void counting_data()
    {
        // figures: received, expected, lost, out of order, duplicates, warm-up
        columns<QString, QList<quint64>>("script", "figures");
        const auto row = [](const char *name, const QString &script, QList<quint64> figures) {
            QTest::newRow(name) << script << figures;
        };
        row("in order", "0@0/10 1@1000/1010 2@2000/2010 3@3000/3010", {4, 4, 0, 0, 0, 0});
        row("two lost", "0@0/10 2@2000/2010 3@3000/3010 5@5000/5010", {4, 6, 2, 0, 0, 0});
        row("the first ones lost", "3@3000/3010 4@4000/4010", {2, 5, 3, 0, 0, 0});
        row("one late: out of order, not lost", "0@0/10 2@2000/2010 1@1000/2020 3@3000/3010",
            {4, 4, 0, 1, 0, 0});
        row("two swapped twice", "1@1000/1010 0@0/1020 3@3000/3010 2@2000/3020",
            {4, 4, 0, 2, 0, 0});
        row("duplicated", "0@0/10 1@1000/1010 1@1000/1011 1@1000/1012 2@2000/2010",
            {3, 3, 0, 0, 2, 0});
        row("a late duplicate", "0@0/10 1@1000/1010 2@2000/2010 0@0/2020", {3, 3, 0, 0, 1, 0});
        row("the tail lost: the End tells how many were sent", "0@0/10 1@1000/1010 e5@9000",
            {2, 5, 3, 0, 0, 0});
        row("in flight after the End: not counted", "0@0/10 e2@2000 1@1000/2500",
            {1, 2, 1, 0, 0, 0});
        row("warm-up apart", "w0@0/10 w1@1/20 0@100/110 1@200/210", {2, 2, 0, 0, 0, 2});
        row("only the End: all lost", "e100@10", {0, 100, 100, 0, 0, 0});
        row("a jump past the window",
            QStringLiteral("0@0/10 %1@1/20 1@2/30").arg(LoadCounter::Window + 5),
            {3, LoadCounter::Window + 6, LoadCounter::Window + 3, 1, 0, 0});
    }
    void counting()
    {
        const auto [script, figures] = fetched<QString, QList<quint64>>("script", "figures");
        const LoadTally t = count(script);
        QCOMPARE((QList<quint64>{t.received, t.expected, t.lost(), t.outOfOrder, t.duplicates,
                                 t.warmUp}),
                 figures);
        QCOMPARE(t.bytes, t.received * 100);
    }

    // RFC 3550's jitter and the delay variation, by hand: transit times 0,
    // 100, 100, 400 µs (over the first's) give D = 100, 0, 300 and
    // J = 6.25, 5.859375, 24.2431640625 µs; the delays over the fastest
    // are 0, 100, 100, 400: mean 150, largest 400.  Whatever the clocks'
    // offset (the sender's times far from the receiver's).
    void jitterAndDelay_data()
    {
        QTest::addColumn<qint64>("offset");
        dataRow("same clock", qint64(0));
        dataRow("sender's clock far ahead", qint64(86'400'000'000));
        dataRow("sender's clock far behind", qint64(-3'000'000'000));
    }
    void jitterAndDelay()
    {
        QFETCH(qint64, offset);
        LoadCounter counter;
        const qint64 transit[] = {0, 100, 100, 400};
        for (int i = 0; i < 4; ++i)
            counter.take(data(quint64(i), offset + i * 1000), 5000 + i * 1000 + transit[i], 100);
        const LoadTally t = counter.tally(10'000);
        QCOMPARE(t.jitterNs, 24243);
        QCOMPARE(t.delayVarMaxNs, 400'000);
        QCOMPARE(t.delayVarAvgNs, 150'000);
        QCOMPARE(t.intervalDelayVarMaxNs, 400'000);
        // A steady stream has none.
        LoadCounter steady;
        for (int i = 0; i < 100; ++i)
            steady.take(data(quint64(i), offset + i * 1000), 700 + i * 1000, 100);
        QCOMPARE(steady.tally(100'000).jitterNs, 0);
        QCOMPARE(steady.tally(100'000).delayVarMaxNs, 0);
    }

    // Goodput: 11 pieces of 1,000 bytes a millisecond apart are 8 Mbit/s
    // (the first piece's bits are not over the span).
    void goodput()
    {
        LoadCounter counter;
        for (int i = 0; i < 11; ++i)
            counter.take(data(quint64(i), i * 1000, 1000), 50 + i * 1000, 1000);
        const LoadTally t = counter.tally(20'000);
        QCOMPARE(t.spanUs, 10'000);
        QCOMPARE(t.goodputBps, 8'000'000u);
        QCOMPARE(t.bytes, 11'000u);
        QCOMPARE(count("0@0/10").goodputBps, 0u); // one piece: no span
    }

    // A report is due a second after the first piece, then every second;
    // each closes an interval, whose figures are the change since the last.
    void reports()
    {
        LoadCounter counter;
        const auto interval = [](const LoadTally &t) {
            return QList<qint64>{qint64(t.report), qint64(t.intervalReceived), t.intervalLost,
                                 t.intervalUs, qint64(t.intervalBytes)};
        };
        counter.take(data(0, 0), 1'000'000, 100);
        QVERIFY(!counter.reportDue(1'999'999) && counter.reportDue(2'000'000));
        counter.take(data(2, 0), 1'500'000, 100);
        QCOMPARE(interval(counter.report(2'000'000)), (QList<qint64>{1, 2, 1, 1'000'000, 200}));
        QVERIFY(!counter.reportDue(2'999'999));
        // The missing one comes late: counted back in the next interval.
        counter.take(data(1, 0), 2'100'000, 100);
        counter.take(data(3, 0), 2'200'000, 100);
        QCOMPARE(interval(counter.report(3'500'000)), (QList<qint64>{2, 2, -1, 1'500'000, 200}));
        // The next is due at the next whole second from the first piece.
        QVERIFY(!counter.reportDue(3'999'999) && counter.reportDue(4'000'000));
    }

    // Loads apart by sender and id; a report back once a second; the End
    // answered with the final count every time it comes, told once; a
    // silent load ends; a full receiver turns a new load away.
    void receiver()
    {
        using Why = LoadReceiver::Told::Why;
        LoadReceiver receiver;
        const auto take = [&](const QString &from, const LoadHeader &h, qint64 at) {
            const QByteArray piece = LoadWire::Piece(h);
            return receiver.take(from, piece.constData(), piece.size(), at);
        };
        QVERIFY(take("192.0.2.1:5", {LoadKind::Data, 1, 0, 0, 200}, 0).reply.isEmpty());
        take("192.0.2.1:5", {LoadKind::Data, 2, 0, 0, 200}, 10);
        take("192.0.2.2:5", {LoadKind::Data, 1, 0, 0, 200}, 20);
        QCOMPARE(receiver.active(), 3);
        const auto second = take("192.0.2.1:5", {LoadKind::Data, 1, 1, 0, 200}, 1'000'000);
        const auto report = LoadWire::ReadReport(second.reply.constData(), second.reply.size());
        QVERIFY(second.told && second.told->why == Why::Second && report && report->bytes == 400);
        QVERIFY(receiver.take("192.0.2.1:5", "++ AutoPing", 11, 5).reply.isEmpty()); // not ours
        // Every End gets the final count; it is told once.
        const auto ended = take("192.0.2.1:5", {LoadKind::End, 1, 4, 0, 40}, 1'100'000);
        LoadHeader header;
        const auto final
            = LoadWire::ReadReport(ended.reply.constData(), ended.reply.size(), &header);
        QVERIFY(ended.told && ended.told->why == Why::Ended && header.kind == LoadKind::Final);
        QVERIFY(final && final->received == 2 && final->lost() == 2);
        const auto again = take("192.0.2.1:5", {LoadKind::End, 1, 4, 0, 40}, 1'200'000);
        QVERIFY(!again.told && !again.reply.isEmpty() && receiver.active() == 2);
        // The two others fall silent.
        QVERIFY(receiver.expire(5'000'000).isEmpty());
        const QList<LoadReceiver::Told> silent = receiver.expire(5'000'020);
        QVERIFY(silent.size() == 2 && silent[0].why == Why::Silent && receiver.active() == 0);
        for (quint32 id = 0; id < LoadReceiver::MaxLoads; ++id)
            QVERIFY(!take("192.0.2.9:1", {LoadKind::Data, id, 0, 0, 200}, 0).full);
        QVERIFY(take("192.0.2.9:1", {LoadKind::Data, 9999, 0, 0, 200}, 0).full);
        QVERIFY(!take("192.0.2.9:1", {LoadKind::Data, 3, 1, 0, 200}, 0).full);
    }

    // A stream's pieces whatever the split of its bytes; a stream that is
    // no load is refused at its first bytes.
    void stream()
    {
        QByteArray bytes = LoadWire::Piece({LoadKind::Data, 5, 0, 0, 1000})
                           + LoadWire::Piece({LoadKind::Data, 5, 1, 0, 40})
                           + LoadWire::Piece({LoadKind::Data, 5, 2, 0, 5000})
                           + LoadWire::Piece({LoadKind::End, 5, 3, 0, 40});
        for (const int split : {1, 7, 39, 40, 41, 999, 4096}) {
            LoadStreamReader reader;
            QList<LoadStreamReader::Piece> pieces;
            for (qsizetype at = 0; at < bytes.size(); at += split)
                QVERIFY(reader.feed(bytes.constData() + at,
                                    std::min<qsizetype>(split, bytes.size() - at), pieces));
            QVERIFY(pieces.size() == 4 && pieces[2].header.seq == 2 && pieces[2].bytes == 5000
                    && pieces[3].header.kind == LoadKind::End && reader.dataBytes() == 6040);
        }
        QList<LoadStreamReader::Piece> none;
        QVERIFY(!LoadStreamReader().feed("SELX", 4, none)
                && !LoadStreamReader().feed("++ AutoPing Query ++", 20, none) && none.isEmpty());
    }

    void rates_data()
    {
        // perSecond: at 1,250 bytes; -1: refused
        columns<QString, double>("text", "perSecond");
        dataRow("datagrams", "1000", 1000.0);
        dataRow("unlimited", "0", 0.0);
        dataRow("100K", "100K", 10.0);
        dataRow("1G", "1G", 100'000.0);
        dataRow("1.5Mbit/s", "1.5Mbit/s", 150.0);
        dataRow("20Mb", "20Mb", 2000.0);
        dataRow("a word", "fast", -1.0);
        dataRow("m for milli?", "10m", -1.0);
        dataRow("too high", "2000G", -1.0);
    }
    void rates()
    {
        const auto [text, perSecond] = fetched<QString, double>("text", "perSecond");
        QString error;
        const auto rate = ParseLoadRate(text, &error);
        QCOMPARE(rate.has_value(), perSecond >= 0);
        if (rate)
            QCOMPARE(rate->piecesPerSecond(1250), perSecond);
        else
            QVERIFY(error.startsWith("--rate"));
    }

    // The pace: a tick every burst / rate seconds from the start, each with
    // burst pieces; the first at the start.
    void pace()
    {
        LoadPacer one(1000, 1), bursts(1000, 10), fast(100'000, 1);
        one.start(5'000);
        bursts.start(0);
        fast.start(0);
        QCOMPARE((QList<quint64>{one.dueBy(4'999), one.dueBy(5'000), one.dueBy(5'999),
                                 one.dueBy(6'000), one.dueBy(1'005'000), bursts.dueBy(0),
                                 bursts.dueBy(9'999), bursts.dueBy(10'000)}),
                 (QList<quint64>{0, 1, 1, 2, 1001, 10, 10, 20}));
        QCOMPARE((QList<qint64>{one.dueAt(0), one.dueAt(10), bursts.dueAt(19), bursts.dueAt(20)}),
                 (QList<qint64>{5'000, 15'000, 10'000, 20'000}));
        // A long run keeps its rate: 100,000 a second for a day.
        QCOMPARE(fast.dueBy(86'400'000'000), 8'640'000'001u);
        QVERIFY(LoadPacer(0, 1).unlimited());
    }

    // A load on loopback against a responder: the far end's count of
    // every datagram in the JSON and in the lines of both ends, a line a
    // second per load on the responder; a TCP load's goodput; a load to a
    // port nobody counts on (nobody listens: exit 1, said); a sender killed
    // mid-run ended by the responder after its silence.
    void loadOnLoopback()
    {
        QTemporaryDir dir;
        const QString udp = QString::number(freePort(true)), tcp = QString::number(freePort());
        Headless udpServer(dir.path() + "/u", {"respond", "--udp", "--port", udp});
        Headless tcpServer(dir.path() + "/t", {"respond", "--tcp", "--port", tcp});
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += udpServer.out()).contains("Winsock:\tOpen"), 10000);
        Headless udpLoad(dir.path() + "/s",
                         {"load", "--udp", "localhost", udp, "--rate", "500", "-c", "600", "--size",
                          "200", "--burst", "5", "--warmup", "0.2", "--json"});
        QVERIFY(udpLoad.endsWith(0));
        const QJsonObject json = QJsonDocument::fromJson(udpLoad.readAllStandardOutput()).object();
        QCOMPARE((QList<int>{json["sent"].toInt(), json["received"].toInt(), json["lost"].toInt(),
                             json["out_of_order"].toInt(), json["duplicates"].toInt(),
                             json["sender"]["sent"].toInt(), json["exit_status"].toInt()}),
                 (QList<int>{600, 600, 0, 0, 0, 600, 0}));
        QVERIFY(json["sender"]["warm_up"].toInt() >= 90); // 0.2 s at 500 a second
        QVERIFY2(std::abs(json["goodput_bps"].toDouble() / 800'000 - 1) < 0.05,
                 qPrintable(QString::number(json["goodput_bps"].toDouble())));
        QVERIFY(json["jitter_ms"].isDouble() && json["seconds"].toArray().size() == 2);
        QTRY_VERIFY_WITH_TIMEOUT((told += udpServer.out()).contains("ended after"), 5000);
        QVERIFY2(told.contains(": 600 sent, 600 received, 0 lost (0.00%)")
                     && told.count("Load:\t") <= 3,
                 qPrintable(told));

        Headless tcpLoad(dir.path() + "/s", {"load", "--tcp", "localhost", tcp, "-t", "1"});
        QVERIFY(tcpLoad.endsWith(0));
        const QString tcpTold = tcpLoad.out();
        QVERIFY2(QRegularExpression("far end: (\\d+) pieces sent, \\1 received \\(\\d+ bytes\\), "
                                    "goodput [0-9.]+ [MG]bit/s\n")
                         .match(tcpTold)
                         .hasMatch()
                     && tcpTold.contains(" retransmissions\n"),
                 qPrintable(tcpTold));

        Headless nobody(dir.path() + "/s",
                        {"load", "--udp", "localhost", QString::number(freePort(true)), "-c", "5"});
        QVERIFY(nobody.endsWith(1));
        QVERIFY(nobody.err().contains("find no one listening there (port unreachable)"));
        QVERIFY(nobody.out().contains("far end: no count came"));

        Headless vanishing(dir.path() + "/s", {"load", "--udp", "localhost", udp, "-t", "60"});
        const qsizetype seconds = told.count(" second 1: ");
        QTRY_VERIFY_WITH_TIMEOUT((told += udpServer.out()).count(" second 1: ") > seconds, 10000);
        vanishing.kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += udpServer.out()).contains("silent for 5 s (its sender is gone)"), 10000);
        QVERIFY(udpServer.endsWith(0, true) && tcpServer.endsWith(0, true));
    }
};

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
