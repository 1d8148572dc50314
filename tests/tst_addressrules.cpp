// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Which remote host texts the program accepts, and the reason it gives for
// each one it refuses.  The machine is PC17 in CORP.EXAMPLE.COM.  (Random
// texts: the fuzz corpus is replayed through the fuzz targets as a test of
// its own in the fuzzing build.)

#include "fixture.h"

namespace {

const QString Chars
    = "Remote addresses must contain only characters matching:\r\n"
      "0-9, A-Z, a-z, \".\", \"-\", \"_\", \r\nno spaces and only one \".\" at a time";
const QString Self = "Cannot connect to yourself";
const QString Tld = "TLD cannot be numeric";
const QString First
    = "Only numbers between:\r\n1 - 126\r\n..and..\r\n128 - 223..\r\nare valid in the 1st octet";
const QString Bcst = "Broadcast IP addresses are not supported";
const QString Failed = "-"; // refused without a reason: the failure is reported instead

QString octet(const QString &text)
{
    return text
           + " is not a valid octet value; \r\n"
             "Only numbers between:\r\n0\r\n..and..\r\n255..\r\nare valid in the 2nd - 4th octets";
}

QString errorLine(const char *number, const char *procedure, const char *description)
{
    return QStringLiteral("** Error 0x%1:\t in mdlMain.%2; %3\r\n")
        .arg(number, procedure, description);
}

} // namespace

class TestAddressRules : public QObject
{
    Q_OBJECT

private slots:
    // The adapters (as in Setup), the text, the reason (none: accepted), and
    // the failure reported on the way.
    void rules_data()
    {
        columns<QString, QString, QString, QString>("adapters", "text", "reason", "report");
        const char *s24 = "192.0.2.10|255.255.255.0";
        const auto row = [&](const QString &text, const QString &reason, const QString &report = {},
                             const char *adapters = nullptr) {
            QTest::addRow("%s %s", adapters ? adapters : "", qPrintable(text.left(40)))
                << QString(adapters ? adapters : s24) << text << reason << report;
        };
        const auto rows = [&](const QString &reason, std::initializer_list<QString> texts,
                              const char *adapters = nullptr) {
            for (const QString &text : texts)
                row(text, reason, {}, adapters);
        };
        row("", "You must select a remote server");
        // Blanks are not trimmed; letters outside ASCII do not pass, even the Kelvin sign.
        rows(Chars, {"my host", "host ", "host:80", "host..", "10..0.1",
                     QStringLiteral("h\u00f6st"), QStringLiteral("\u212aey"), QString(QChar(0))});
        rows({}, {".host", "my_host-1.example.org", "127", "pc170", "pc17.corp", "host.e3", "host.",
                  "1.111.222.233.5", QString(15, u'n'), QString(124, u'a') + ".com", "10.0.0.1",
                  "192.0.2.010", "010.1.1.1", "126.1.1.1", "128.1.1.1", "223.1.1.1", "1.2.3.4.5"});
        row(QString(16, u'n'), "NetBIOS names must be less than 15 characters");
        row(QString(125, u'a') + ".com", "FQDN addresses must be less than 128 chars");
        rows(Self, {"pc17", "Pc17.Corp.Example.Com", "192.0.2.10"});
        rows(Tld,
             {"host.example.123", "host.1e3", "111.222.333.444.5", QString(125, u'a') + ".123"});
        rows(First, {"0.1.2.3", "255.1.2.3"});
        row("127.0.0.1", "LocalHost IP addresses (127.x.x.x) are not valid");
        rows("Multicast IP addresses (224.x.x.x - 239.x.x.x) are not supported",
             {"224.0.0.1", "239.255.255.250"});
        rows("Class 'D' IP addresses (240.x.x.x) are not supported", {"240.0.0.1", "254.1.1.1"});
        row("10.256.0.1", octet("256"));
        row("10.999.300.1", octet("999")); // the first bad octet
        row("111.222.333.444", octet("333"));
        row("10.1.1.", octet(QString()));
        row("10.0.300.255", octet("300")); // before the broadcast test
        row("300.1.1.1", Failed, errorLine("6", "CheckIP", "Overflow"));
        row(".1.2.3", Failed, errorLine("D", "CheckIP", "Type mismatch"));
        row("10.1.1", Bcst, errorLine("9", "CheckIsBcst", "Subscript out of range"));
        // Broadcast: under any of the machine's masks, every octet's host
        // bits all ones or all zeros, whatever the network.
        rows(Bcst, {"192.0.2.255", "203.0.113.0", "172.16.5.0", "1.2.3.255.5"});
        rows(Bcst, {"10.1.0.255", "10.1.255.0"}, "192.0.2.10|255.255.0.0");
        rows({}, {"10.1.2.255"}, "192.0.2.10|255.255.0.0");
        rows(Bcst, {"10.0.0.127", "10.0.0.128"}, "192.0.2.10|255.255.255.128");
        rows({}, {"10.0.0.129"}, "192.0.2.10|255.255.255.128");
        rows({}, {"10.1.2.255", "10.1.1"}, "192.0.2.10|255.255.255.255"); // host masks never match
        rows(Bcst, {"10.0.0.1"}, "192.0.2.10|_"); // no mask tested: all count
        row("10.9.0.255", Bcst, {}, "192.0.2.10|255.255.255.0;10.1.2.3|255.255.0.0");
        row("10.1.0.127", {}, {}, "192.0.2.10|255.255.255.0;10.1.2.3|255.255.0.0");
        row("10.0.0.1", Bcst, errorLine("D", "CheckIsBcst", "Type mismatch"),
            "192.0.2.10|255.255.x.0");
        row("10.0.0.1", Bcst, errorLine("9", "CheckIsBcst", "Subscript out of range"),
            "192.0.2.10|255.255.255");
        // IPv6 literals: recognised by their colon, judged against the own
        // IPv6 addresses; an IPv4-mapped one by the IPv4 rules.  Those
        // addresses leave the IPv4 rules as they were.
        const char *v6 = "192.0.2.10,2001:db8::10,fe80::10%lo|255.255.255.0";
        rows({},
             {"2001:db8::7", "[2001:DB8::7]", "fd00::1", "64:ff9b::192.0.2.1", "fe80::10%eth0",
              "[fe80::1%1]", "::ffff:10.0.0.1", "10.0.0.1"},
             v6);
        rows(Chars,
             {"2001:db8::g", "1::2::3", ":::", "[2001:db8::7", "[2001:db8::7]:80", "fe80::1%",
              "fe80::1%e 0", "2001:db8::7 ", "[[::7]]", "1.2.3.4:80"},
             v6);
        rows(Self, {"2001:db8:0::10", "[fe80::10%lo]", "fe80::10%1", "::ffff:c000:20a"}, v6);
        rows(Bcst, {"10.0.0.255", "::ffff:192.0.2.255"}, v6);
        rows("Unspecified IPv6 addresses (::) are not valid", {"::", "[0::0]"}, v6);
        rows("LocalHost IPv6 addresses (::1) are not valid", {"::1", "[0:0::1]"}, v6);
        rows("LocalHost IP addresses (127.x.x.x) are not valid", {"::ffff:127.0.0.1"}, v6);
        rows("Multicast IPv6 addresses (ff00::/8) are not supported", {"ff02::1", "ff0e::1%lo"},
             v6);
        rows("Link-local IPv6 addresses (fe80::/10) need a zone, e.g. fe80::1%eth0",
             {"fe80::1", "[febf::1]"}, v6);
        row("::ffff:300.1.1.1", Chars, {}, v6);
        rows(Bcst, {"10.0.0.1"}, "2001:db8::10|"); // IPv6 only: no mask tested
    }
    void rules()
    {
        const auto [adapters, text, reason]
            = fetched<QString, QString, QString>("adapters", "text", "reason");
        Program program({.adapters = adapters, .dnsDomain = "CORP.EXAMPLE.COM", .headless = true});
        const QString untouched = "<untouched>";
        QString got = untouched;
        QCOMPARE(program.checkAddress(text, &got), reason.isEmpty());
        QCOMPARE(got, reason.isEmpty() || reason == Failed ? untouched : reason);
        QTEST(program.pane(), "report");
    }
};

QTEST_GUILESS_MAIN(TestAddressRules)
#include "tst_addressrules.moc"
