// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The two-way measurement's reflector: its answers as exact bytes, the time
// stamp formats and the error estimate; then `selmarin respond --stamp`
// answering a sender built on scapy's model of the test packets (an
// implementation written by others), over IPv4 and IPv6 on loopback; and
// `selmarin probe --stamp` against ours and against a reflector in the test
// that leaves out chosen answers.
#include "base/msgsink.h"
#include "cli/metricspage.h"
#include "peers/stampreflector.h"
#include "peers/stampsender.h"
#include "probe/queryclock.h"
#include "stamp/stampfigures.h"
#include "stamp/stampreply.h"
#include "udp/sendstamps.h"
#include "wording/stamplines.h"

#include "fixture.h"

#include <QScopeGuard>

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The reflector's answer of every row: T2 = 1700000000.5 s, T3 = .75 s,
// its estimate S=1 scale 2 multiplier 3, TAI 37 s ahead, TTL 64, its number
// 7, DSCP 46 and ECN 1 received, DSCP 10 sent.
Stamp::Reflection reflection()
{
    Stamp::Reflection r;
    r.t2Ns = 1'700'000'000'500'000'000;
    r.t3Ns = 1'700'000'000'750'000'000;
    r.ttl = 64;
    r.seq = 7;
    r.clock = {{true, false, 2, 3},
               37,
               Stamp::SyncSource::Ntp,
               Stamp::StampMethod::SoftwareLocal,
               Stamp::StampMethod::ControlPlane};
    r.dscpReceived = 46;
    r.ecnReceived = 1;
    r.dscpSent = 10;
    return r;
}

// A sender's base: number 0x01020304, T1, estimate S=1 scale 10 mult 5
// (Z=1 with the PTP one), SSID 0xbeef, the MBZ all ones (never echoed).
const QByteArray Sender = "01020304"
                          "1122334455667788"
                          "8a05"
                          "beef";
const QByteArray SenderPtp = "01020304"
                             "1122334455667788"
                             "ca05"
                             "beef";
const QByteArray Ones = QByteArray(56, 'f');
const QByteArray Echoed = "01020304"
                          "1122334455667788";
const QByteArray Answer = "00000007"
                          "e8fe6f80c0000000"
                          "8203"
                          "beef"
                          "e8fe6f8080000000"
                          + Echoed
                          + "8a05"
                            "0000"
                            "40"
                            "000000";

// Runs `probe --stamp localhost PORT` for count queries and returns its
// JSON summary's one target; status: its exit status.
QJsonObject probeStamp(const QString &folder, quint16 port, int count, int *status,
                       const QString &host = "localhost", const QString &ns = {})
{
    Headless probe(folder,
                   {"probe", "--stamp", host, QString::number(port), "-c", QString::number(count),
                    "-i", "0.1", "-W", "0.5", "--json"},
                   ns);
    // The event loop runs meanwhile: a reflector in the test answers.
    if (!QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 30000))
        probe.kill();
    *status = probe.exitCode();
    return QJsonDocument::fromJson(probe.readAllStandardOutput())["targets"][0].toObject();
}

// How many of the time stamp options, SO_TIMESTAMPING first, the stand-in
// for setsockopt refuses.
int refusedStamps = 0;
int refusing(int fd, int level, int option, const void *value, socklen_t length)
{
    const int rank = option == SO_TIMESTAMPING ? 1 : option == SO_TIMESTAMPNS ? 2 : 3;
    return level == SOL_SOCKET && rank <= refusedStamps
               ? (errno = ENOPROTOOPT, -1)
               : ::setsockopt(fd, level, option, value, length);
}

} // namespace

class TestStamp : public QObject
{
    Q_OBJECT
private slots:
    // The gate's verdicts (Answer, Bad source, Outside, Over budget) for
    // sources "address[!port][@ms]" in turn, given the allowed ranges, the
    // budgets (per source, in all) and the sources kept.
    void gate_data()
    {
        columns<QString, QString, QString, int, QString, QString>("allow", "each", "all", "kept",
                                                                  "sources", "verdicts");
        dataRow("bad sources", "", "9", "9", 9,
                "1.2.3.4!0 255.255.255.255 224.0.0.1 239.255.255.255 ff02::1 0.1.2.3 "
                "223.255.255.255 240.0.0.1 fe80::1",
                "BBBBBBAAA");
        dataRow("ranges at their edges", "192.0.2.0/25, 2001:db8::/32,198.51.100.7", "9", "9", 9,
                "192.0.2.0 192.0.2.127 192.0.2.128 192.0.1.255 ::ffff:192.0.2.9 2001:db8:ffff:: "
                "2001:db9:: 198.51.100.7 198.51.100.8 ::c000:209",
                "AAOOAAOAOO");
        dataRow("a source's bucket refills", "", "2/2", "99", 9,
                "10.0.0.1 10.0.0.1 10.0.0.1 10.0.0.2 10.0.0.1@499 10.0.0.1@500 10.0.0.1@501",
                "AAVAVAV");
        dataRow("the bucket in all", "", "5/1", "2/3", 9,
                "10.0.0.1 10.0.0.2 10.0.0.3 10.0.0.4 10.0.0.1@499 10.0.0.5@500", "AAAVVA");
        dataRow("the idlest forgotten", "", "1/1", "99", 2,
                "10.0.0.1 10.0.0.2 10.0.0.3 10.0.0.1 10.0.0.1 10.0.0.3", "AAAAVV");
    }
    void gate()
    {
        const auto [allow, each, all, kept, sources, verdicts]
            = fetched<QString, QString, QString, int, QString, QString>(
                "allow", "each", "all", "kept", "sources", "verdicts");
        ResponderLimits limits;
        QString why;
        for (const QString &range : allow.split(',', Qt::SkipEmptyParts))
            limits.allow << ReadAddressRange(range.trimmed(), &why).value();
        limits.perSource = ReadAnswerBudget("", each, &why).value();
        limits.total = ReadAnswerBudget("", all, &why).value();
        limits.sourcesKept = kept;
        SourceGate gate(limits);
        QString got;
        for (const QString &source : sources.split(' '))
            got += "ABOV"[int(gate.answer(source.section('@', 0, 0).section('!', 0, 0),
                                          source.contains('!') ? 0 : 7,
                                          source.section('@', 1).toLongLong() * 1000))];
        QCOMPARE(got, verdicts);
        const SourceGate::Minute m = gate.minute();
        QCOMPARE(QString::number(m.badSource.count) + 'B' + QString::number(m.outside.count) + 'O'
                     + QString::number(m.overBudget.count) + 'V',
                 QString("%1B%2O%3V").arg(got.count('B')).arg(got.count('O')).arg(got.count('V')));
        QVERIFY(gate.sourcesKept() <= size_t(kept) && m.outside.examples.size() <= 3);
    }
    // The answer to a request, octet by octet.
    void reply_data()
    {
        columns<QByteArray, QByteArray>("request", "answer");
        const QByteArray base = Sender + Ones;
        dataRow("base: the sender's echoed, MBZ zero", base, Answer);
        dataRow("Z asks for PTP: T2, T3 and the estimate's Z", SenderPtp + Ones,
                "00000007"
                "6553f1252cb41780"
                "c203"
                "beef"
                "6553f1251dcd6500"
                    + Echoed
                    + "ca05"
                      "0000"
                      "40"
                      "000000");
        dataRow("14 octets (TWAMP-Light): the base, SSID 0", Sender.left(28),
                Answer.left(28) + "0000" + Answer.mid(32));
        dataRow("30 octets: the base, zero-filled", Sender + Ones.left(28), Answer);
        dataRow("13 octets: no answer", Sender.left(26), QByteArray());
        dataRow("extra padding: copied", base + "00010004deadbeef", Answer + "00010004deadbeef");
        dataRow("timestamp information: source NTP, T2 software, T3 the program's",
                base + "0003000400000000", Answer + "0003000401020103");
        dataRow("class of service: DSCP 10 as asked, 46 and ECN 1 received",
                base + "0004000428000000", Answer + "000400042ae40000");
        dataRow("class of service: DSCP 12 asked, not used: RP 1", base + "0004000430000000",
                Answer + "0004000432e50000");
        dataRow("unknown type: U set", base + "00c800027879", Answer + "80c800027879");
        dataRow("running past the end: M set, the rest as it came", base + "00010008aabb",
                Answer + "40010008aabb");
        dataRow("known type, wrong length: M set", base + "000300020000", Answer + "400300020000");
        dataRow("fewer octets than a TLV header: copied", base + "ffeedd", Answer + "ffeedd");
        dataRow("a TLV after an unknown one is answered; flags of a good one cleared",
                base
                    + "c0c80000"
                      "0003000400000000",
                Answer
                    + "80c80000"
                      "0003000401020103");
    }
    void reply()
    {
        const auto [request, answer] = fetched<QByteArray, QByteArray>("request", "answer");
        QCOMPARE(Stamp::StampReply(QByteArray::fromHex(request), reflection()).toHex(), answer);
    }

    // NTP stamps both ways (the fraction rounded to the nearest 2^-32 s),
    // and the error estimate: the smallest that covers the error.
    void formats_data()
    {
        columns<qint64, quint64, qint64, quint16>("unixNs", "ntp", "errorNs", "estimate");
        dataRow("1970", qint64(0), quint64(0x83aa7e8000000000), qint64(1), quint16(0x8005));
        dataRow("1 ns", qint64(1), quint64(0x83aa7e8000000004), qint64(59), quint16(0x80fe));
        dataRow("the last ns of a second", qint64(999'999'999), quint64(0x83aa7e80fffffffc),
                qint64(60), quint16(0x8181));
        dataRow("2023", qint64(1'700'000'000'500'000'000), quint64(0xe8fe6f8080000000),
                qint64(16'000'000'000), quint16(0x9d80));
    }
    void formats()
    {
        const auto [unixNs, ntp, errorNs, estimate]
            = fetched<qint64, quint64, qint64, quint16>("unixNs", "ntp", "errorNs", "estimate");
        QCOMPARE(NtpStamp(unixNs), ntp);
        QVERIFY(qAbs(NtpStampNs(ntp) - unixNs) <= 1);
        QCOMPARE(PtpStampNs(PtpStamp(unixNs, 37), 37), unixNs);
        const ErrorEstimate made = EstimateOf(errorNs, true);
        QCOMPARE(PackErrorEstimate(made), estimate);
        QCOMPARE(ReadErrorEstimate(estimate), made);
        QVERIFY(EstimateNs(made) >= errorNs && EstimateNs(made) <= errorNs * 102 / 100 + 4);
    }

    // scapy's sender against the reflector: the reflector's numbers per
    // sender and SSID, the sender's fields echoed, T2 <= T3 within a second
    // of the system clock, the TTL seen, the TLVs answered; the minute's
    // lines when it stops.
    void reflector_data()
    {
        columns<QString, QString>("local", "host");
        dataRow("IPv4 on both families, from the address asked", QString("::"),
                QString("127.0.0.2"));
        dataRow("IPv6 on both families", QString("::"), QString("::1"));
        dataRow("IPv4 only", QString("127.0.0.1"), QString("127.0.0.1"));
        dataRow("IPv6 only", QString("::1"), QString("::1"));
    }
    void reflector()
    {
        if (QProcess::execute("/usr/bin/python3", {"-c", "import scapy.contrib.stamp"}) != 0)
            QSKIP("Debian's python3-scapy is not installed (scripts/ensure-deps installs it)");
        const auto [local, host] = fetched<QString, QString>("local", "host");
        QTemporaryDir dir;
        const quint16 port = freePort(true);
        Headless reflector(
            dir.path(), {"respond", "--stamp", "--port", QString::number(port), "--local", local});
        QByteArray seen;
        QTRY_VERIFY(
            (seen += reflector.readAllStandardOutput())
                .contains(QString("Reflecting test packets on UDP port %1").arg(port).toUtf8()));
        QProcess sender;
        sender.start("/usr/bin/python3",
                     {SELMARIN_STAMPPEER, "probe", host, QString::number(port)});
        QVERIFY(sender.waitForFinished(20000));
        QCOMPARE(sender.exitCode(), 0);
        QList<QJsonObject> got;
        for (const QByteArray &line : sender.readAllStandardOutput().trimmed().split('\n'))
            got << QJsonDocument::fromJson(line).object();
        QCOMPARE(got.size(), 6);
        // sent: {its number, the reflector's, SSID, length}; the last none.
        const int expected[][4]
            = {{5, 0, 9, 74}, {6, 1, 9, 44}, {7, 0, 10, 44}, {100, 0, 9, 44}, {8, 0, 0, 44}};
        for (int i = 0; i < 5; ++i) {
            const QJsonObject &answer = got[i];
            QCOMPARE(answer["seq_sender"].toInt(), expected[i][0]);
            QCOMPARE(answer["seq"].toInt(), expected[i][1]);
            QCOMPARE(answer["ssid"].toInt(), expected[i][2]);
            QCOMPARE(answer["len"].toInt(), expected[i][3]);
            QCOMPARE(answer["src"].toString(), host);
            QCOMPARE(answer["ttl"].toInt(), 77);
            QCOMPARE(answer["dscp"].toInt(), i == 0 ? 10 : 0);
            QVERIFY(answer["echo"].toBool());
            const double t2 = answer["t2"].toDouble(), t3 = answer["t3"].toDouble();
            const double now = answer["now"].toDouble();
            QVERIFY2(t2 <= t3 && qAbs(t2 - now) < 1 && qAbs(t3 - now) < 1,
                     qPrintable(QString("T2 %1 T3 %2 now %3")
                                    .arg(t2, 0, 'f')
                                    .arg(t3, 0, 'f')
                                    .arg(now, 0, 'f')));
        }
        const QString tlvs = got[0]["tlvs"].toString();
        QVERIFY2(QRegularExpression("^0001:70616421 0003:0.02..03 0004:2ae00000 80c8:7879$")
                     .match(tlvs)
                     .hasMatch(),
                 qPrintable(tlvs));
        QVERIFY(!got[5].contains("len"));
        QVERIFY(reflector.endsWith(0, true));
        const QString told = seen + reflector.out();
        const QString from = host.contains(':') ? "[::1]:" : "127.0.0.1:";
        // Whole lines: nothing else was refused.
        for (const char *line :
             {" (SSID 9) in the last minute: 2 packets reflected\n",
              " (SSID 10) in the last minute: 1 packet reflected\n",
              " (SSID 0) in the last minute: 1 packet reflected\n",
              "in the last minute, not answered: 1 too short for a test packet\n"})
            QVERIFY2(told.contains(line), qPrintable(told));
        QCOMPARE(told.count(QRegularExpression("\\(SSID 9\\) in the last minute: 1 packet")), 1);
        QVERIFY2(told.contains("STAMP:\t" + from), qPrintable(told));
    }

    // Beyond the sessions it keeps, the one silent the longest is forgotten
    // (its numbers start again); the others count on.
    void forgotten()
    {
        StampReflector reflector(nullptr, 2);
        int number = 0;
        QString why;
        const quint16 port = freePort(true);
        QVERIFY(reflector.open("127.0.0.1", port, &number, &why));
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress::LocalHost, 0));
        const auto numberFor = [&](quint16 ssid) -> qint64 {
            sender.writeDatagram(Stamp::SenderBytes({1, 2, 3, ssid}), QHostAddress::LocalHost,
                                 port);
            if (!QTest::qWaitFor([&] { return sender.hasPendingDatagrams(); }, 5000))
                return -1;
            const auto answer = Stamp::ReadReflectorPacket(sender.receiveDatagram().data());
            return answer && answer->ssid == ssid ? qint64(answer->seq) : -2;
        };
        QList<qint64> numbers;
        for (const quint16 ssid : {1, 1, 2, 3, 1, 3})
            numbers << numberFor(ssid);
        QCOMPARE(numbers, (QList<qint64>{0, 1, 0, 0, 0, 1}));
        StampReflector::Ignored ignored;
        const std::vector<StampReflector::Session> heard = reflector.minute(&ignored);
        QCOMPARE(ignored.forgotten, 2u);
        QCOMPARE(heard.size(), 2u);
        QCOMPARE(
            QList<quint64>({heard[0].ssid, heard[0].answered, heard[1].ssid, heard[1].answered}),
            QList<quint64>({3, 2, 1, 1}));
    }

    // A datagram query handed over at 1000 µs (its send at 1002, the next
    // send at second), its answer at 1500: moved back by the send path when
    // its transmit stamp (number, at stamp; after the answer: late) is its
    // own, else the program's clock; a second answer is moved alike.
    void queryStamps_data()
    {
        columns<quint64, qint64, quint32, qint64, bool, qint64>("first", "second", "number",
                                                                "stamp", "late", "told");
        const auto row = [](const char *name, quint64 first, qint64 second, quint32 number,
                            qint64 stamp, bool late, qint64 told) {
            dataRow(name, first, second, number, stamp, late, told);
        };
        const quint64 wrap = quint64(1) << 32;
        row("stamped", 0, -1, 0, 1010, false, 1490);
        row("stamped as handed over", 7, -1, 7, 1002, false, 1498);
        row("stamp before its send", 0, -1, 0, 1001, false, 1500);
        row("stamp just under a second", 0, -1, 0, 1001001, false, -998501);
        row("stamp a second late", 0, -1, 0, 1001002, false, 1500);
        row("stamp after the answer", 0, -1, 0, 1010, true, 1500);
        row("stamp of a send not made", 0, -1, 1, 1010, false, 1500);
        row("stamp after the next send", 0, 1005, 0, 1006, false, 1500);
        row("stamp as the next send", 0, 1006, 0, 1006, false, 1494);
        row("counter wrapped since", wrap - 1, 1020, 0xFFFFFFFF, 1010, false, 1490);
        row("counter wrapped at it", wrap, -1, 0, 1010, false, 1490);
    }
    void queryStamps()
    {
        const auto [first, second, number, stamp, late, told]
            = fetched<quint64, qint64, quint32, qint64, bool, qint64>("first", "second", "number",
                                                                      "stamp", "late", "told");
        SendStamps stamps(first);
        QueryClock clock;
        clock.handed(3, 1000, stamps.next());
        QCOMPARE(stamps.sent(1002), first);
        if (second >= 0)
            stamps.sent(second);
        const auto sentAt = [&](quint64 n) { return stamps.at(n); };
        const qint64 early = late ? clock.answered(3, 1500, true, sentAt) : 0;
        stamps.stamped(number, stamp);
        const qint64 at = late ? early : clock.answered(3, 1500, true, sentAt);
        QCOMPARE(at, told);
        QCOMPARE(clock.answered(3, 1600, true, sentAt), told + 100);
        QCOMPARE(clock.answered(4, 1700, false, sentAt), 1700); // never sent
        QCOMPARE(SystemStampsLine(clock.use()),
                 told == 1500 ? "time stamps here: the program's clock for 1 of 1 queries sent "
                                "and 0 of 1 answers received (the system gave no stamp)"
                              : "time stamps here: the system's, of every query sent and "
                                "answer received");
    }

    // The system stamps T2 (the Timestamp Information TLV says "software,
    // local": 2) and the sender's T1 and T4; what it refuses falls back to
    // the program's clock, said.  Every stamp NTP, within a second of now.
    void systemStamps_data()
    {
        columns<int, int, QString>("off", "in", "said"); // refused, the TLV's method of T2
        dataRow("all the system's", 0, 2, QString("1 1 here: the system's, of every"));
        dataRow("SO_TIMESTAMPING refused", 1, 2, QString("0 1 1 of 1 queries sent and 0 of 1"));
        dataRow("both refused", 2, 3, QString("0 0 1 of 1 queries sent and 1 of 1"));
    }
    void systemStamps()
    {
        const auto [off, in, said] = fetched<int, int, QString>("off", "in", "said");
        refusedStamps = off;
        StampReflector reflector(nullptr, StampReflector::MaxSessions, refusing);
        int number = 0;
        QString why;
        const quint16 port = freePort(true);
        QVERIFY(reflector.open("127.0.0.1", port, &number, &why));
        QUdpSocket query;
        const QByteArray info = Stamp::TlvBytes(0, Stamp::TlvType::TimestampInfo, QByteArray(4, 0));
        query.writeDatagram(Stamp::SenderBytes({}) + info, QHostAddress::LocalHost, port);
        QTRY_VERIFY(query.hasPendingDatagrams());
        const QByteArray reply = query.receiveDatagram().data();
        const auto answer = Stamp::ReadReflectorPacket(reply);
        const qint64 t2 = NtpStampNs(answer->receiveTimestamp), t3 = NtpStampNs(answer->timestamp);
        QVERIFY(t2 <= t3 && t3 - t2 < 1e9
                && qAbs(QDateTime::currentMSecsSinceEpoch() * 1e6 - t2) < 1e9);
        QCOMPARE(int(reply[Stamp::BaseBytes + Stamp::TlvHeaderBytes + 1]), in);
        StampSender sender(nullptr, refusing);
        QVERIFY(sender.open("127.0.0.1", port, {}, 0, {}, &number) && sender.send(1, &number));
        const StampFigures &figures = sender.figures();
        QTRY_COMPARE(figures.answers(), 1u);
        const QString told = QString::number(figures.json()["system_stamps_sent"].toInt()) + ' '
                             + QString::number(figures.json()["system_stamps_received"].toInt())
                             + ' ' + figures.summaryLines().join('\n');
        // The counts sent and received of the JSON, then words of the summary.
        QVERIFY2(told.startsWith(said.left(4)) && told.contains(said.mid(4)), qPrintable(told));
    }

    // A line a minute for each session, up to the most told apart; the rest
    // in one line.
    void minuteLines_data()
    {
        columns<int, int>("sessions", "apart");
        dataRow("4096: each told apart", 4096, 4096);
        dataRow("4097: one told with the others", 4097, 4096);
    }
    void minuteLines()
    {
        const auto [sessions, apart] = fetched<int, int>("sessions", "apart");
        ResponderLimits many;
        many.perSource = {1e6, 1e6}; // one sender, thousands of sessions at once
        StampReflector reflector(nullptr, StampReflector::MaxSessions, ::setsockopt, many);
        int number = 0;
        QString why;
        const quint16 port = freePort(true);
        QVERIFY(reflector.open("::1", port, &number, &why));
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress::LocalHostIPv6, 0));
        for (int ssid = 0; ssid < sessions; ++ssid) {
            sender.writeDatagram(Stamp::SenderBytes({1, 2, 3, quint16(ssid)}),
                                 QHostAddress::LocalHostIPv6, port);
            // A few at a time: the system's buffer holds no more.
            if (ssid % 32 == 31 || ssid == sessions - 1)
                QTRY_COMPARE(reflector.answeredTotal(), quint64(ssid + 1));
        }
        struct : MsgSink
        {
            QStringList told;
            void addLine(LineKind, const QString &, const QString &s) override { told << s; }
            void ClearMsgsBox() override {}
        } sink;
        StampLines(reflector, sink).tellMinute();
        QCOMPARE(sink.told.filter(") in the last minute: 1 packet reflected\r\n").size(), apart);
        const QStringList others = sink.told.filter("other session");
        QCOMPARE(others, sessions > apart ? QStringList{"1 other session in the last minute: 1 "
                                                        "packet reflected\r\n"}
                                          : QStringList());
    }

    // A port it cannot have: told why, exit 2.
    void refused_data()
    {
        columns<bool, QString>("nobody", "said");
        dataRow("under 1024 without the privilege", true,
                QString("Cannot reflect on UDP port 862 of [::]: Permission denied (13). A port "
                        "under 1024 needs root or the capability CAP_NET_BIND_SERVICE"));
        dataRow("in use", false, QString("Address already in use (98)"));
    }
    void refused()
    {
        const auto [nobody, said] = fetched<bool, QString>("nobody", "said");
        if (nobody && readFile("/proc/sys/net/ipv4/ip_unprivileged_port_start").toInt() < 1024)
            QSKIP("this system lets anyone bind the ports under 1024");
        QTemporaryDir dir;
        // Its log, where nobody may write it.
        for (const QString &path : {dir.path(), dir.filePath("Selmarin")})
            QVERIFY(QDir().mkpath(path)
                    && QFile::setPermissions(path, QFileDevice::Permissions(0x7777)));
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::Any, 0));
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PROGRAMFILES", dir.path());
        env.insert("COMPUTERNAME", "PC17");
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        if (nobody)
            run.setChildProcessModifier([] {
                ::setgroups(0, nullptr);
                (void) !::setgid(65534);
                (void) !::setuid(65534);
            });
        // Without --port: 862.
        run.start(SELMARIN_PROGRAM, nobody ? QStringList{"respond", "--stamp"}
                                           : QStringList{"respond", "--stamp", "--port",
                                                         QString::number(taken.localPort())});
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitCode(), 2);
        const QString told = QString::fromUtf8(run.readAll());
        QVERIFY2(told.contains("STAMP Error") && told.contains(said), qPrintable(told));
    }

    // The room for waiting datagrams of a reflector and of a UDP responder:
    // 4 MB, beyond the system's most with the privilege to (CAP_NET_ADMIN),
    // else as much as the system lets.
    void receiveRoom_data()
    {
        columns<QString, bool>("kind", "privileged");
        for (const char *kind : {"--stamp", "--udp"}) {
            dataRow(kind, QString(kind), true);
            dataRow(QByteArray(kind) + " without CAP_NET_ADMIN", QString(kind), false);
        }
    }
    void receiveRoom()
    {
        const auto [kind, privileged] = fetched<QString, bool>("kind", "privileged");
        if (privileged && ::geteuid() != 0)
            QSKIP("only root has the privilege here");
        const qint64 most = readFile("/proc/sys/net/core/rmem_max").trimmed().toLongLong();
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("Selmarin"));
        const quint16 port = freePort(true);
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PROGRAMFILES", dir.path());
        run.setProcessEnvironment(env);
        if (!privileged)
            run.setChildProcessModifier([] { ::prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN); });
        run.start(SELMARIN_PROGRAM,
                  {"respond", kind, "--port", QString::number(port), "--local", "127.0.0.1"});
        QTRY_VERIFY(datagramRoom(port) > 0);
        QCOMPARE(datagramRoom(port), privileged ? 8 << 20 : 2 * qMin(qint64(4 << 20), most));
        run.terminate();
        QVERIFY(run.waitForFinished(10000) && run.exitCode() == 0);
    }

    // The loss of each direction, from a reflector that numbers what it
    // receives and answers some: per query a (answered), f (never reached
    // it: not counted) or b (counted, its answer lost), p (answered in PTP
    // format), z (answered as a TWAMP-Light reflector: numbered 0, in 41
    // octets), y (counted, answered in 40 octets: no answer); a line told.
    void lossByDirection_data()
    {
        columns<QString, int, int, int, int, QString>("queries", "forward", "backward", "unknown",
                                                      "status", "told");
        dataRow("all answered, the second in PTP format", QString("apa"), 0, 0, 0, 0,
                QString("seq=2 time=[\\d.]+ ms path=-[12]\\d\\d\\.\\d{3} ms.* ttl=64/64\r"));
        dataRow("forward only", QString("afa"), 1, 0, 0, 1,
                QString("seq=3 .* ttl=64/64 \\(lost since seq=1: 1 forward, 0 backward\\)\r"));
        dataRow("backward only", QString("aba"), 0, 1, 0, 1,
                QString("seq=3 .*\\(lost since seq=1: 0 forward, 1 backward\\)\r"));
        dataRow("mixed, and before the first answer", QString("fabfba"), 2, 2, 0, 1,
                QString("seq=6 .*\\(lost since seq=2: 1 forward, 2 backward\\)\r"));
        dataRow("after the last answer: not known; 40 octets: no answer", QString("aby"), 0, 0, 2,
                1, QString("lost forward 0, backward 0, direction not known 2\r"));
        dataRow("nothing answered", QString("ff"), 0, 0, 2, 1,
                QString("one-way delays left out: no answer\r"));
        dataRow("TWAMP-Light: every answer numbered 0", QString("zfzbf"), 0, 0, 3, 1,
                QString("seq=3 .*\\(1 lost since seq=1, direction not known\\)\r"));
        dataRow("one answer numbered 0: a stateful reflector's first", QString("bzf"), 1, 0, 1, 1,
                QString("seq=2 .*\\(lost since the start: 1 forward, 0 backward\\)\r"));
    }
    void lossByDirection()
    {
        const auto [queries, forward, backward, unknown, status, told]
            = fetched<QString, int, int, int, int, QString>("queries", "forward", "backward",
                                                            "unknown", "status", "told");
        const QString fates = queries; // a structured binding is no lambda's capture
        QUdpSocket fake;
        QVERIFY(fake.bind(QHostAddress::LocalHost, 0));
        quint32 counted = 0;
        connect(&fake, &QUdpSocket::readyRead, &fake, [&] {
            while (fake.hasPendingDatagrams()) {
                const QNetworkDatagram request = fake.receiveDatagram();
                const auto packet = Stamp::ReadSenderPacket(request.data());
                const QChar fate
                    = packet && packet->seq < quint32(fates.size()) ? fates.at(packet->seq) : u'f';
                Stamp::Reflection r = reflection();
                r.seq = fate == u'z' ? 0 : counted;
                counted += fate == u'f' ? 0 : 1;
                QByteArray asked = request.data();
                asked[12] = char(asked[12] | (fate == u'p' ? 0x40 : 0)); // Z: PTP
                if (const qsizetype i = QStringLiteral("apzy").indexOf(fate); i >= 0)
                    fake.writeDatagram(request.makeReply(
                        Stamp::StampReply(asked, r).left(std::array{44, 44, 41, 40}[size_t(i)])));
            }
        });
        QTemporaryDir dir;
        int exit = -1;
        const QJsonObject got = probeStamp(dir.path(), fake.localPort(), queries.size(), &exit);
        QCOMPARE(exit, status);
        QCOMPARE(got["lost"].toInt(), fates.count(u'f') + fates.count(u'b') + fates.count(u'y'));
        QCOMPARE(got["answered"].toInt() + got["lost"].toInt(), queries.size());
        const QString log = QString::fromUtf8(readFile(logIn(dir.path())));
        QVERIFY2(QRegularExpression(told).match(log).hasMatch(), qPrintable(log));
        const QJsonObject stamp = got["stamp"].toObject();
        QCOMPARE(stamp["lost_forward"].toInt(), forward);
        QCOMPARE(stamp["lost_backward"].toInt(), backward);
        QCOMPARE(stamp["lost_direction_unknown"].toInt(), unknown);
        QCOMPARE(stamp.contains("loss_direction_left_out"), queries.count(u'z') > 1);
    }

    // The one-way delays' histograms take only the answers whose clocks are
    // both synchronized, each delay in the first bucket whose bound it does
    // not pass (forward, backward 2 ms: le="0.0025").
    void delayHistogram_data()
    {
        columns<qint64, bool, QString>("forwardNs", "synchronized", "series");
        dataRow("500 us: up to 0.0005", qint64(500'000), true, QString("1 1 0.0005 0 1"));
        dataRow("1 ns more: up to 0.001", qint64(500'001), true, QString("0 1 0.000500001 0 1"));
        dataRow("a clock not synchronized: none", qint64(500'000), false, QString("0 0 0 0 0"));
    }
    void delayHistogram()
    {
        const auto [forwardNs, synchronized, series]
            = fetched<qint64, bool, QString>("forwardNs", "synchronized", "series");
        StampFigures stamp;
        const qint64 t1 = 1'700'000'000'000'000'000, t2 = t1 + forwardNs;
        stamp.add(
            {0, 0, t1, t2, t2 + 10, t2 + 2'000'010, synchronized, synchronized, -1, -1, 3000});
        QCOMPARE(stamp.json()["one_way_error_ms"].toDouble(), synchronized ? 0.003 : 0.0);
        const ProbeFigures probe;
        const QString page = ProbeMetrics({{"t", &probe, &stamp, {}}});
        // In the page's order: forward's buckets and sum, backward's buckets.
        const QRegularExpressionMatch got
            = QRegularExpression(
                  "forward\",le=\"0.0005\"} (\\d+)\n.*forward\",le=\"0.001\"} (\\d+)\n"
                  "[^#]*_sum[^}]*forward\"} (\\S+)\n[^#]*backward\",le=\"0.001\"} "
                  "(\\d+)\n.*backward\",le=\"0.0025\"} (\\d+)\n")
                  .match(page);
        QCOMPARE(got.capturedTexts().mid(1).join(' '), series);
    }

    // Through a router that drops at random the test packets of one
    // direction only (all but the last query's, whose loss no sender could
    // place): the losses each way, as the sender reads them from the
    // reflector's numbers, are what the router's counter dropped.  Senders
    // and reflectors, ours and scapy's (stateful, or TWAMP-Light: every
    // loss's direction not known), on the default port 862.  Our sender's
    // round trip is at least the round trip less the reflector's time, at
    // least 0; a hop each way; one-way delays only with both clocks
    // synchronized (else the reason).
    void router_data()
    {
        columns<QString, QString, bool, bool>("sender", "reflector", "ipv6", "dropsBackward");
        for (const auto &[sender, reflector, ipv6, back] :
             {std::tuple{"our", "scapy's", false, false},
              {"our", "scapy's", true, true},
              {"scapy's", "our", false, true},
              {"scapy's", "our", true, false},
              {"our", "our", false, true},
              {"our", "our", true, false},
              {"our", "a TWAMP-Light", false, false}})
            QTest::addRow("%s sender, %s reflector, IPv%c, %s drops", sender, reflector,
                          ipv6 ? '6' : '4', back ? "backward" : "forward")
                << QString(sender) << QString(reflector) << ipv6 << back;
    }
    void router()
    {
        const auto [sender, reflector, ipv6, dropsBackward]
            = fetched<QString, QString, bool, bool>("sender", "reflector", "ipv6", "dropsBackward");
        if (geteuid() != 0 || QProcess::execute("/usr/bin/python3", {"-c", "import scapy"}) != 0)
            QSKIP("needs root and Debian's python3-scapy (scripts/ensure-deps)");
        const int count = 30;
        const QString name = "selm-st" + QString::number(QCoreApplication::applicationPid());
        const QString client = name + "-c", router = name + "-r", server = name + "-s";
        const auto gone = qScopeGuard([&] {
            QProcess::execute("/usr/bin/python3", {SELMARIN_STAMPPEER, "path", "down", name});
        });
        QCOMPARE(QProcess::execute("/usr/bin/python3", {SELMARIN_STAMPPEER, "path", "up", name,
                                                        dropsBackward ? "backward" : "forward",
                                                        QString::number(count - 1)}),
                 0);
        const QString far = ipv6 ? "fd78:2::2" : "10.78.2.2";
        QTemporaryDir dir;
        std::unique_ptr<Headless> ours;
        QProcess scapy;
        if (reflector == "our") {
            ours
                = std::make_unique<Headless>(dir.path(), QStringList{"respond", "--stamp"}, server);
            QVERIFY(ours->waitForReadyRead(10000) && ours->out().contains("port 862"));
        } else {
            scapy.start(
                "ip", QStringList{"netns", "exec", server, "/usr/bin/python3", SELMARIN_STAMPPEER,
                                  "reflect", far, "862"}
                          + (reflector == "a TWAMP-Light" ? QStringList{"light"} : QStringList()));
            QVERIFY(scapy.waitForReadyRead(10000));
        }
        QList<int> lost; // forward, backward, not known
        if (sender == "our") {
            int status = -1;
            const QJsonObject got = probeStamp(dir.path(), 862, count, &status, far, client);
            QCOMPARE(status, 1);
            const QJsonObject stamp = got["stamp"].toObject();
            lost = {stamp["lost_forward"].toInt(), stamp["lost_backward"].toInt(),
                    stamp["lost_direction_unknown"].toInt()};
            const double net = stamp["rtt_less_reflector_ms"]["min"].toDouble();
            QVERIFY(got["rtt_ms"]["min"].toDouble() >= net && net >= 0
                    && stamp["reflector_ms"]["min"].toDouble() >= 0);
            QCOMPARE(QList<int>({stamp["ttl_at_reflector"].toInt(), stamp["ttl_here"].toInt()}),
                     QList<int>({254, 63}));
            QCOMPARE(stamp.contains("one_way_left_out"), stamp["forward_ms"].isNull());
        } else {
            const QJsonObject got
                = QJsonDocument::fromJson(
                      inHost(client, {"/usr/bin/python3", SELMARIN_STAMPPEER, "send", far, "862",
                                      QString::number(count), "0.05"}))
                      .object();
            lost = {got["forward"].toInt(), got["backward"].toInt(), got["after"].toInt()};
            QCOMPARE(got["ttls"].toArray(), QJsonArray{63});
        }
        if (ours)
            QVERIFY(ours->endsWith(0, true));
        scapy.kill();
        scapy.waitForFinished();
        const QByteArray rules = inHost(router, {"nft", "list", "chain", "inet", "s", "fw"});
        const int dropped = rules.mid(rules.indexOf("packets ") + 8).split(' ').value(0).toInt();
        QVERIFY2(dropped > 0, rules.constData());
        QCOMPARE(lost, reflector == "a TWAMP-Light" ? QList<int>({0, 0, dropped})
                       : dropsBackward              ? QList<int>({0, dropped, 0})
                                                    : QList<int>({dropped, 0, 0}));
    }

    // Every AutoPing query dropped by the router (its counter: each query's
    // two datagrams, numbered and plain), and answers forged on the router
    // with the target's address: all lost, every forged one foreign.
    void forgedAutoPingAnswers_data()
    {
        columns<bool>("ipv6");
        dataRow("IPv4", false);
        dataRow("IPv6", true);
    }
    void forgedAutoPingAnswers()
    {
        QFETCH(bool, ipv6);
        if (geteuid() != 0 || QProcess::execute("/usr/bin/python3", {"-c", "import scapy"}) != 0)
            QSKIP("needs root and Debian's python3-scapy (scripts/ensure-deps)");
        const QString name = "selm-fa" + QString::number(QCoreApplication::applicationPid());
        const auto gone = qScopeGuard([&] {
            QProcess::execute("/usr/bin/python3", {SELMARIN_STAMPPEER, "path", "down", name});
        });
        QCOMPARE(QProcess::execute("/usr/bin/python3",
                                   {SELMARIN_STAMPPEER, "path", "up", name, "autoping", "0"}),
                 0);
        const QString far = ipv6 ? "fd78:2::2" : "10.78.2.2",
                      near = ipv6 ? "fd78:1::2" : "10.78.1.2";
        QTemporaryDir dir;
        Headless responder(dir.path(), {"respond", "--udp", "--port", "7010"}, name + "-s");
        QVERIFY(responder.waitForReadyRead(10000));
        Headless probe(dir.path(),
                       {"probe", "--udp", far, "7010", "-c", "8", "-i", "0.4", "-W", "0.5",
                        "--local-port", "7011", "--json"},
                       name + "-c");
        // scapy's start takes longer than the probe's: its socket is there.
        const int forged = inHost(name + "-r", {"/usr/bin/python3", SELMARIN_STAMPPEER, "forge",
                                                far, near, "7011"})
                               .trimmed()
                               .toInt();
        QVERIFY(probe.endsWith(1) && responder.endsWith(0, true));
        const QJsonObject got
            = QJsonDocument::fromJson(probe.readAllStandardOutput())["targets"][0].toObject();
        QCOMPARE(QList<int>({got["answered"].toInt(), got["lost"].toInt(), got["foreign"].toInt()}),
                 QList<int>({0, 8, 12}));
        QCOMPARE(forged, 12);
        const QByteArray rules = inHost(name + "-r", {"nft", "list", "chain", "inet", "s", "fw"});
        QCOMPARE(rules.mid(rules.indexOf("packets ") + 8).split(' ').value(0).toInt(), 16);
    }
};

QTEST_GUILESS_MAIN(TestStamp)
#include "tst_stamp.moc"
