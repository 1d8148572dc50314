// The host text rules: characters, NetBIOS names, domain names, the machine's
// own names, and the hand-over of dotted addresses to CheckIP.

#include "adaptertext.h"

#include "netenv/checkaddress.h"
#include "startup/globals.h"

#include <QtTest>

namespace {

const QString kUntouched = QStringLiteral("<as passed>");
const QString kChars = "Remote addresses must contain only characters matching:\r\n"
                       "0-9, A-Z, a-z, \".\", \"-\", \"_\", \r\nno spaces and only one \".\" at a time";
const QString kSelf = "Cannot connect to yourself";
const QString kTld = "TLD cannot be numeric";
const QString kNetBios = "NetBIOS names must be less than 15 characters";
const QString kDomain = "CORP.EXAMPLE.COM";

} // namespace

class TestCheckAddress : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void ownNamesAreReadAtEveryCall();
};

// The text, the DNS domain, the answer, the message (kUntouched: as passed),
// the error line on the way.  The machine is PC17 with one adapter
// 192.0.2.10 / 255.255.255.0.
void TestCheckAddress::rules_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("errorLine");
    const auto row = [](const char *name, const QString &address, bool answer, const QString &message,
                        const QString &domain = kDomain, const QString &line = {}) {
        QTest::newRow(name) << address << domain << answer << message << line;
    };

    // Named by the text itself: rows that share the answer and the message.
    const auto rows = [](bool answer, const QString &message, std::initializer_list<const char *> texts) {
        for (const char *text : texts)
            QTest::newRow(text) << QString(text) << kDomain << answer << message << QString();
    };
    row("empty", QString(), false, "You must select a remote server");
    rows(false, kChars, {"my host", "host ", "host:80", "a\tb", "host..", "10..0.1"}); // blanks are not trimmed
    row("nul", QString(QChar(0)), false, kChars);
    row("accented letter", QStringLiteral("h\u00f6st"), false, kChars);
    row("kelvin sign", QStringLiteral("\u212aey"), false, kChars);
    rows(true, kUntouched, {".host", "my_host-1.example.org", "127", "pc170", "pc17.corp", "host.e3", "host.1e", "host.",
                            "1.111.222.233.5", "10.0.0.1"});
    row("netbios 15", QString(15, u'n'), true, kUntouched);
    row("netbios 16", QString(16, u'n'), false, kNetBios);
    row("netbios digits 16", QString(16, u'1'), false, kNetBios);
    rows(false, kSelf, {"pc17", "Pc17.Corp.Example.Com", "192.0.2.10"});
    row("own name without domain", "PC17", false, kSelf, QString());
    row("full name without domain", "pc17.corp.example.com", true, kUntouched, QString());
    row("own name with dot, no domain", "pc17.", true, kUntouched, QString());
    rows(false, kTld, {"host.example.123", "host.-5", "host.1e3", "1234.5.6.7", "111.222.333.444.5", "1.111.222.233.244.5"});
    row("fqdn 128", QString(124, u'a') + ".com", true, kUntouched);
    row("fqdn 129", QString(125, u'a') + ".com", false, "FQDN addresses must be less than 128 chars");
    row("fqdn 129 numeric tld", QString(125, u'a') + ".123", false, kTld);
    // Dotted addresses go to CheckIP.
    row("two octets", "10.1", false, "Broadcast IP addresses are not supported", kDomain,
        "** Error 0x9:\t in mdlMain.CheckIsBcst; Subscript out of range\r\n");
    row("three groups are an address", "111.222.333.444", false,
        "333 is not a valid octet value; \r\nOnly numbers between:\r\n0\r\n..and..\r\n"
        "255..\r\nare valid in the 2nd - 4th octets");
    row("loopback", "127.0.0.1", false, "LocalHost IP addresses (127.x.x.x) are not valid");
    row("CheckIP fails", "300.1.1.1", false, kUntouched, kDomain,
        "** Error 0x6:\t in mdlMain.CheckIP; Overflow\r\n");
}

void TestCheckAddress::rules()
{
    QFETCH(QString, address);
    QFETCH(QString, domain);
    QFETCH(bool, answer);
    QFETCH(QString, message);
    QFETCH(QString, errorLine);
    TestGlobals t;
    t.env->variables.insert("COMPUTERNAME", "PC17");
    t.env->variables.insert("USERDNSDOMAIN", domain);
    Globals::instance().adapterSet = Adapters("192.0.2.10|255.255.255.0");
    QString got = kUntouched;
    QCOMPARE(CheckAddress(address, got), answer);
    QCOMPARE(got, message);
    QCOMPARE(t.sink.text(), errorLine);
}

void TestCheckAddress::ownNamesAreReadAtEveryCall()
{
    TestGlobals t;
    t.env->variables.insert("COMPUTERNAME", "PC17");
    QString got;
    QVERIFY(!CheckAddress("pc17", got));
    t.env->variables.insert("COMPUTERNAME", "PC18");
    QVERIFY(CheckAddress("pc17", got));
}

QTEST_GUILESS_MAIN(TestCheckAddress)
#include "tst_checkaddress.moc"
