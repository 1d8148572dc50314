// The dotted address rules (CheckIP) and the broadcast test (CheckIsBcst)
// against fixed adapter snapshots.

#include "adaptertext.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"

#include <QtTest>

namespace {

const QString kUntouched = QStringLiteral("<as passed>");
const QString kFirst = "Only numbers between:\r\n1 - 126\r\n..and..\r\n128 - 223..\r\nare valid in the 1st octet";
const QString kBcst = "Broadcast IP addresses are not supported";

QString octet(const QString &text)
{
    return text + " is not a valid octet value; \r\n"
                  "Only numbers between:\r\n0\r\n..and..\r\n255..\r\nare valid in the 2nd - 4th octets";
}

QString errorLine(const char *number, const char *procedure, const char *description)
{
    return QStringLiteral("** Error 0x%1:\t in mdlMain.%2; %3\r\n").arg(number, procedure, description);
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

// The address, the answer, the message (kUntouched: as passed), the error
// line written on the way.  One adapter 192.0.2.10 / 255.255.255.0.
void TestCheckIP::rules_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("errorLine");
    const auto row = [](const char *ip, bool answer, const QString &message, const QString &line = {}) {
        QTest::newRow(ip) << QString::fromLatin1(ip) << answer << message << line;
    };

    const auto rows = [&](bool answer, const QString &message, std::initializer_list<const char *> ips) {
        for (const char *ip : ips)
            row(ip, answer, message);
    };
    row("192.0.2.10", false, "Cannot connect to yourself");
    // The own address only as exact text; leading zeros; the first octet's bounds.
    rows(true, kUntouched, {"192.0.2.010", "010.1.1.1", "1.1.1.1", "126.1.1.1", "128.1.1.1", "223.1.1.1", "1.2.3.4.5"});
    rows(false, kFirst, {"0.1.2.3", "255.1.2.3"});
    row("127.0.0.1", false, "LocalHost IP addresses (127.x.x.x) are not valid");
    rows(false, "Multicast IP addresses (224.x.x.x - 239.x.x.x) are not supported", {"224.0.0.1", "239.255.255.250"});
    rows(false, "Class 'D' IP addresses (240.x.x.x) are not supported", {"240.0.0.1", "254.1.1.1"});
    rows(false, kBcst, {"192.0.2.255", "172.16.5.0", "1.2.3.255.5"});
    row("300.1.1.1", false, kUntouched, errorLine("6", "CheckIP", "Overflow"));
    row(".1.2.3", false, kUntouched, errorLine("D", "CheckIP", "Type mismatch"));
    row("", false, kUntouched, errorLine("D", "CheckIP", "Type mismatch"));
    row("10.256.0.1", false, octet("256"));
    row("10.999.300.1", false, octet("999")); // the first bad octet wins
    row("1.2.3.4.300", false, octet("300"));
    row("10.1.1.", false, octet(QString()));
    row("10.0.300.255", false, octet("300")); // range before broadcast
    row("10.1.1", false, kBcst, errorLine("9", "CheckIsBcst", "Subscript out of range"));
}

void TestCheckIP::rules()
{
    QFETCH(QString, ip);
    QFETCH(bool, answer);
    QFETCH(QString, message);
    QFETCH(QString, errorLine);
    TestGlobals t;
    Globals::instance().adapterSet = Adapters("192.0.2.10|255.255.255.0");
    QString got = kUntouched;
    QCOMPARE(CheckIP(ip, got), answer);
    QCOMPARE(got, message);
    QCOMPARE(t.sink.text(), errorLine);
}

void TestCheckIP::withoutSnapshot()
{
    TestGlobals t;
    QString got = kUntouched;
    QVERIFY(!CheckIP("10.0.0.1", got));
    QCOMPARE(got, kUntouched);
    QVERIFY(CheckIsBcst(QStringList{"10", "0", "0", "1"}));
    const char *notSet = "Object variable or With block variable not set";
    QCOMPARE(t.sink.text(), errorLine("5B", "CheckIP", notSet) + errorLine("5B", "CheckIsBcst", notSet));
}

// The adapters (see Adapters()), the address, whether it counts as broadcast,
// the error line on the way.
void TestCheckIP::broadcast_data()
{
    QTest::addColumn<QString>("adapters");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QString>("errorLine");
    const auto row = [](const char *adapters, const char *ip, bool broadcast, const QString &line = {}) {
        QTest::addRow("%s %s", adapters, ip) << QString(adapters) << QString(ip) << broadcast << line;
    };
    const char *s24 = "192.0.2.10|255.255.255.0", *s16 = "192.0.2.10|255.255.0.0";
    const char *s25 = "192.0.2.10|255.255.255.128", *s0 = "192.0.2.10|0.0.0.0";
    const char *hostOnly = "192.0.2.10|255.255.255.255;198.51.100.7|255.255.255.255";
    const char *emptyMasks = "192.0.2.10|_;198.51.100.7|_";
    const char *two = "192.0.2.10|255.255.255.0;10.1.2.3|255.255.0.0";

    const auto rows = [&](const char *adapters, bool broadcast, std::initializer_list<const char *> ips) {
        for (const char *ip : ips)
            row(adapters, ip, broadcast);
    };
    rows(s24, true, {"192.0.2.0", "203.0.113.255"}); // any network
    rows(s24, false, {"192.0.2.1", "1.2.3.4.5"});
    rows(s16, true, {"10.1.0.255", "10.1.255.255", "10.1.0.0"});
    rows(s16, false, {"10.1.2.255"});
    rows(s25, true, {"10.0.0.0", "10.0.0.127", "10.0.0.128", "10.0.0.255"});
    rows(s25, false, {"10.0.0.5", "10.0.0.129"});
    rows(s0, false, {"10.0.0.1"});
    rows(s0, true, {"255.255.255.255"});
    rows(hostOnly, false, {"10.0.0.255", "192.0.2.0", "10.1.1"});
    rows(emptyMasks, true, {"10.0.0.1", "10.1.1"});
    rows("", true, {"10.0.0.1"});
    rows("|255.255.255.0", true, {"10.0.0.1"});
    rows("|255.255.255.0;192.0.2.10|255.255.255.255", false, {"10.0.0.255"});
    rows(two, false, {"10.1.0.127", "10.1.255.7"});
    rows(two, true, {"10.9.0.255"});
    row(s24, "10.1.1", true, errorLine("9", "CheckIsBcst", "Subscript out of range"));
    row("192.0.2.10|255.255.255", "10.0.0.1", true, errorLine("9", "CheckIsBcst", "Subscript out of range"));
    row("192.0.2.10|255.255.x.0", "10.0.0.1", true, errorLine("D", "CheckIsBcst", "Type mismatch"));
    row("192.0.2.10|255.255.256.0", "10.0.0.1", true, errorLine("6", "CheckIsBcst", "Overflow"));
    row("192.0.2.10|255.255.255.0,bad", "10.0.0.255", true); // found before the bad mask
}

void TestCheckIP::broadcast()
{
    QFETCH(QString, adapters);
    QFETCH(QString, ip);
    QFETCH(bool, broadcast);
    QFETCH(QString, errorLine);
    TestGlobals t;
    Globals::instance().adapterSet = Adapters(adapters);
    QCOMPARE(CheckIsBcst(ip.split(u'.')), broadcast);
    QCOMPARE(t.sink.text(), errorLine);
}

QTEST_GUILESS_MAIN(TestCheckIP)
#include "tst_checkip.moc"
