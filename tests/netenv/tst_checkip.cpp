// The dotted address rules (CheckIP) and the broadcast test (CheckIsBcst)
// against fixed adapter snapshots.

#include "support/fakes.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"

#include <QtTest>

namespace {

const QString kUntouched = QStringLiteral("<as passed>");

const QString kFirstOctet = QStringLiteral(
    "Only numbers between:\r\n1 - 126\r\n..and..\r\n128 - 223..\r\nare valid in the 1st octet");
const QString kOctet = QStringLiteral(
    "Only numbers between:\r\n0\r\n..and..\r\n255..\r\nare valid in the 2nd - 4th octets");
const QString kBroadcast = QStringLiteral("Broadcast IP addresses are not supported");

QString octetMessage(const QString &octet)
{
    return octet + QStringLiteral(" is not a valid octet value; ") + QStringLiteral("\r\n") + kOctet;
}

AdapterSet standardAdapter()
{
    return {MakeAdapter({QStringLiteral("192.0.2.10")}, {QStringLiteral("255.255.255.0")})};
}

} // namespace

class TestCheckIP : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void withoutSnapshot();
    void broadcast_data();
    void broadcast();
};

// Rows: the address, the answer, the message (kUntouched: as passed), and the
// error line written on the way ("" for none).  One adapter 192.0.2.10 with
// the mask 255.255.255.0.
void TestCheckIP::rules_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("errorLine");

    auto row = [](const char *name, const char *ip, bool answer, const QString &message,
                  const QString &errorLine = QString()) {
        QTest::newRow(name) << QString::fromLatin1(ip) << answer << message << errorLine;
    };

    // Own address: exact text only
    row("own address", "192.0.2.10", false, QStringLiteral("Cannot connect to yourself"));
    row("own address other spelling", "192.0.2.010", true, kUntouched);

    // First octet
    row("first 0", "0.1.2.3", false, kFirstOctet);
    row("first 255", "255.1.2.3", false, kFirstOctet);
    row("first 127", "127.0.0.1", false, QStringLiteral("LocalHost IP addresses (127.x.x.x) are not valid"));
    const QString multicast = QStringLiteral("Multicast IP addresses (224.x.x.x - 239.x.x.x) are not supported");
    row("first 224", "224.0.0.1", false, multicast);
    row("first 239", "239.255.255.250", false, multicast);
    const QString classD = QStringLiteral("Class 'D' IP addresses (240.x.x.x) are not supported");
    row("first 240", "240.0.0.1", false, classD);
    row("first 254", "254.1.1.1", false, classD);
    row("first 1", "1.1.1.1", true, kUntouched);
    row("first 126", "126.1.1.1", true, kUntouched);
    row("first 128", "128.1.1.1", true, kUntouched);
    row("first 223", "223.1.1.1", true, kUntouched);
    row("first leading zeros", "010.1.1.1", true, kUntouched);
    row("first 300", "300.1.1.1", false, kUntouched,
        QStringLiteral("** Error 0x6:\t in mdlMain.CheckIP; Overflow\r\n"));
    row("first empty", ".1.2.3", false, kUntouched,
        QStringLiteral("** Error 0xD:\t in mdlMain.CheckIP; Type mismatch\r\n"));
    row("empty text", "", false, kUntouched,
        QStringLiteral("** Error 0xD:\t in mdlMain.CheckIP; Type mismatch\r\n"));

    // Octet range
    row("last 300", "10.0.0.300", false, octetMessage(QStringLiteral("300")));
    row("second 256", "10.256.0.1", false, octetMessage(QStringLiteral("256")));
    row("first bad octet wins", "10.999.300.1", false, octetMessage(QStringLiteral("999")));
    row("fifth 300", "1.2.3.4.300", false, octetMessage(QStringLiteral("300")));
    row("trailing dot", "10.1.1.", false, octetMessage(QString()));
    row("inner empty", "10..1.1", false, octetMessage(QString()));
    row("range before broadcast", "10.0.300.255", false, octetMessage(QStringLiteral("300")));

    // Broadcast
    row("subnet broadcast", "192.0.2.255", false, kBroadcast);
    row("subnet zero", "192.0.2.0", false, kBroadcast);
    row("other net .255", "10.0.0.255", false, kBroadcast);
    row("other net .0", "172.16.5.0", false, kBroadcast);
    row("host", "192.0.2.1", true, kUntouched);
    row("other host", "10.0.0.1", true, kUntouched);
    row("five octets", "1.2.3.4.5", true, kUntouched);
    row("five octets, broadcast in the first four", "1.2.3.255.5", false, kBroadcast);
    row("three octets", "10.1.1", false, kBroadcast,
        QStringLiteral("** Error 0x9:\t in mdlMain.CheckIsBcst; Subscript out of range\r\n"));
}

void TestCheckIP::rules()
{
    QFETCH(QString, ip);
    QFETCH(bool, answer);
    QFETCH(QString, message);
    QFETCH(QString, errorLine);

    TestGlobals t;
    Globals::instance().adapterSet = standardAdapter();
    QString got = kUntouched;
    QCOMPARE(CheckIP(ip, got), answer);
    QCOMPARE(got, message);
    QCOMPARE(t.sink.text(), errorLine);
}

void TestCheckIP::withoutSnapshot()
{
    TestGlobals t;
    QString got = kUntouched;
    QVERIFY(!CheckIP(QStringLiteral("10.0.0.1"), got));
    QCOMPARE(got, kUntouched);
    QCOMPARE(t.sink.text(), QStringLiteral("** Error 0x5B:\t in mdlMain.CheckIP; "
                                           "Object variable or With block variable not set\r\n"));

    t.sink.lines.clear();
    QVERIFY(CheckIsBcst(QStringLiteral("10.0.0.1").split(u'.')));
    QCOMPARE(t.sink.text(), QStringLiteral("** Error 0x5B:\t in mdlMain.CheckIsBcst; "
                                           "Object variable or With block variable not set\r\n"));
}

// Rows: adapters as lists of (addresses, masks), the address, whether it
// counts as broadcast, and the error line on the way.
using AdapterRows = QList<QPair<QStringList, QStringList>>;

void TestCheckIP::broadcast_data()
{
    QTest::addColumn<AdapterRows>("adapters");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QString>("errorLine");

    const QStringList one{QStringLiteral("192.0.2.10")};
    auto single = [&](const char *mask) {
        return AdapterRows{{one, {QString::fromLatin1(mask)}}};
    };
    auto row = [](const char *name, const AdapterRows &adapters, const char *ip, bool broadcast,
                  const QString &errorLine = QString()) {
        QTest::newRow(name) << adapters << QString::fromLatin1(ip) << broadcast << errorLine;
    };

    const AdapterRows s24 = single("255.255.255.0");
    row("/24 .255", s24, "192.0.2.255", true);
    row("/24 .0", s24, "192.0.2.0", true);
    row("/24 host", s24, "192.0.2.1", false);
    row("/24 any network", s24, "203.0.113.255", true);

    const AdapterRows s16 = single("255.255.0.0");
    row("/16 x.x.0.255", s16, "10.1.0.255", true);
    row("/16 x.x.2.255", s16, "10.1.2.255", false);
    row("/16 x.x.255.255", s16, "10.1.255.255", true);
    row("/16 x.x.0.0", s16, "10.1.0.0", true);

    const AdapterRows s25 = single("255.255.255.128");
    row("/25 .0", s25, "10.0.0.0", true);
    row("/25 .127", s25, "10.0.0.127", true);
    row("/25 .128", s25, "10.0.0.128", true);
    row("/25 .255", s25, "10.0.0.255", true);
    row("/25 .5", s25, "10.0.0.5", false);
    row("/25 .129", s25, "10.0.0.129", false);

    const AdapterRows s0 = single("0.0.0.0");
    row("mask 0.0.0.0 host", s0, "10.0.0.1", false);
    row("mask 0.0.0.0 all ones", s0, "255.255.255.255", true);

    const AdapterRows hostOnly{{one, {QStringLiteral("255.255.255.255")}},
                               {{QStringLiteral("198.51.100.7")}, {QStringLiteral("255.255.255.255")}}};
    row("only /32 .255", hostOnly, "10.0.0.255", false);
    row("only /32 .0", hostOnly, "192.0.2.0", false);
    row("only /32 three octets", hostOnly, "10.1.1", false);

    const AdapterRows emptyMasks{{one, {QString()}}, {{QStringLiteral("198.51.100.7")}, {QString()}}};
    row("only empty masks", emptyMasks, "10.0.0.1", true);
    row("only empty masks three octets", emptyMasks, "10.1.1", true);
    row("no adapters", AdapterRows{}, "10.0.0.1", true);
    row("mask without address", AdapterRows{{{}, {QStringLiteral("255.255.255.0")}}}, "10.0.0.1", true);
    row("mask without address, /32 elsewhere",
        AdapterRows{{{}, {QStringLiteral("255.255.255.0")}}, {one, {QStringLiteral("255.255.255.255")}}},
        "10.0.0.255", false);

    const AdapterRows two{{one, {QStringLiteral("255.255.255.0")}},
                          {{QStringLiteral("10.1.2.3")}, {QStringLiteral("255.255.0.0")}}};
    row("neither mask", two, "10.1.0.127", false);
    row("neither mask, ones under /16", two, "10.1.255.7", false);
    row("second adapter /16 broadcast", two, "10.9.0.255", true);

    row("three octets", s24, "10.1.1", true,
        QStringLiteral("** Error 0x9:\t in mdlMain.CheckIsBcst; Subscript out of range\r\n"));
    row("five octets", s24, "1.2.3.4.5", false);
    row("short mask", single("255.255.255"), "10.0.0.1", true,
        QStringLiteral("** Error 0x9:\t in mdlMain.CheckIsBcst; Subscript out of range\r\n"));
    row("mask part not a number", single("255.255.x.0"), "10.0.0.1", true,
        QStringLiteral("** Error 0xD:\t in mdlMain.CheckIsBcst; Type mismatch\r\n"));
    row("mask part above 255", single("255.255.256.0"), "10.0.0.1", true,
        QStringLiteral("** Error 0x6:\t in mdlMain.CheckIsBcst; Overflow\r\n"));
    row("broadcast found before a bad mask",
        AdapterRows{{one, {QStringLiteral("255.255.255.0"), QStringLiteral("bad")}}}, "10.0.0.255", true);
}

void TestCheckIP::broadcast()
{
    QFETCH(AdapterRows, adapters);
    QFETCH(QString, ip);
    QFETCH(bool, broadcast);
    QFETCH(QString, errorLine);

    TestGlobals t;
    AdapterSet set;
    for (const auto &adapter : adapters)
        set.append(MakeAdapter(adapter.first, adapter.second));
    Globals::instance().adapterSet = set;

    QCOMPARE(CheckIsBcst(ip.split(u'.')), broadcast);
    QCOMPARE(t.sink.text(), errorLine);
}

QTEST_GUILESS_MAIN(TestCheckIP)
#include "tst_checkip.moc"
