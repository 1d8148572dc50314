// The start-up check for a connected adapter, the list of own addresses, and
// the adapter snapshot that this machine's interface list gives.

#include "adaptertext.h"

#include "netenv/adapters.h"
#include "netenv/localadapters.h"
#include "startup/globals.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

namespace {

const QString kNoConnection = "I can't find an active network connection; check your connections and restart me.";
const QString kNamespace = QStringLiteral("selm-test-%1").arg(QCoreApplication::applicationPid());

// "ip args...", true when it succeeded within ten seconds.
bool Ip(const QStringList &args)
{
    QProcess process;
    process.start("ip", args);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The adapters as the system source sees them inside the test's namespace,
// queried on a thread of its own that has entered it.
bool QueryInNamespace(AdapterSet &adapters)
{
    bool ok = false;
    std::thread worker([&] {
        const int fd = ::open(QFile::encodeName("/var/run/netns/" + kNamespace).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && setns(fd, CLONE_NEWNET) == 0) {
            adapters = SystemAdapterSource().query();
            ok = true;
        }
        if (fd >= 0)
            ::close(fd);
    });
    worker.join();
    return ok;
}

bool IsDottedQuad(const QString &text)
{
    QHostAddress address;
    return text.count(u'.') == 3 && address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol
           && address.toString() == text;
}

} // namespace

class TestLocalAdapters : public QObject
{
    Q_OBJECT

private slots:
    void checkConnected_data();
    void checkConnected();
    void checkConnectedFailure();
    void getLocIPs();
    void getLocIPsFailure();
    void systemSnapshot();
    void namespaceSnapshot();
};

// The adapters (see Adapters()) and whether one counts as connected: any
// adapter with a non-empty mask.
void TestLocalAdapters::checkConnected_data()
{
    QTest::addColumn<QString>("adapters");
    QTest::addColumn<bool>("connected");
    QTest::newRow("no adapter") << "" << false;
    QTest::newRow("only empty masks") << "192.0.2.10|_;198.51.100.1|_,_" << false;
    QTest::newRow("no addresses or masks") << "|" << false;
    QTest::newRow("0.0.0.0 mask") << "0.0.0.0|0.0.0.0" << true;
    QTest::newRow("host mask") << "192.0.2.10|255.255.255.255" << true;
    QTest::newRow("mask on the second adapter") << "192.0.2.10|_;198.51.100.1|_,255.255.255.0" << true;
    QTest::newRow("mask without address") << "|255.255.0.0" << true;
}

void TestLocalAdapters::checkConnected()
{
    QFETCH(QString, adapters);
    QFETCH(bool, connected);
    TestGlobals t;
    t.adapters->adapters = Adapters(adapters);
    QCOMPARE(CheckConnected(), connected);
    QCOMPARE(t.dialogs->messages, connected ? QStringList() : QStringList{kNoConnection});
    QVERIFY(t.sink.lines.isEmpty());
    // The snapshot is kept whatever the answer.
    QCOMPARE(Globals::instance().adapterSet, std::optional(Adapters(adapters)));
}

void TestLocalAdapters::checkConnectedFailure()
{
    TestGlobals t;
    t.adapters->fail = true;
    QVERIFY(!CheckConnected());
    QVERIFY(t.dialogs->messages.isEmpty());
    QVERIFY(!Globals::instance().adapterSet.has_value());
    QCOMPARE(t.sink.text(), "** Error 0x80041003:\t in mdlMain.CheckConnected; Access denied\r\ngetting IP-enabled NICs");
}

// Every address in adapter order, duplicates kept, read afresh at every call
// while the snapshot stays as CheckConnected took it.
void TestLocalAdapters::getLocIPs()
{
    TestGlobals t;
    QStringList &ips = Globals::instance().LocIPs;
    t.adapters->adapters = Adapters("192.0.2.10|255.255.255.0");
    QVERIFY(CheckConnected());
    t.adapters->adapters = Adapters("192.0.2.10,192.0.2.11|255.255.255.0;198.51.100.1,192.0.2.10|");
    ips = QStringList{"stale"};
    QVERIFY(GetLocIPs());
    QCOMPARE(ips, (QStringList{"192.0.2.10", "192.0.2.11", "198.51.100.1", "192.0.2.10"}));
    t.adapters->adapters = Adapters("0.0.0.0|0.0.0.0");
    QVERIFY(GetLocIPs());
    QCOMPARE(ips, QStringList{"0.0.0.0"});
    QCOMPARE(*Globals::instance().adapterSet, Adapters("192.0.2.10|255.255.255.0"));
    QCOMPARE(t.adapters->queries, 3);
    t.adapters->adapters.clear();
    QVERIFY(!GetLocIPs());
    QVERIFY(ips.isEmpty());
    QVERIFY(t.sink.lines.isEmpty());
}

void TestLocalAdapters::getLocIPsFailure()
{
    TestGlobals t;
    Globals::instance().LocIPs = QStringList{"192.0.2.10"};
    t.adapters->fail = true;
    QVERIFY(!GetLocIPs());
    QVERIFY(Globals::instance().LocIPs.isEmpty());
    QCOMPARE(t.sink.text(), "** Error 0x80041003:\t in mdlMain.GetLocIPs; Access denied\r\n");
}

// This machine's own interface list: no loopback, dotted IPv4 addresses with
// one mask each, the same addresses Qt sees on the interfaces that are up,
// and the same answer twice in a row.
void TestLocalAdapters::systemSnapshot()
{
    const AdapterSet adapters = SystemAdapterSource().query();
    QStringList seen, expected;
    for (const Adapter &adapter : adapters) {
        QVERIFY(!adapter.IPAddress.isEmpty());
        QCOMPARE(adapter.IPSubnet.size(), adapter.IPAddress.size());
        for (const QString &address : adapter.IPAddress)
            QVERIFY2(IsDottedQuad(address) && !QHostAddress(address).isLoopback(), qPrintable(address));
        for (const QString &mask : adapter.IPSubnet)
            QVERIFY2(mask.isEmpty() || IsDottedQuad(mask), qPrintable(mask));
        seen += adapter.IPAddress;
    }
    for (const QNetworkInterface &nic : QNetworkInterface::allInterfaces()) {
        if ((nic.flags() & QNetworkInterface::IsUp) && !(nic.flags() & QNetworkInterface::IsLoopBack)) {
            for (const QNetworkAddressEntry &entry : nic.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    expected.append(entry.ip().toString());
        }
    }
    seen.sort();
    expected.sort();
    QCOMPARE(seen, expected);
    QCOMPARE(SystemAdapterSource().query(), adapters);
}

// A namespace of the test's own: with loopback only there is no adapter and
// the start-up check fails with its message box.  Then one interface up with
// two IPv4 addresses (one a labelled alias) and an IPv6 one, its peer down
// with an address, a second pair up with IPv6 only: only the first counts.
void TestLocalAdapters::namespaceSnapshot()
{
    if (geteuid() != 0)
        QSKIP("needs root to make a network namespace");
    if (!Ip({"netns", "add", kNamespace}))
        QSKIP("cannot make a network namespace here");
    const auto cleanup = qScopeGuard([] { Ip({"netns", "del", kNamespace}); });
    const auto in = [](const QString &command) { return Ip(QStringList{"-n", kNamespace} + command.split(u' ')); };
    QVERIFY(in("link set lo up"));

    AdapterSet adapters;
    QVERIFY(QueryInNamespace(adapters));
    QVERIFY(adapters.isEmpty());
    {
        TestGlobals t;
        t.adapters->adapters = adapters;
        QVERIFY(!CheckConnected());
        QCOMPARE(t.dialogs->messages, QStringList{kNoConnection});
    }
    for (const char *command : {"link add sa type veth peer name sb", "link add sc type veth peer name sd",
                                "addr add 192.0.2.1/24 dev sa", "addr add 198.51.100.1/16 dev sa label sa:1",
                                "addr add 2001:db8::1/64 dev sa nodad", "addr add 203.0.113.1/24 dev sb",
                                "addr add 2001:db8:1::1/64 dev sc nodad", "link set sa up", "link set sc up"})
        QVERIFY2(in(command), command);
    QVERIFY(QueryInNamespace(adapters));
    QCOMPARE(adapters, Adapters("192.0.2.1,198.51.100.1|255.255.255.0,255.255.0.0"));
}

QTEST_GUILESS_MAIN(TestLocalAdapters)
#include "tst_localadapters.moc"
