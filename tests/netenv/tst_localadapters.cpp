// The start-up check for a connected adapter, the list of own addresses, and
// the adapter snapshot that this machine's interface list gives.

#include "support/fakes.h"

#include "netenv/adapters.h"
#include "netenv/localadapters.h"
#include "startup/globals.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

namespace {

const QString kNoConnection = QStringLiteral(
    "I can't find an active network connection; check your connections and restart me.");

using AdapterRows = QList<QPair<QStringList, QStringList>>;

AdapterSet toSet(const AdapterRows &rows)
{
    AdapterSet set;
    for (const auto &row : rows)
        set.append(MakeAdapter(row.first, row.second));
    return set;
}

bool isDottedQuad(const QString &text)
{
    static const QRegularExpression quad(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const auto match = quad.match(text);
    if (!match.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (match.captured(i).toInt() > 255)
            return false;
    }
    return true;
}

// A network namespace of the test's own, deleted when the scope ends.  Needs
// root and the ip tool; every command has a time limit.
class Namespace
{
public:
    Namespace() : m_name(QStringLiteral("selm-test-%1").arg(QCoreApplication::applicationPid())) {}
    ~Namespace()
    {
        if (m_made)
            ip({QStringLiteral("netns"), QStringLiteral("del"), m_name});
    }

    bool make()
    {
        m_made = ip({QStringLiteral("netns"), QStringLiteral("add"), m_name});
        return m_made;
    }

    // "ip -n <name> args...", true when it succeeded.
    bool in(const QStringList &args)
    {
        return ip(QStringList{QStringLiteral("-n"), m_name} + args);
    }

    // The adapters as the system source sees them inside the namespace: the
    // query runs on a thread of its own that has entered it.
    AdapterSet query(bool *ok) const
    {
        AdapterSet adapters;
        *ok = false;
        const QByteArray path = QFile::encodeName(QStringLiteral("/var/run/netns/") + m_name);
        std::thread worker([&] {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            if (setns(fd, CLONE_NEWNET) == 0) {
                adapters = SystemAdapterSource().query();
                *ok = true;
            }
            ::close(fd);
        });
        worker.join();
        return adapters;
    }

private:
    static bool ip(const QStringList &args)
    {
        QProcess process;
        process.start(QStringLiteral("ip"), args);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(1000);
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QString m_name;
    bool m_made = false;
};

} // namespace

class TestLocalAdapters : public QObject
{
    Q_OBJECT

private slots:
    void checkConnected_data();
    void checkConnected();
    void checkConnectedFailure();
    void getLocIPsKeepsOrder();
    void getLocIPsRereadsEveryCall();
    void getLocIPsFailure();
    void systemSnapshot();
    void namespaceSnapshot();
};

void TestLocalAdapters::checkConnected_data()
{
    QTest::addColumn<AdapterRows>("adapters");
    QTest::addColumn<bool>("connected");

    const QStringList addr{QStringLiteral("192.0.2.10")};
    QTest::newRow("no adapter") << AdapterRows{} << false;
    QTest::newRow("only empty masks")
        << AdapterRows{{addr, {QString()}}, {{QStringLiteral("198.51.100.1")}, {QString(), QString()}}} << false;
    QTest::newRow("adapter without addresses or masks") << AdapterRows{{{}, {}}} << false;
    QTest::newRow("0.0.0.0 mask") << AdapterRows{{{QStringLiteral("0.0.0.0")}, {QStringLiteral("0.0.0.0")}}}
                                  << true;
    QTest::newRow("host mask") << AdapterRows{{addr, {QStringLiteral("255.255.255.255")}}} << true;
    QTest::newRow("mask on the second adapter")
        << AdapterRows{{addr, {QString()}}, {{QStringLiteral("198.51.100.1")}, {QString(), QStringLiteral("255.255.255.0")}}}
        << true;
    QTest::newRow("mask without address") << AdapterRows{{{}, {QStringLiteral("255.255.0.0")}}} << true;
}

void TestLocalAdapters::checkConnected()
{
    QFETCH(AdapterRows, adapters);
    QFETCH(bool, connected);

    TestGlobals t;
    t.adapters->adapters = toSet(adapters);
    QCOMPARE(CheckConnected(), connected);
    QCOMPARE(t.dialogs->messages, connected ? QStringList() : QStringList{kNoConnection});
    QVERIFY(t.sink.lines.isEmpty());
    // The snapshot is kept whatever the answer.
    QVERIFY(Globals::instance().adapterSet.has_value());
    QCOMPARE(*Globals::instance().adapterSet, toSet(adapters));
    QCOMPARE(t.adapters->queries, 1);
}

void TestLocalAdapters::checkConnectedFailure()
{
    TestGlobals t;
    t.adapters->fail = true;
    QVERIFY(!CheckConnected());
    QVERIFY(t.dialogs->messages.isEmpty());
    QVERIFY(!Globals::instance().adapterSet.has_value());
    QCOMPARE(t.sink.lines.size(), 1);
    QCOMPARE(t.sink.lines[0].speaker, QStringLiteral("** Error 0x80041003"));
    QCOMPARE(t.sink.lines[0].sentence,
             QStringLiteral(" in mdlMain.CheckConnected; Access denied\r\ngetting IP-enabled NICs"));
}

void TestLocalAdapters::getLocIPsKeepsOrder()
{
    TestGlobals t;
    t.adapters->adapters = toSet({
        {{QStringLiteral("192.0.2.10"), QStringLiteral("192.0.2.11")}, {QStringLiteral("255.255.255.0")}},
        {{QStringLiteral("198.51.100.1"), QStringLiteral("192.0.2.10")}, {}},
    });
    Globals::instance().LocIPs = {QStringLiteral("stale")};
    const QStringList expected{QStringLiteral("192.0.2.10"), QStringLiteral("192.0.2.11"),
                               QStringLiteral("198.51.100.1"), QStringLiteral("192.0.2.10")};
    QVERIFY(GetLocIPs());
    QCOMPARE(Globals::instance().LocIPs, expected);
    QVERIFY(GetLocIPs());
    QCOMPARE(Globals::instance().LocIPs, expected);
    QVERIFY(t.sink.lines.isEmpty());

    t.adapters->adapters = toSet({{{QStringLiteral("0.0.0.0")}, {QStringLiteral("0.0.0.0")}}});
    QVERIFY(GetLocIPs());
    QCOMPARE(Globals::instance().LocIPs, QStringList{QStringLiteral("0.0.0.0")});
}

// The snapshot stays as CheckConnected took it; the address list is read
// afresh at every call.
void TestLocalAdapters::getLocIPsRereadsEveryCall()
{
    TestGlobals t;
    t.adapters->adapters = toSet({{{QStringLiteral("192.0.2.10")}, {QStringLiteral("255.255.255.0")}}});
    QVERIFY(CheckConnected());
    QVERIFY(GetLocIPs());
    t.adapters->adapters = toSet({{{QStringLiteral("198.51.100.1")}, {QStringLiteral("255.255.255.0")}}});
    QVERIFY(GetLocIPs());
    QCOMPARE(Globals::instance().LocIPs, QStringList{QStringLiteral("198.51.100.1")});
    QCOMPARE(Globals::instance().adapterSet->first().IPAddress, QStringList{QStringLiteral("192.0.2.10")});
    QCOMPARE(t.adapters->queries, 3);

    t.adapters->adapters.clear();
    QVERIFY(!GetLocIPs());
    QVERIFY(Globals::instance().LocIPs.isEmpty());
}

void TestLocalAdapters::getLocIPsFailure()
{
    TestGlobals t;
    Globals::instance().LocIPs = {QStringLiteral("192.0.2.10")};
    t.adapters->fail = true;
    QVERIFY(!GetLocIPs());
    QVERIFY(Globals::instance().LocIPs.isEmpty());
    QCOMPARE(t.sink.text(), QStringLiteral("** Error 0x80041003:\t in mdlMain.GetLocIPs; Access denied\r\n"));
}

// This machine's own interface list: no loopback, only dotted IPv4 addresses
// and masks, one mask per address, the same addresses Qt sees on the
// interfaces that are up.
void TestLocalAdapters::systemSnapshot()
{
    const AdapterSet adapters = SystemAdapterSource().query();
    QStringList seen;
    for (const Adapter &adapter : adapters) {
        QVERIFY(!adapter.IPAddress.isEmpty());
        QCOMPARE(adapter.IPSubnet.size(), adapter.IPAddress.size());
        for (const QString &address : adapter.IPAddress) {
            QVERIFY2(isDottedQuad(address), qPrintable(address));
            QVERIFY2(!QHostAddress(address).isLoopback(), qPrintable(address));
            seen.append(address);
        }
        for (const QString &mask : adapter.IPSubnet)
            QVERIFY2(mask.isEmpty() || isDottedQuad(mask), qPrintable(mask));
    }

    QStringList expected;
    for (const QNetworkInterface &nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : nic.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                expected.append(entry.ip().toString());
        }
    }
    seen.sort();
    expected.sort();
    QCOMPARE(seen, expected);

    // Two reads in a row list the same adapters in the same order.
    QCOMPARE(SystemAdapterSource().query(), adapters);
}

// A namespace made for the test: loopback up, one interface up with two IPv4
// addresses (one of them a labelled alias) and an IPv6 one, its peer down
// with an address, and a second pair up with IPv6 only.  Only the first
// interface is an adapter.  With nothing but loopback, there is no adapter
// and the start-up check fails with its message box.
void TestLocalAdapters::namespaceSnapshot()
{
    if (geteuid() != 0)
        QSKIP("needs root to make a network namespace");
    Namespace ns;
    if (!ns.make())
        QSKIP("cannot make a network namespace here");
    QVERIFY(ns.in({"link", "set", "lo", "up"}));

    bool ok = false;
    AdapterSet onlyLoopback = ns.query(&ok);
    QVERIFY(ok);
    QVERIFY(onlyLoopback.isEmpty());
    {
        TestGlobals t;
        t.adapters->adapters = onlyLoopback;
        QVERIFY(!CheckConnected());
        QCOMPARE(t.dialogs->messages, QStringList{kNoConnection});
    }

    QVERIFY(ns.in({"link", "add", "sa", "type", "veth", "peer", "name", "sb"}));
    QVERIFY(ns.in({"link", "add", "sc", "type", "veth", "peer", "name", "sd"}));
    QVERIFY(ns.in({"addr", "add", "192.0.2.1/24", "dev", "sa"}));
    QVERIFY(ns.in({"addr", "add", "198.51.100.1/16", "dev", "sa", "label", "sa:1"}));
    QVERIFY(ns.in({"addr", "add", "2001:db8::1/64", "dev", "sa", "nodad"}));
    QVERIFY(ns.in({"addr", "add", "203.0.113.1/24", "dev", "sb"}));
    QVERIFY(ns.in({"addr", "add", "2001:db8:1::1/64", "dev", "sc", "nodad"}));
    QVERIFY(ns.in({"link", "set", "sa", "up"}));
    QVERIFY(ns.in({"link", "set", "sc", "up"}));

    const AdapterSet adapters = ns.query(&ok);
    QVERIFY(ok);
    const AdapterSet expected{MakeAdapter({QStringLiteral("192.0.2.1"), QStringLiteral("198.51.100.1")},
                                          {QStringLiteral("255.255.255.0"), QStringLiteral("255.255.0.0")})};
    QCOMPARE(adapters, expected);
}

QTEST_GUILESS_MAIN(TestLocalAdapters)
#include "tst_localadapters.moc"
