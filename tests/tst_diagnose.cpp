// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// `selmarin diagnose` on a path of its own: a client, a router and a server
// in network namespaces made for the run (their names carry the process
// id), the router's firewall (nft) and routes set up so that each port or
// address fails in one way.  Each row is told by its class and the address
// that said it; the hops are compared with what tracepath finds on the same
// path.  Needs root, `ip`, `nft` and `tracepath`; without them it says SKIP.

#include "fixture.h"

#include <QStandardPaths>

#include <unistd.h>

namespace {

const QString Names = QStringLiteral("sdg%1").arg(getpid());
const QString Client = Names + "c", Router = Names + "r", Server = Names + "s",
              Router2 = Names + "q", Far = Names + "f";

// A command in a namespace (ns empty: here), true when it ended well
// within ten seconds.
bool run(const QString &ns, const QString &program, const QStringList &arguments,
         QByteArray *out = nullptr)
{
    QProcess process;
    process.start("ip", QStringList{"netns", "exec", ns, program} + arguments);
    const bool done = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
                      && process.exitCode() == 0;
    if (out)
        *out = process.readAllStandardOutput();
    return done;
}

} // namespace

class TestDiagnose : public QObject
{
    Q_OBJECT

    QStringList made;
    QTemporaryDir dir;
    QProcess listeners[2]; // the server's and the far host's
    std::unique_ptr<Headless> tlsServer, udpServer;
    QProcess oneAtATime; // openssl s_server: one connection at a time, a private CA's certificate

    // The diagnosis as JSON.
    QJsonObject diagnose(const QStringList &arguments, int status)
    {
        Headless program(dir.path(), QStringList{"diagnose", "--json", "-W", "1"} + arguments,
                         Client);
        if (!program.endsWith(status))
            return {};
        return QJsonDocument::fromJson(program.readAllStandardOutput()).object();
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("network namespaces need root");
        for (const char *tool : {"ip", "nft", "tracepath", "socat"})
            if (QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
                    .isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        for (const QString &host : {Client, Router, Server, Router2, Far}) {
            made << host;
            QVERIFY(ip("netns add " + host) && ip("-n " + host + " link set lo up"));
        }
        // client 10.77.1.2 -- 10.77.1.1 router 10.77.2.1 -- 10.77.2.2 server, and behind
        // the router 10.77.5.1 -- 10.77.5.2 router 2 10.77.8.1 -- 10.77.8.2 far host;
        // each address also as fd77:N::M.  The routers answer every packet: no ICMP
        // rate limits, so that each row finds them as an idle router would be.
        // (Their errors for routes that refuse keep their limit, five at once
        // and one a second, which is the system's and not the namespace's:
        // those rows stand apart.)
        const QString r = "-n " + Router + ' ', r2 = "-n " + Router2 + ' ';
        for (const auto &[a, aDevice, aAddress, b, bDevice, bAddress] :
             {std::tuple{Client, "v0", "1.2", Router, "v0", "1.1"},
              {Server, "v0", "2.2", Router, "v1", "2.1"},
              {Router2, "v0", "5.2", Router, "v2", "5.1"},
              {Far, "v0", "8.2", Router2, "v1", "8.1"}}) {
            QVERIFY(ip("-n " + a + " link add " + aDevice + " type veth peer name " + bDevice
                       + " netns " + b));
            for (const auto &[ns, device, address] :
                 {std::tuple{a, aDevice, aAddress}, {b, bDevice, bAddress}})
                QVERIFY(ip("-n " + ns + " addr add 10.77." + address + "/24 dev " + device)
                        && ip("-n " + ns + " addr add fd77:" + QString(address).replace('.', "::")
                              + "/64 dev " + device + " nodad")
                        && ip("-n " + ns + " link set " + device + " up"));
        }
        for (const QString &step :
             {"-n " + Client + " route add 10.77.0.0/16 via 10.77.1.1",
              "-n " + Client + " route add fd77::/16 via fd77:1::1",
              "-n " + Server + " route add default via 10.77.2.1",
              "-n " + Server + " route add default via fd77:2::1",
              r + "route add unreachable 10.77.3.0/24", r + "route add prohibit 10.77.4.0/24",
              r + "route add 10.77.8.0/22 via 10.77.5.2", r + "route add fd77:8::/64 via fd77:5::2",
              r + "route add fd77:c::/64 via fd77:5::2", r2 + "route add default via 10.77.5.1",
              r2 + "route add default via fd77:5::1", r2 + "route add prohibit 10.77.9.0/24",
              r2 + "route add unreachable fd77:c::/64",
              "-n " + Far + " route add default via 10.77.8.1",
              "-n " + Far + " route add default via fd77:8::1",
              // The router's link to the server is small.
              r + "link set v1 mtu 1280", "-n " + Server + " link set v0 mtu 1280"})
            QVERIFY2(ip(step), qPrintable(step));
        for (const QString &host : {Router, Router2, Server, Far})
            QVERIFY(run(host, "sysctl",
                        {"-qw", "net.ipv4.ip_forward=1", "net.ipv6.conf.all.forwarding=1",
                         "net.ipv4.icmp_ratelimit=0", "net.ipv6.icmp.ratelimit=0"}));
        const QByteArray routerRules
            = "table inet f {\n chain fw {\n"
              "  type filter hook forward priority 0\n"
              "  tcp dport 7102 drop\n  udp dport 7102 drop\n"
              "  tcp dport 7103 reject with icmpx type admin-prohibited\n"
              "  tcp dport 7104 reject with icmpx type host-unreachable\n"
              "  tcp dport 7105 reject with tcp reset\n }\n"
              " chain out { type filter hook output priority 0; }\n"
              // Before the hop is counted: its own hop limit draws them.
              " chain pre {\n  type filter hook prerouting priority 0\n"
              "  tcp dport 7111 drop\n  tcp dport 7112 reject with tcp reset\n"
              " }\n}\n";
        const QByteArray clientRules = "table inet f {\n chain out {\n"
                                       "  type filter hook output priority 0\n"
                                       "  tcp dport 7110 drop\n  udp dport 7110 drop\n }\n}\n";
        // Router 2's rules are the router's, on ports 72xx.
        QVERIFY(writeFile(dir.path() + "/r.nft", routerRules)
                && writeFile(dir.path() + "/r2.nft", QByteArray(routerRules).replace(" 71", " 72"))
                && writeFile(dir.path() + "/c.nft", clientRules));
        // The server's own firewall rejects one port.
        QVERIFY(
            run(Server, "nft",
                {"add table inet f; add chain inet f in { type filter hook input priority 0; };",
                 "add rule inet f in tcp dport 7108 reject with icmpx type admin-prohibited"}));
        QVERIFY(run(Router, "nft", {"-f", dir.path() + "/r.nft"})
                && run(Router2, "nft", {"-f", dir.path() + "/r2.nft"})
                && run(Client, "nft", {"-f", dir.path() + "/c.nft"}));
        for (int i = 0; i < 2; ++i) {
            listeners[i].start("ip", {"netns", "exec", i ? Far : Server, "socat",
                                      "TCP6-LISTEN:7100,fork,reuseaddr,ipv6only=0", "EXEC:cat"});
            QVERIFY(listeners[i].waitForStarted());
        }
        // A TLS server with a self-signed certificate of its own making.
        tlsServer = std::make_unique<Headless>(
            dir.path() + "/s", QStringList{"respond", "--tls", "--port", "7107"}, Server);
        udpServer = std::make_unique<Headless>(
            dir.path() + "/u", QStringList{"respond", "--udp", "--port", "7100"}, Server);
        for (const auto &[log, ready] : {std::pair{"/s", "Listening"}, {"/u", "Open"}})
            QTRY_VERIFY_WITH_TIMEOUT(readFile(logIn(dir.path() + log)).contains(ready), 10000);
        QVERIFY(run(
            Server, "sh",
            {"-c", "cd " + dir.path()
                       + " && c='openssl req -newkey ec -pkeyopt "
                         "ec_paramgen_curve:P-256 -nodes -subj' && $c /CN=ca -x509 -keyout ca.key "
                         "-out ca.pem && $c /CN=s -addext subjectAltName=IP:10.77.2.2,IP:fd77:2::2"
                         " -keyout s.key -out s.csr && openssl x509 -req -in s.csr -CA ca.pem "
                         "-CAkey ca.key -copy_extensions copy -out s.pem"}));
        oneAtATime.setWorkingDirectory(dir.path());
        oneAtATime.setProcessChannelMode(QProcess::MergedChannels);
        oneAtATime.start("ip", {"netns", "exec", Server, "openssl", "s_server", "-accept", "7120",
                                "-cert", "s.pem", "-key", "s.key"});
        QByteArray served;
        QTRY_VERIFY2_WITH_TIMEOUT((served += oneAtATime.readAll()).contains("ACCEPT"),
                                  served.constData(), 10000);
        // Both families' neighbours found before the rows begin.
        for (const QString host : {"10.77.2.2", "fd77:2::2"})
            QTRY_VERIFY_WITH_TIMEOUT(diagnose({host, "7100"}, 0)["outcome"].toString() == "open",
                                     10000);
    }
    void cleanupTestCase()
    {
        for (const auto *server : {&tlsServer, &udpServer})
            if (*server)
                (*server)->endsWith(0, true);
        oneAtATime.kill();
        oneAtATime.waitForFinished();
        for (QProcess &listener : listeners) {
            listener.kill();
            listener.waitForFinished();
        }
        for (const QString &name : std::as_const(made))
            ip("netns del " + name);
    }

    // Each way to fail, its class, who said it (the ICMP message's sender,
    // or after silence the last hop that answered) and the exit status.
    void classes_data()
    {
        columns<QStringList, QString, QString, int>("arguments", "outcome", "by", "status");
        const auto row = [](const char *name, const QStringList &arguments, const char *outcome,
                            const QString &by, int status) {
            QTest::newRow(name) << arguments << QString(outcome) << by << status;
        };
        const QString router = "10.77.1.1", router6 = "fd77:1::1";
        row("open", {"10.77.2.2", "7100"}, "open", "", 0);
        row("open, IPv6", {"fd77:2::2", "7100"}, "open", "", 0);
        row("nothing listening", {"10.77.2.2", "7101"}, "refused", "", 1);
        row("nothing listening, UDP", {"--udp", "10.77.2.2", "7101"}, "refused", "10.77.2.2", 1);
        row("nothing listening, IPv6", {"fd77:2::2", "7101"}, "refused", "", 1);
        row("router: unreachable route", {"10.77.3.5", "7100"}, "rejected", router, 1);
        row("router drops", {"10.77.2.2", "7102"}, "filtered", router, 1);
        row("router drops, UDP", {"--udp", "10.77.2.2", "7102"}, "filtered", router, 1);
        row("router drops, IPv6", {"fd77:2::2", "7102"}, "filtered", router6, 1);
        row("router: prohibit route", {"10.77.4.5", "7100"}, "rejected", router, 1);
        row("router: admin-prohibited", {"10.77.2.2", "7103"}, "rejected", router, 1);
        row("router: admin-prohibited, IPv6", {"fd77:2::2", "7103"}, "rejected", router6, 1);
        row("router: host-unreachable", {"10.77.2.2", "7104"}, "rejected", router, 1);
        row("host's firewall rejects", {"10.77.2.2", "7108"}, "rejected", "10.77.2.2", 1);
        row("router forges a reset", {"10.77.2.2", "7105"}, "refused", "", 1);
        row("router: no route, IPv6", {"fd77:9::1", "7100"}, "rejected", router6, 1);
        // At router 2 (its rules the router's on ports 72xx), behind the router.
        const QString second = "10.77.5.2", second6 = "fd77:5::2";
        row("behind two routers: open", {"10.77.8.2", "7100"}, "open", "", 0);
        row("behind two routers: nothing listening, UDP", {"--udp", "10.77.8.2", "7101"}, "refused",
            "10.77.8.2", 1);
        row("router 2 drops", {"10.77.8.2", "7202"}, "filtered", second, 1);
        row("router 2 drops, UDP", {"--udp", "10.77.8.2", "7202"}, "filtered", second, 1);
        row("router 2 drops, IPv6", {"fd77:8::2", "7202"}, "filtered", second6, 1);
        row("router 2 drops before its hop", {"10.77.8.2", "7211"}, "filtered", router, 1);
        row("router 2: admin-prohibited", {"10.77.8.2", "7203"}, "rejected", second, 1);
        row("router 2: admin-prohibited, IPv6", {"fd77:8::2", "7203"}, "rejected", second6, 1);
        row("router 2: prohibit route", {"10.77.9.5", "7100"}, "rejected", second, 1);
        row("router 2: unreachable route, IPv6", {"fd77:c::5", "7100"}, "rejected", second6, 1);
        row("router 2: unreachable route, UDP, IPv6", {"--udp", "fd77:c::5", "7100"}, "rejected",
            second6, 1);
        row("router 2 drops, UDP, IPv6", {"--udp", "fd77:8::2", "7202"}, "filtered", second6, 1);
        row("router 2: host-unreachable", {"10.77.8.2", "7204"}, "rejected", second, 1);
        row("router 2: admin-prohibited, TLS", {"--tls", "10.77.8.2", "7203"}, "rejected", second,
            1);
        row("no route here", {"10.99.0.1", "7100"}, "no_route", "", 1);
        row("no route here, IPv6", {"fd99::1", "7100"}, "no_route", "", 1);
        row("no neighbour on the link", {"10.77.1.9", "7100"}, "no_route", "10.77.1.2", 1);
        row("own firewall", {"10.77.2.2", "7110"}, "blocked", "", 1);
        row("own firewall, UDP", {"--udp", "10.77.2.2", "7110"}, "blocked", "", 1);
        row("own firewall, IPv6", {"fd77:2::2", "7110"}, "blocked", "", 1);
        row("TLS, self-signed", {"--tls", "10.77.2.2", "7107"}, "open", "", 1);
        // One connection at a time: the handshake goes on the connection made.
        const QStringList ca{"--tls", "--cacert", dir.filePath("ca.pem")};
        dataRow("TLS, private CA trusted", ca + QStringList{"10.77.2.2", "7120"}, "open", "", 0);
        dataRow("TLS, private CA trusted, IPv6", ca + QStringList{"fd77:2::2", "7120"}, "open", "",
                0);
        row("TLS, private CA", {"--tls", "10.77.2.2", "7120"}, "open", "", 1);
        row("TLS, private CA, insecure", {"--tls", "--insecure", "10.77.2.2", "7120"}, "open", "",
            0);
        row("usage: no such CA file", {"--tls", "--cacert", "/nonexistent", "10.77.2.2", "7120"},
            "", "", 2);
        row("TLS to a plain port", {"--tls", "10.77.2.2", "7100"}, "open", "", 1);
        row("name not found", {"nosuch.invalid", "7100"}, "name_not_found", "", 1);
        row("usage: no port", {"10.77.2.2"}, "", "", 2);
        row("usage: two protocols", {"--udp", "--tls", "10.77.2.2", "7100"}, "", "", 2);
        row("usage: port 0", {"10.77.2.2", "0"}, "", "", 2);
    }
    void classes()
    {
        const auto [arguments, outcome, by, status]
            = fetched<QStringList, QString, QString, int>("arguments", "outcome", "by", "status");
        const QJsonObject verdict = diagnose(arguments, status);
        QCOMPARE(verdict["outcome"].toString(), outcome);
        const QString said = outcome == "filtered" ? verdict["last_hop"].toString()
                                                   : verdict["icmp"]["from"].toString();
        QCOMPARE(said, by);
        // The sentence begins with the class, in words.
        static const QMap<QString, QString> titles{{"open", "Open"},
                                                   {"refused", "Refused by the host"},
                                                   {"rejected", "Rejected on the way"},
                                                   {"filtered", "Filtered"},
                                                   {"no_route", "No route"},
                                                   {"blocked", "Blocked on this machine"},
                                                   {"name_not_found", "Name not found"}};
        const QString title = by == arguments.value(arguments.size() - 2) && outcome == "rejected"
                                  ? "Rejected by the host"
                                  : titles.value(outcome);
        QVERIFY2(verdict["sentence"].toString().startsWith(title + ": ") || status == 2,
                 qPrintable(verdict["sentence"].toString()));
        // "No neighbour" is noted when, and only when, this machine said so.
        QCOMPARE(QJsonDocument(verdict["notes"].toArray()).toJson().contains("found no neighbour"),
                 by == "10.77.1.2");
        // After silence, one line past the last hop that answered says so.
        const QJsonArray hops = verdict["hops"].toArray();
        if (outcome == "filtered")
            QVERIFY(hops.size() >= 2 && hops[hops.size() - 2]["address"] == by
                    && !hops[hops.size() - 2]["sent_again"].toBool()
                    && hops.last()["address"].isNull() && !hops.last()["sent_again"].toBool());
        QVERIFY(!verdict.isEmpty() || status == 2);
        // TLS: the handshake done with its certificate's problems named, or
        // failed with why.
        if (arguments.contains("--tls") && outcome == "open")
            QVERIFY2(!arguments.contains("7100")
                         ? verdict["tls"]["done"].toBool()
                               && verdict["tls"]["problems"].toArray().isEmpty()
                                      == arguments.contains("--cacert")
                               && verdict["tls"]["insecure"].toBool()
                                      == arguments.contains("--insecure")
                         : !verdict["tls"]["done"].toBool()
                               && !verdict["tls"]["failure"].toString().isEmpty(),
                     QJsonDocument(verdict).toJson().constData());
    }

    // Each sentence states only what was seen: where two causes fit, both
    // are named with what tells them apart.
    void saysOnlyWhatItSaw_data()
    {
        // told: in the sentence or the notes
        // notTold: in neither
        columns<QStringList, QString, QString, QString>("arguments", "outcome", "told", "notTold");
        const auto row = [](const char *name, const QStringList &arguments, const char *outcome,
                            const QString &told, const QString &notTold) {
            QTest::newRow(name) << arguments << QString(outcome) << told << notTold;
        };
        const QString onTheWay = "was sent on the way, at or before hop 1";
        row("reset before hop 1", {"10.77.2.2", "7112"}, "rejected", onTheWay,
            "nothing listens there");
        row("reset before hop 1, IPv6", {"fd77:2::2", "7112"}, "rejected", onTheWay,
            "nothing listens there");
        row("reset at the host's hop", {"10.77.2.2", "7105"}, "refused",
            "nothing listens there, or the router before it forged", "");
        row("first router drops TCP", {"10.77.2.2", "7111"}, "filtered",
            "the first router, 10.77.1.1, or the link to it drops TCP", "this machine's firewall");
        row("first router drops TCP, IPv6", {"fd77:2::2", "7111"}, "filtered",
            "the first router, fd77:1::1, or the link to it drops TCP", "this machine's firewall");
        row("no neighbour behind the router", {"10.77.2.9", "7100"}, "rejected",
            "look-up of the host on its own link", "limits its ICMP");
        row("no neighbour behind router 2", {"10.77.8.9", "7100"}, "rejected",
            "The router 10.77.5.2 said so", "limits its ICMP");
        row("router 2 resets before its hop", {"10.77.8.2", "7212"}, "rejected",
            "was sent on the way, at or before hop 2", "nothing listens there");
        row("router 2 forges a reset at the host's hop", {"10.77.8.2", "7205"}, "refused",
            "nothing listens there, or the router before it forged", "");
    }
    void saysOnlyWhatItSaw()
    {
        const auto [arguments, outcome, told, notTold]
            = fetched<QStringList, QString, QString, QString>("arguments", "outcome", "told",
                                                              "notTold");
        const QJsonObject verdict = diagnose(arguments, 1);
        const QString said = verdict["sentence"].toString() + '\n'
                             + QJsonDocument(verdict["notes"].toArray()).toJson();
        QVERIFY2(verdict["outcome"].toString() == outcome && said.contains(told)
                     && (notTold.isEmpty() || !said.contains(notTold)),
                 QJsonDocument(verdict).toJson().constData());
    }

    // With the system's own ICMP limits on the router (six messages at
    // once, then one a second; an error of its routes costs two), a run
    // right after another gives the same verdict, though the first used up
    // the allowance.
    void backToBack()
    {
        const auto limits = [](const char *ms) {
            for (const QString &router : {Router, Router2})
                run(router, "sysctl", {"-qw", QStringLiteral("net.ipv4.icmp_ratelimit=") + ms});
        };
        limits("1000");
        const auto restore = qScopeGuard([&] { limits("0"); });
        // No neighbour behind router 2 (told after its look-up), and a
        // prohibit route on the router, with the wait a user has (-W 2).
        for (const auto &[host, by, turns] :
             {std::tuple{"10.77.8.9", "10.77.5.2", 3}, {"10.77.4.5", "10.77.1.1", 2}})
            for (int turn = 1; turn <= turns; ++turn) {
                const QJsonObject verdict = diagnose({"-W", "2", host, "7100"}, 1);
                QVERIFY2(verdict["outcome"].toString() == "rejected"
                             && verdict["icmp"]["from"].toString() == by,
                         qPrintable(QString::number(turn) + QJsonDocument(verdict).toJson()));
            }
        // Still used up: hop 1 answers only the SYN sent a second later,
        // whose time is no round trip of the hop's.
        const QJsonObject late = diagnose({"--hops", "-W", "3", "10.77.2.2", "7103"}, 1);
        QVERIFY2(late["hops"][0]["sent_again"].toBool() && late["hops"][0]["rtt_ms"].isNull()
                     && late["hops"][0]["address"].toString() == "10.77.1.1",
                 QJsonDocument(late).toJson().constData());
    }

    // A probe whose connections the router rejects counts them as
    // "rejected", and its errors name the router and its message.
    void probeSaysTheClass_data()
    {
        // said: who, in the errors
        columns<QStringList, QString>("how", "said");
        const QString router = "rejected on the way: the router 10.77.1.1 said ICMP";
        dataRow("connects", QStringList{"--connect", "10.77.2.2", "7103"}, router);
        dataRow("stream, kept going", QStringList{"--tcp", "--keep-going", "10.77.2.2", "7103"},
                router);
        dataRow("connects, IPv6", QStringList{"--connect", "fd77:2::2", "7103"},
                "rejected on the way: the router fd77:1::1 said ICMPv6");
        dataRow("stream, the host's firewall",
                QStringList{"--tcp", "--keep-going", "10.77.2.2", "7108"},
                "rejected by the host: the host said ICMP");
    }
    void probeSaysTheClass()
    {
        const auto [how, said] = fetched<QStringList, QString>("how", "said");
        Headless probe(dir.path(),
                       QStringList{"probe"} + how + QStringList{"-c", "2", "-i", "0.2", "--json"},
                       Client);
        QVERIFY(probe.endsWith(1));
        const QJsonObject target
            = QJsonDocument::fromJson(probe.readAllStandardOutput())["targets"][0].toObject();
        QCOMPARE(target["failed_attempts"]["rejected"].toInt(), 2);
        const QString errors = QJsonDocument(target["errors"].toArray()).toJson();
        QVERIFY2(errors.contains(said
                                 + " destination unreachable, communication administratively "
                                   "prohibited"),
                 qPrintable(errors));
    }

    // The far link takes 1280 bytes: the router says "too big" (the MTU and
    // the router named), or, with those messages dropped, large packets
    // vanish (a black hole: the sizes that pass and vanish named).
    void pathMtu_data()
    {
        // port: 7101 refuses, 7100 is a responder that answers padded queries
        columns<QString, QString, bool, QString>("host", "port", "dropTooBig", "told");
        const QString hole = "packets of 1280 bytes pass, of 1281 bytes vanish without a \"too "
                             "big\" message";
        dataRow("too big", "10.77.2.2", "7101", false,
                "1280 bytes: the router 10.77.1.1 said \"too big\" for 1500");
        dataRow("too big, IPv6", "fd77:2::2", "7101", false,
                "1280 bytes: the router fd77:1::1 said \"too big\" for 1500");
        dataRow("black hole", "10.77.2.2", "7101", true, hole);
        dataRow("black hole, IPv6", "fd77:2::2", "7101", true, hole);
        dataRow("black hole, a responder", "10.77.2.2", "7100", true, hole);
        dataRow("black hole, a responder, IPv6", "fd77:2::2", "7100", true, hole);
    }
    void pathMtu()
    {
        const auto [host, port, dropTooBig, told]
            = fetched<QString, QString, bool, QString>("host", "port", "dropTooBig", "told");
        QVERIFY(run(Router, "nft", {"flush", "chain", "inet", "f", "out"}));
        if (dropTooBig)
            QVERIFY(run(Router, "nft",
                        {"add rule inet f out icmp type destination-unreachable icmp code "
                         "frag-needed drop;",
                         "add rule inet f out icmpv6 type packet-too-big drop"}));
        const int status = port == "7100" ? 0 : 1; // answered, or refused
        Headless plain(dir.path(), {"diagnose", "--udp", host, port}, Client);
        QVERIFY(plain.endsWith(status));
        const QString out = plain.out();
        QVERIFY2(out.contains(told + " (UDP datagrams to port " + port + ")\n"), qPrintable(out));
        // The same in JSON: the sizes, or the MTU and its router.
        const QJsonObject mtu = diagnose({"--udp", host, port}, status)["mtu"].toObject();
        const QJsonValue none(QJsonValue::Null);
        const QJsonArray found{mtu["black_hole"], mtu["passes"], mtu["vanishes"], mtu["path"],
                               mtu["too_big_from"]};
        const QJsonArray expected
            = dropTooBig ? QJsonArray{true, 1280, 1281, 1280, none}
                         : QJsonArray{false, none, none, 1280,
                                      host.contains(':') ? "fd77:1::1" : "10.77.1.1"};
        QCOMPARE(found, expected);
    }

    // The hops of a UDP sweep (--hops) are the ones tracepath finds on the
    // same path; the plain lines come as each step ends, the verdict last.
    void hopsAsTracepathFindsThem_data()
    {
        QTest::addColumn<QString>("host");
        dataRow("IPv4", "10.77.2.2");
        dataRow("IPv6", "fd77:2::2");
    }
    void hopsAsTracepathFindsThem()
    {
        QFETCH(QString, host);
        QByteArray traced;
        run(Client, "tracepath", {"-n", "-p", "7101", host}, &traced);
        QStringList expected;
        static const QRegularExpression hop(R"(^\s*(\d+):\s+([0-9a-f.:]+)\s)");
        for (const QByteArray &line : traced.split('\n'))
            if (const auto match = hop.match(QString::fromUtf8(line));
                match.hasMatch() && expected.size() < match.captured(1).toInt())
                expected << match.captured(2);
        QStringList found;
        for (const QJsonValue &each :
             diagnose({"--udp", "--hops", host, "7101"}, 1)["hops"].toArray())
            found << each["address"].toString();
        QCOMPARE(found, expected);

        Headless plain(dir.path(), {"diagnose", "-W", "1", host, "7102"}, Client);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += plain.out()).contains("no answer within 1 s"), 5000);
        QVERIFY2(plain.state() == QProcess::Running && !told.contains("Filtered"),
                 qPrintable(told));
        QVERIFY(plain.endsWith(1));
        told += plain.out();
        // A stop while it waits ends it at once, without a verdict.
        Headless stopped(dir.path(), {"diagnose", host, "7102"}, Client);
        QString before;
        QTRY_VERIFY_WITH_TIMEOUT((before += stopped.out()).contains("nothing to look up"), 5000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(stopped.endsWith(1, true) && clock.elapsed() < 1500); // the wait is 2 s
        QCOMPARE(stopped.out(), "Stopped before a verdict\n");
        QVERIFY2(told.contains(QRegularExpression(
                     " 1  " + (host.contains(':') ? QString("fd77:1::1") : QString("10.77.1.1"))
                     + "  [0-9.]+ ms  time exceeded\n"))
                     && told.contains("\nFiltered: no answer from " + host),
                 qPrintable(told));
    }

    // The window: after the socket's own lines of a failed connect, the
    // class and its evidence under "Diagnosis" (a connect that times out on
    // the clocks made 60 times as fast); and the whole diagnosis of the
    // remote in the boxes, with the protocol chosen, on Ctrl+D.
    void windowSaysWhy_data()
    {
        // protocol: its button
        // steps: after the ends are filled in
        columns<QString, QString, QString, QStringList, QString>("protocol", "host", "port",
                                                                 "steps", "why");
        const QStringList connect{"click=cmdConnect"};
        dataRow("refused", "0", "10.77.2.2", "7101", connect,
                "Refused by the host: 10.77.2.2 answered TCP port 7101 with "
                "a reset: nothing listens there\r\n");
        dataRow("refused, UDP", "1", "10.77.2.2", "7101", QStringList{"keys=Ctrl+D"},
                "Refused by the host: 10.77.2.2 said ICMP destination unreachable");
        dataRow("rejected, IPv6", "0", "fd77:2::2", "7103", connect,
                "Rejected on the way: the router fd77:1::1 answered "
                "TCP port 7103 to fd77:2::2 with ICMPv6 ");
        dataRow("rejected, host unreachable", "0", "10.77.2.2", "7104", connect,
                "Rejected on the way: the router 10.77.1.1 answered TCP port 7104 to 10.77.2.2 "
                "with ICMP ");
        dataRow("no route here", "0", "10.99.0.1", "7100", connect,
                "No route: this machine has no route");
        dataRow("refused, IPv6", "0", "fd77:2::2", "7101", connect,
                "Refused by the host: fd77:2::2 answered TCP port 7101 "
                "with a reset: nothing listens there\r\n");
        dataRow("no route here, IPv6", "0", "fd99::1", "7100", connect,
                "No route: this machine has no route");
        dataRow("filtered, IPv6 (Ctrl+D)", "0", "fd77:2::2", "7102", QStringList{"keys=Ctrl+D"},
                "Filtered: no answer from fd77:2::2 on TCP port 7102 within 2 s: no reset, no ICMP "
                "message; the last hop that answers is fd77:1::1 (hop 1)");
        dataRow("no neighbour on the link", "0", "10.77.1.9", "7100", connect,
                "No route: 10.77.1.9 cannot be reached on the link; the route leaves by v0: no "
                "neighbour answers");
        dataRow("own firewall", "0", "10.77.2.2", "7110", QStringList{"keys=Ctrl+D"},
                "Blocked on this machine: TCP port 7110 to 10.77.2.2");
        dataRow("rejected at router 2", "0", "10.77.8.2", "7203", connect,
                "Rejected on the way: the router 10.77.5.2 answered TCP port 7203 to 10.77.8.2 "
                "with ICMP ");
        dataRow("filtered at router 2, IPv6 (Ctrl+D)", "0", "fd77:8::2", "7202",
                QStringList{"keys=Ctrl+D"},
                "Filtered: no answer from fd77:8::2 on TCP port 7202 within 2 s: no reset, no ICMP "
                "message; the last hop that answers is fd77:5::2 (hop 2)");
        dataRow("filtered", "0", "10.77.2.2", "7102", connect,
                "Filtered: no answer from 10.77.2.2 on TCP port 7102 within "
                "20 s: no reset, no ICMP message\r\n");
        dataRow("Ctrl+D", "0", "10.77.2.2", "7102", QStringList{"keys=Ctrl+D"},
                "Filtered: no answer from 10.77.2.2 on TCP port 7102 within 2 "
                "s: no reset, no ICMP message; the last hop that answers is "
                "10.77.1.1 (hop 1)");
    }
    void windowSaysWhy()
    {
        const auto [protocol, host, port, steps, why]
            = fetched<QString, QString, QString, QStringList, QString>("protocol", "host", "port",
                                                                       "steps", "why");
        QTemporaryDir folder;
        const QString log = folder.path() + "/Selmarin/PC17_12-4-2026.log";
        // "filtered" waits for the connect's own 20 s: a window run on a
        // faster clock (libfaketime) now and then never ended.
        QProcess window;
        window.start("ip", QStringList{"netns", "exec", Client, SELMARIN_COPY, folder.path(),
                                       "click=optProtocol_" + protocol, "set=cboRemAddress=" + host,
                                       "set=txtRemPort=" + port}
                               + steps
                               + QStringList{"wait=" + log + "@1@Diagnosis:\t" + why.left(20)});
        QVERIFY(window.waitForFinished(60000));
        const QString lines = QString::fromUtf8(readFile(log));
        const qsizetype told = lines.indexOf("Diagnosis:\t" + why);
        QVERIFY2(window.exitCode() == 0 && told > 0,
                 qPrintable(lines + window.readAllStandardError()));
        // The socket's own lines come first, as they always are.
        QVERIFY2(steps.contains("keys=Ctrl+D") ? lines.contains(
                     "Diagnosis:\tDiagnosing the path to " + host + " port " + port)
                                               : lines.lastIndexOf("Winsock Error:\t", told) > 0,
                 qPrintable(lines));
        // The pointer to the whole diagnosis follows a filtered connect, and no other.
        QCOMPARE(lines.contains("Diagnosis:\tDiagnose the path (Ctrl+D) to find where the "
                                "packets vanish: after a hop, or on this machine\r\n"),
                 QTest::currentDataTag() == QByteArray("filtered"));
    }
};

QTEST_GUILESS_MAIN(TestDiagnose)
#include "tst_diagnose.moc"
