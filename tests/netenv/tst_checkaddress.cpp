// The host text rules: characters, NetBIOS names, domain names, the machine's
// own names, and the hand-over of dotted addresses to CheckIP.

#include "support/fakes.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"
#include "startup/msgsink.h"

#include <QtTest>

namespace {

const QString kUntouched = QStringLiteral("<as passed>");

const QString kCharacters = QStringLiteral("Remote addresses must contain only characters matching:\r\n"
                                           "0-9, A-Z, a-z, \".\", \"-\", \"_\", \r\n"
                                           "no spaces and only one \".\" at a time");
const QString kYourself = QStringLiteral("Cannot connect to yourself");
const QString kTld = QStringLiteral("TLD cannot be numeric");
const QString kNetBios = QStringLiteral("NetBIOS names must be less than 15 characters");
const QString kFqdn = QStringLiteral("FQDN addresses must be less than 128 chars");
const QString kBroadcast = QStringLiteral("Broadcast IP addresses are not supported");

// A domain name of exactly the given length ending in ".com".
QString domainOfLength(int length)
{
    return QString(length - 4, u'a') + QStringLiteral(".com");
}

} // namespace

class TestCheckAddress : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void characterMessageHasThreeLines();
    void ownNamesAreReadAtEveryCall();
    void failureInCheckIPLeavesMessage();
};

// Every row: the text, the machine's names, the answer and the message
// (kUntouched when the message must stay as the caller passed it).  The
// machine has one adapter 192.0.2.10 / 255.255.255.0.
void TestCheckAddress::rules_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("message");

    auto row = [&](const char *name, const QString &address, bool answer, const QString &message,
                   const QString &domain = QStringLiteral("CORP.EXAMPLE.COM")) {
        QTest::newRow(name) << address << domain << answer << message;
    };

    row("empty", QString(), false, QStringLiteral("You must select a remote server"));

    // Characters
    row("blank inside", QStringLiteral("my host"), false, kCharacters);
    row("blank only", QStringLiteral(" "), false, kCharacters);
    row("trailing blank not trimmed", QStringLiteral("host "), false, kCharacters);
    row("slash", QStringLiteral("host/1"), false, kCharacters);
    row("colon", QStringLiteral("host:80"), false, kCharacters);
    row("tab", QStringLiteral("a\tb"), false, kCharacters);
    row("nul", QString(QChar(0)), false, kCharacters);
    row("accented letter", QStringLiteral("h\u00f6st"), false, kCharacters);
    row("kelvin sign", QStringLiteral("\u212aey"), false, kCharacters);
    row("dot run", QStringLiteral("a..b"), false, kCharacters);
    row("trailing dot run", QStringLiteral("host.."), false, kCharacters);
    row("dots only", QStringLiteral(".."), false, kCharacters);
    row("digits with dot run", QStringLiteral("10..0.1"), false, kCharacters);
    row("leading dot", QStringLiteral(".host"), true, kUntouched);
    row("underscore and hyphen", QStringLiteral("my_host-1.example.org"), true, kUntouched);

    // NetBIOS names
    row("netbios", QStringLiteral("SERVER-01"), true, kUntouched);
    row("netbios 15", QString(15, u'n'), true, kUntouched);
    row("netbios 16", QString(16, u'n'), false, kNetBios);
    row("netbios all digits", QStringLiteral("12345"), true, kUntouched);
    row("netbios loopback digits", QStringLiteral("127"), true, kUntouched);
    row("netbios digits 16", QString(16, u'1'), false, kNetBios);
    row("own name lower", QStringLiteral("pc17"), false, kYourself);
    row("own name upper", QStringLiteral("PC17"), false, kYourself);
    row("own name without domain", QStringLiteral("pc17"), false, kYourself, QString());
    row("longer than own name", QStringLiteral("pc170"), true, kUntouched);

    // Domain names
    row("own full name", QStringLiteral("pc17.corp.example.com"), false, kYourself);
    row("own full name mixed case", QStringLiteral("Pc17.Corp.Example.Com"), false, kYourself);
    row("partial own name", QStringLiteral("pc17.corp"), true, kUntouched);
    row("full name without domain", QStringLiteral("pc17.corp.example.com"), true, kUntouched, QString());
    row("own name with dot, no domain", QStringLiteral("pc17."), true, kUntouched, QString());
    row("numeric tld", QStringLiteral("host.example.123"), false, kTld);
    row("negative tld", QStringLiteral("host.-5"), false, kTld);
    row("exponent tld", QStringLiteral("host.1e3"), false, kTld);
    row("letter tld", QStringLiteral("host.e3"), true, kUntouched);
    row("half exponent tld", QStringLiteral("host.1e"), true, kUntouched);
    row("ends with dot", QStringLiteral("host."), true, kUntouched);
    row("four digit run", QStringLiteral("1234.5.6.7"), false, kTld);
    row("four three-digit groups", QStringLiteral("111.222.333.444.5"), false, kTld);
    row("four groups after a short one", QStringLiteral("1.111.222.233.244.5"), false, kTld);
    row("three groups after a short one", QStringLiteral("1.111.222.233.5"), true, kUntouched);
    row("fqdn 128", domainOfLength(128), true, kUntouched);
    row("fqdn 129", domainOfLength(129), false, kFqdn);
    row("fqdn 129 numeric tld", QString(125, u'a') + QStringLiteral(".123"), false, kTld);

    // Dotted addresses go to CheckIP
    row("address", QStringLiteral("10.0.0.1"), true, kUntouched);
    row("own address", QStringLiteral("192.0.2.10"), false, kYourself);
    row("two octets", QStringLiteral("10.1"), false, kBroadcast);
    row("three groups are an address", QStringLiteral("111.222.333.444"), false,
        QStringLiteral("333 is not a valid octet value; \r\nOnly numbers between:\r\n0\r\n..and..\r\n"
                       "255..\r\nare valid in the 2nd - 4th octets"));
    row("loopback", QStringLiteral("127.0.0.1"), false,
        QStringLiteral("LocalHost IP addresses (127.x.x.x) are not valid"));
}

void TestCheckAddress::rules()
{
    QFETCH(QString, address);
    QFETCH(QString, domain);
    QFETCH(bool, answer);
    QFETCH(QString, message);

    TestGlobals t;
    t.env->variables.insert(QStringLiteral("COMPUTERNAME"), QStringLiteral("PC17"));
    t.env->variables.insert(QStringLiteral("USERDNSDOMAIN"), domain);
    Globals::instance().adapterSet = AdapterSet{
        MakeAdapter({QStringLiteral("192.0.2.10")}, {QStringLiteral("255.255.255.0")})};

    QString got = kUntouched;
    QCOMPARE(CheckAddress(address, got), answer);
    QCOMPARE(got, message);
}

void TestCheckAddress::characterMessageHasThreeLines()
{
    TestGlobals t;
    QString got;
    QVERIFY(!CheckAddress(QStringLiteral("a b"), got));
    const QStringList lines = got.split(CRLF);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("Remote addresses must contain only characters matching:"));
    QCOMPARE(lines[1].size(), 30);
    QVERIFY(lines[1].endsWith(u' '));
    QCOMPARE(lines[2], QStringLiteral("no spaces and only one \".\" at a time"));
    QVERIFY(!got.contains(QStringLiteral("\n\n")) && got.count(u'\r') == 2);
}

void TestCheckAddress::ownNamesAreReadAtEveryCall()
{
    TestGlobals t;
    t.env->variables.insert(QStringLiteral("COMPUTERNAME"), QStringLiteral("PC17"));
    QString got;
    QVERIFY(!CheckAddress(QStringLiteral("pc17"), got));
    t.env->variables.insert(QStringLiteral("COMPUTERNAME"), QStringLiteral("PC18"));
    got.clear();
    QVERIFY(CheckAddress(QStringLiteral("pc17"), got));
    QVERIFY(got.isEmpty());
    QVERIFY(t.sink.lines.isEmpty());
}

// A first octet that cannot be a byte is CheckIP's failure: its error line,
// false, and the caller's message as it was.
void TestCheckAddress::failureInCheckIPLeavesMessage()
{
    TestGlobals t;
    Globals::instance().adapterSet = AdapterSet{};
    QString got = kUntouched;
    QVERIFY(!CheckAddress(QStringLiteral("300.1.1.1"), got));
    QCOMPARE(got, kUntouched);
    QCOMPARE(t.sink.lines.size(), 1);
    QCOMPARE(t.sink.lines[0].speaker, QStringLiteral("** Error 0x6"));
    QCOMPARE(t.sink.lines[0].sentence, QStringLiteral(" in mdlMain.CheckIP; Overflow\r\n"));
}

QTEST_GUILESS_MAIN(TestCheckAddress)
#include "tst_checkaddress.moc"
