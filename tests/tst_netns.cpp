// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Hosts of their own: network namespaces made for the run (their names carry
// the process id), with copies of the program in them: the window
// (support/copy.cpp) and the program without a window (respond, probe).
// The adapters a copy finds on its host, and AutoPing between hosts, the
// copies steering each other by waiting for lines in each other's logs.
// Needs root and `ip`; without them the test says SKIP and why.

#include "fixture.h"

#include <QStandardPaths>

#include <unistd.h>

namespace {

const QString Names = QStringLiteral("selm%1").arg(getpid());
const QString Server = Names + "s", Client = Names + "c";
const QString ServerIP = "10.213.7.1", ClientIP = "10.213.7.2";
const QString ServerIP6 = "fd00:213:7::1", ClientIP6 = "fd00:213:7::2";
// The server host's second addresses, which the system would not pick as
// the source of an answer.
const QString ServerIP2 = "10.213.7.3", ServerIP6b = "fd00:213:7::3", ServerIP3 = "10.213.7.4";
// The client host's own hosts file: a name with an IPv6 address only.
const QString HostsDir = "/etc/netns/" + Client, V6Name = "v6peer", Both = "bothpeer";
const QString Missed = "AutoPing:\tFailed to receive a response.\r\n";

// address:port as the lines write it.
QString hostPort(const QString &address, const QString &port)
{
    return (address.contains(u':') ? '[' + address + ']' : address) + ':' + port;
}

// A copy in a namespace, with its program folder and steps.
struct Copy : QProcess
{
    Copy(const QString &ns, const QString &folder, const QStringList &steps)
    {
        start("ip", QStringList{"netns", "exec", ns, SELMARIN_COPY, folder} + steps);
    }
    // Ended by itself, every step done.
    bool ended()
    {
        const bool done = waitForFinished(60000) && exitStatus() == NormalExit && exitCode() == 0;
        if (!done)
            qWarning("copy: %s", readAllStandardError().constData());
        return done;
    }
};

} // namespace

class TestNetns : public QObject
{
    Q_OBJECT

    QStringList made;

    bool addHost(const QString &name)
    {
        made << name;
        return ip("netns add " + name) && ip("-n " + name + " link set lo up");
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("network namespaces need root");
        if (QStandardPaths::findExecutable("ip").isEmpty())
            QSKIP("the ip program (iproute2) is not installed");
        QVERIFY(addHost(Server) && addHost(Client));
        for (const QString &step :
             {"-n " + Server + " link add veth0 type veth peer name veth0 netns " + Client,
              "-n " + Server + " addr add " + ServerIP + "/24 dev veth0",
              "-n " + Client + " addr add " + ClientIP + "/24 dev veth0",
              "-n " + Server + " addr add " + ServerIP6 + "/64 dev veth0 nodad",
              "-n " + Client + " addr add " + ClientIP6 + "/64 dev veth0 nodad",
              "-n " + Server + " addr add " + ServerIP2 + "/24 dev veth0",
              "-n " + Server + " addr add " + ServerIP6b + "/64 dev veth0 nodad",
              "-n " + Server + " addr add " + ServerIP3 + "/24 dev veth0",
              "-n " + Client + " link add vx0 type veth peer name vx1",
              "-n " + Client + " link set vx1 up", "-n " + Client + " link set vx0 up",
              "-n " + Client + " route add " + ServerIP3 + "/32 dev vx0",
              "-n " + Client + " addr add 10.213.7.5/24 dev veth0",
              "-n " + Client + " addr add 10.213.7.6/24 dev veth0",
              "-n " + Client + " addr add fd00:213:7::5/64 dev veth0 nodad preferred_lft 0",
              "-n " + Client + " addr add fd00:213:7::6/64 dev veth0 nodad preferred_lft 0",
              "-n " + Server + " link set veth0 up", "-n " + Client + " link set veth0 up"})
            QVERIFY2(ip(step), qPrintable(step));
        QVERIFY(QDir().mkpath(HostsDir)
                && writeFile(
                    HostsDir + "/hosts",
                    QString("%1 %2 %3\n%4 %3\n").arg(ServerIP6, V6Name, Both, ServerIP).toUtf8()));
    }
    void cleanupTestCase()
    {
        for (const QString &name : std::as_const(made))
            ip("netns del " + name); // their nft tables and qdiscs with them
        QDir(HostsDir).removeRecursively();
    }

    // A host with loopback only has no adapter: a box, and no window.  Then
    // one interface up with two addresses (one a labelled alias, its masks
    // /25 and /16) and an IPv6 one, its peer down with an address, and an
    // interface up with IPv6 only: the IPv4 addresses, then the IPv6 ones,
    // and the /25 mask is used.
    void adaptersOfAHost()
    {
        const QString host = Names + "a";
        QVERIFY(addHost(host));
        QTemporaryDir dir;
        Copy alone(host, dir.path(), {});
        QVERIFY(alone.ended());
        QCOMPARE(alone.readAllStandardOutput(), "box: I can't find an active network connection; "
                                                "check your connections and restart me.\n");
        for (const char *step :
             {"link add sa type veth peer name sb", "link add sc type veth peer name sd",
              "addr add 192.0.2.1/25 dev sa", "addr add 198.51.100.1/16 dev sa label sa:1",
              "addr add 2001:db8::1/64 dev sa nodad", "addr add 203.0.113.1/24 dev sb",
              "addr add 2001:db8:1::1/64 dev sc nodad", "link set sa up", "link set sc up"})
            QVERIFY2(ip("-n " + host + ' ' + step), step);
        Copy copy(host, dir.path(),
                  {"items=cboLocAddress", "set=cboRemAddress=10.0.0.127", "set=txtRemPort=80",
                   "click=cmdConnect"});
        QVERIFY(copy.ended());
        QCOMPARE(copy.readAllStandardOutput(),
                 "192.0.2.1\n198.51.100.1\n2001:db8::1\n2001:db8:1::1\n");
        QVERIFY(QString::fromUtf8(readFile(dir.path() + "/Selmarin/PC17_12-4-2026.log"))
                    .contains("++ PEBKAC:\tBroadcast IP addresses are not supported\r\n"));
    }

    // On the server host two responders without a window, one on the
    // server's address, one on every address; on the client host the window
    // probes the first and `selmarin probe --count 5` the other.  After five
    // answers to the window the responders are stopped: the window sees the
    // close (TCP) or, with no connection to lose (UDP), misses.  Over IPv6
    // the window names the server by its address, the probe by a name.
    void autoPingBetweenTwoHosts_data()
    {
        // server: the server's address
        // client: the window's local address
        // remote: the server as the window names it
        // named: ... and the probe
        columns<QString, QString, QString, QString, QString>("protocol", "server", "client",
                                                             "remote", "named");
        dataRow("TCP", "tcp", ServerIP, ClientIP, ServerIP, ServerIP);
        dataRow("UDP", "udp", ServerIP, ClientIP, ServerIP, ServerIP);
        dataRow("TCP IPv6", "tcp", ServerIP6, ClientIP6, '[' + ServerIP6 + ']', V6Name);
        dataRow("UDP IPv6", "udp", ServerIP6, ClientIP6, ServerIP6, V6Name);
        dataRow("TLS", "tls", ServerIP, ClientIP, ServerIP, ServerIP);
    }
    void autoPingBetweenTwoHosts()
    {
        const auto [protocol, server, client, remote, named]
            = fetched<QString, QString, QString, QString, QString>("protocol", "server", "client",
                                                                   "remote", "named");
        const bool tcp = protocol != "udp", tls = protocol == "tls";
        const QString query = client + ":\t++ AutoPing Query ++\r\n",
                      answer = server + ":\t++ AutoPing Response ++\r\n";
        QTemporaryDir dir;
        const QString serverDir = dir.path() + "/s",
                      clientLog = dir.path() + "/c/Selmarin/PC17_12-4-2026.log";
        Headless forWindow(
            serverDir,
            {"respond", "--" + protocol, "--port", "7010", "--local", server, "--every-query"},
            Server);
        // The first responder makes the folder's TLS certificate, both use it.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(logIn(serverDir)).contains("Winsock:\t"), 10000);
        Headless forProbe(serverDir,
                          {"respond", "--" + protocol, "--port", "7011", "--every-query"}, Server);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(logIn(serverDir)))
                                      .count(tcp ? "Winsock:\tListening" : "Winsock:\tOpen"),
                                  2, 10000);
        const QStringList trust{"--cacert", serverDir + "/Selmarin/tls-cert.pem"};
        Headless probe(dir.path() + "/p",
                       QStringList{"probe", "--" + protocol, named, "7011", "--count", "5"}
                           + (tls ? trust : QStringList()),
                       Client);
        const QString choose = "click=optProtocol_" + QString::number(tls ? 2 : !tcp);
        Copy window(Client, dir.path() + "/c",
                    {choose, tls ? "click=chkInsecure" : choose, "set=cboLocAddress=" + client,
                     "set=cboRemAddress=" + remote, "set=txtRemPort=7010", "click=cmdConnect",
                     "wait=" + clientLog + (tcp ? "@1@Connected to" : "@1@Winsock:\tOpen"),
                     "click=cmdAutoPing",
                     tcp ? "wait=" + clientLog + "@1@Winsock:\tClosed"
                         : "wait=" + clientLog + "@6@" + Missed,
                     "text=cboRemAddress"});
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(readFile(clientLog)).count(answer) >= 5, 15000);
        QVERIFY(probe.endsWith(0));
        QVERIFY(forWindow.endsWith(0, true) && forProbe.endsWith(0, true) && window.ended());
        QCOMPARE(window.readAllStandardOutput(),
                 (server + '\n').toUtf8()); // the sender, without brackets

        // A probe names its peer as it was given.
        const QString summary = probe.out();
        const QString tag = "\n[" + hostPort(named, "7011") + "] ";
        QVERIFY2(summary.contains(tag + "--- " + hostPort(named, "7011")
                                  + " AutoPing statistics ---" + tag
                                  + "5 packets transmitted, 5 received, 0% packet loss" + tag
                                  + "rtt min/avg/max/mdev = "),
                 qPrintable(summary));
        // The window: its queries, the answers under the server's address,
        // no answer missed but the first tick's; then the close or misses.
        const QString log = QString::fromUtf8(readFile(clientLog));
        const qsizetype last = log.lastIndexOf(answer);
        QVERIFY2(log.count(answer) >= 5 && log.count(query) >= log.count(answer), qPrintable(log));
        QVERIFY2(log.left(last).count(Missed) <= 1
                     && (!tls
                         || (log.contains("TLS:\tGoing on without verification")
                             && summary.contains("TLS:\tCertificate verified"))),
                 qPrintable(log + summary));
        QVERIFY2(tcp ? log.indexOf("Winsock:\tClosed\r\n", last) > last
                     : !log.contains("Winsock Error"),
                 qPrintable(log));
        // The responders: every query that came answered, two runs ended;
        // each connection's ends as the pane writes them.
        const QString served = QString::fromUtf8(readFile(logIn(serverDir)));
        const QString queries = query.chopped(2), answers = answer.chopped(2); // numbered too
        QVERIFY2(served.count(queries) >= 10 && served.count(queries) == served.count(answers),
                 qPrintable(served));
        QCOMPARE(served.count("; ended "), 2);
        QVERIFY2(!tcp
                     || (log.contains("Winsock:\tConnected to " + hostPort(server, "7010") + "\r\n")
                         && served.count("\tAccepting " + protocol.toUpper() + " connection from "
                                         + hostPort(client, ""))
                                == 2
                         && served.contains(" to " + hostPort(server, "7010") + "\r\n")),
                 qPrintable(log + served));
    }

    // One probe of two UDP paths across the hosts, each target's figures in
    // the JSON.  A responder on every address of a host with several
    // answers each query from the address it was sent to (the probe takes
    // answers from its target only: one from another address would be
    // foreign, the query lost); a path to a host missing from the link loses
    // its queries, and the run ends with 1.
    void twoUdpPaths_data()
    {
        // listenOn: the responder's --local
        columns<QStringList, QStringList, int, QList<int>>("listenOn", "hosts", "status",
                                                           "answeredLostForeign");
        dataRow("second addresses, IPv4 and IPv6", QStringList(),
                QStringList{ServerIP2, ServerIP6b}, 0, QList<int>{3, 0, 0, 3, 0, 0});
        dataRow("second address, every IPv4 address", QStringList{"--local", "0.0.0.0"},
                QStringList{ServerIP2, ServerIP}, 0, QList<int>{3, 0, 0, 3, 0, 0});
        dataRow("one host missing", QStringList(), QStringList{ServerIP, "10.213.7.9"}, 1,
                QList<int>{3, 0, 0, 0, 3, 0});
    }
    void twoUdpPaths()
    {
        const auto [listenOn, hosts, status, answeredLostForeign]
            = fetched<QStringList, QStringList, int, QList<int>>("listenOn", "hosts", "status",
                                                                 "answeredLostForeign");
        QTemporaryDir dir;
        Headless responder(dir.path() + "/s",
                           QStringList{"respond", "--udp", "--port", "7040"} + listenOn, Server);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += responder.out()).contains("Winsock:\tOpen"), 10000);
        Headless probe(dir.path() + "/p",
                       {"probe", "--udp", hosts[0], "7040", hosts[1], "7040", "-c", "3", "-i",
                        "0.2", "-W", "1", "--json"},
                       Client);
        QVERIFY(probe.endsWith(status));
        const QJsonArray targets
            = QJsonDocument::fromJson(probe.readAllStandardOutput())["targets"].toArray();
        QList<int> figures;
        for (const QJsonValue &target : targets)
            figures << target["answered"].toInt() << target["lost"].toInt()
                    << target["foreign"].toInt();
        QCOMPARE(figures, answeredLostForeign);
        QVERIFY(responder.endsWith(0, true));
    }

    // A flood of 50,000 queries a second from one allowed source gets at most
    // its budget (1,000 a second, 1,000 at once), while another allowed
    // source is answered every time and one just outside the ranges never;
    // the responder stays under half a core and says it all once.  A
    // sanitized responder takes three times as long per datagram: on a
    // shared core it falls behind such a flood, and the system drops
    // everyone's datagrams alike, so its flood is of 15,000.
    void floodWithinBudget_data()
    {
        // The server, the flooder, another allowed source and one just outside.
        columns<QStringList>("hosts");
        dataRow("IPv4", QStringList{ServerIP, ClientIP, "10.213.7.5", "10.213.7.6"});
        dataRow("IPv6", QStringList{ServerIP6, ClientIP6, "fd00:213:7::5", "fd00:213:7::6"});
    }
    void floodWithinBudget()
    {
        QFETCH(QStringList, hosts);
        QTemporaryDir dir;
        Headless responder(dir.path(),
                           {"respond", "--udp", "--port", "7050", "--allow",
                            ClientIP + ",10.213.7.4/31," + ClientIP6 + ",fd00:213:7::4/127",
                            "--budget-per-source", "1000/1000"},
                           Server);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += responder.out()).contains("Winsock:\tOpen"), 10000);
        const auto cpu = [stat = QString("/proc/%1/stat").arg(responder.processId())] {
            const QList<QByteArray> fields = readFile(stat).split(' ');
            return fields[13].toInt() + fields[14].toInt(); // in ticks of 10 ms
        };
        const int before = cpu();
        QElapsedTimer took;
        took.start();
        std::unique_ptr<QProcess> senders[3];
        const int flood = Sanitized ? 15000 : 50000;
        for (int i = 0; i < 3; ++i) {
            senders[i] = std::make_unique<QProcess>();
            senders[i]->start("ip",
                              {"netns", "exec", Client, SELMARIN_UDPFLOOD, hosts[i + 1], hosts[0],
                               "7050", i == 0 ? QString::number(flood) : "50", "2000"});
        }
        QList<int> got; // sent and answered, of each
        for (const auto &sender : senders) {
            QVERIFY(sender->waitForFinished(10000));
            for (const QByteArray &figure : sender->readAllStandardOutput().simplified().split(' '))
                got << figure.toInt();
        }
        const double cores = (cpu() - before) * 10.0 / double(took.elapsed());
        qInfo("sent, answered: %s; CPU %.2f of a core", qPrintable(QDebug::toString(got)), cores);
        QVERIFY(got.size() == 6 && got[0] > flood * 9 / 5 && got[1] >= 2000 && got[1] <= 3100);
        QCOMPARE(got.mid(2), (QList<int>{100, 100, 100, 0}));
        QVERIFY(cores < (Sanitized ? 1.5 : 0.5) && responder.endsWith(0, true));
        told += responder.out();
        QVERIFY2(told.contains("[udp :7050] Winsock:\tin the last minute, not answered: 100 from "
                               "outside the allowed addresses (e.g. "
                               + hosts[3])
                     && told.contains(" over the budget of answers (e.g. " + hosts[1] + ")\n"),
                 qPrintable(told.right(600)));
    }

    // A missing host on the link: the probe says the host cannot be
    // reached (not the network), and a stop while it connects ends the run
    // at once with its summary.  The neighbour is given up after 3 s: a
    // timeout shorter than that gives the connect up first.
    void probeToAMissingHost()
    {
        QTemporaryDir dir;
        Headless missing(dir.path(), {"probe", "--tcp", "10.213.7.9", "7011", "-c", "1", "-W", "5"},
                         Client);
        QVERIFY(missing.endsWith(2));
        QVERIFY(
            missing.err().contains("10065\n[10.213.7.9:7011] * Description:\tNo route to host."));
        Headless stopped(dir.path(), {"probe", "--tcp", "10.213.7.9", "7011"}, Client);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += stopped.out()).contains("Connecting to"), 10000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(stopped.endsWith(1, true)
                && clock.elapsed() < 1500); // the neighbour is given up after 3 s
        QVERIFY(stopped.out().endsWith("0 packets transmitted, 0 received\n"));
    }

    // The window's UDP socket on an IPv4 address sending to a name that has
    // an IPv6 address only: the name is valid, but has no address to send to.
    void nameOfTheOtherFamily()
    {
        QTemporaryDir dir;
        const QString log = dir.path() + "/Selmarin/PC17_12-4-2026.log";
        Copy window(Client, dir.path(),
                    {"click=optProtocol_1", "set=cboLocAddress=" + ClientIP,
                     "set=cboRemAddress=" + V6Name, "set=txtRemPort=7010", "click=cmdConnect",
                     "wait=" + log + "@1@Winsock:\tOpen", "set=txtSend=x", "click=cmdSend",
                     "wait=" + log + "@1@Winsock Error"});
        QVERIFY(window.ended());
        QVERIFY2(readFile(log).contains("Winsock Error:\t11004\r\n* Description:\tValid name, no "
                                        "data record of requested type.\r\n"),
                 readFile(log).constData());
    }

    // On the wire, as a capture on veth0 sees it: a name of both families
    // reached in the family asked for; every query and answer marked (-Q; a
    // TCP responder's by --tos, a UDP one's as its query) and of the size
    // asked for (-s), split in segments too.  -I NAME: the packets leave by
    // that interface only, past the route that sends ServerIP3 into vx0.
    void onTheWire_data()
    {
        columns<QString, QStringList, int, int>("protocol", "how", "size", "answers");
        dataRow("UDP, -6", "udp", QStringList{Both, "-6"}, 1200, 3);
        dataRow("TCP, -4, in segments", "tcp", QStringList{Both, "-4"}, 4000, 3);
        dataRow("TCP, -6, the smallest", "tcp", QStringList{Both, "-6"}, 26, 3);
        dataRow("by the routes", "udp", QStringList{ServerIP3}, 56, 0);
        dataRow("-I veth0", "udp", QStringList{ServerIP3, "-I", "veth0"}, 56, 3);
        dataRow("-I vx0", "udp", QStringList{ServerIP3, "-I", "vx0"}, 56, 0);
    }
    void onTheWire()
    {
        const auto [protocol, how, size, answers]
            = fetched<QString, QStringList, int, int>("protocol", "how", "size", "answers");
        if (QStandardPaths::findExecutable("tcpdump").isEmpty())
            QSKIP("tcpdump is needed (scripts/ensure-deps)");
        QProcess capture;
        capture.start("ip", {"netns", "exec", Client, "tcpdump", "-i", "veth0", "-nvl",
                             "--immediate-mode", "port", "7060"});
        capture.setReadChannel(QProcess::StandardError); // it says when it listens
        QVERIFY(capture.waitForReadyRead(10000));
        QTemporaryDir dir;
        Headless responder(dir.path(),
                           QStringList{"respond", "--" + protocol, "--port", "7060"}
                               + (protocol == "tcp" ? QStringList{"--tos", "184"} : QStringList()),
                           Server);
        QVERIFY(responder.waitForReadyRead(10000)); // open, or listening
        Headless probe(dir.path(),
                       QStringList{"probe", "--" + protocol, how[0], "7060", "-Q", "0xb8", "-s",
                                   QString::number(size), "-c3", "-i0.2", "-W0.5"}
                           + how.mid(1),
                       Client);
        QVERIFY(probe.endsWith(answers ? 0 : 1) && responder.endsWith(0, true));
        capture.terminate();
        QVERIFY(capture.waitForFinished(5000));
        const QString seen = capture.readAllStandardOutput();
        // Each packet: its IP header's fields, its source and port, its payload's length.
        const QRegularExpression packet(
            R"(^\S+ IP6? \(([^\n]*)\n?\s*[0-9a-f.:]+\.(\d+) > [^\n]*length (\d+)$)",
            QRegularExpression::MultilineOption);
        int bytes[2] = {};
        for (const QRegularExpressionMatch &m : packet.globalMatch(seen)) {
            // The header tells the family as well: a TOS byte, or an IPv6 class.
            QVERIFY2(m.captured(1).startsWith(how.contains("-6") ? "class 0xb8," : "tos 0xb8,"),
                     qPrintable(m.captured()));
            bytes[m.captured(2) == "7060"] += m.captured(3).toInt();
        }
        // Over UDP the first query asks for numbers, plain as well: 20 and 23 bytes more.
        const bool udp = protocol == "udp" && answers > 0;
        QVERIFY2(bytes[0] == answers * size + 20 * udp && bytes[1] == answers * size + 23 * udp,
                 qPrintable(seen));
    }
};

QTEST_GUILESS_MAIN(TestNetns)
#include "tst_netns.moc"
