// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The configuration file of a run left going as a service: check-config's
// faults (line and column) and statuses, --print-config read back to the same
// configuration, and SIGHUP on real runs on loopback: the targets and ports
// that did not change keep going with their figures.

#include "fixture.h"

#include <csignal>

namespace {

QString program(const QStringList &arguments, int *status)
{
    QTemporaryDir dir;
    Headless run(dir.path(), arguments);
    run.waitForFinished(20000);
    *status = run.exitCode();
    return run.out() + run.err();
}

// The series of a metrics page by their names and labels (as user:password).
QMap<QString, double> scrape(const QString &web, const QString &user = "-:-")
{
    QProcess curl;
    curl.start("curl", {"-sf", "-u", user, "http://127.0.0.1:" + web + "/metrics"});
    curl.waitForFinished(5000);
    QMap<QString, double> page;
    for (const QString &line : QString::fromUtf8(curl.readAllStandardOutput()).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            page[line.section(' ', 0, 0)] = line.section(' ', 1).toDouble();
    return page;
}

void hangUp(QProcess &run)
{
    ::kill(pid_t(run.processId()), SIGHUP);
}

bool answers(const QString &port)
{
    QUdpSocket socket;
    socket.writeDatagram("++ AutoPing Query ++", QHostAddress::LocalHost, port.toUShort());
    return socket.waitForReadyRead(1000) && socket.receiveDatagram().data().contains("Response");
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    // Every fault of a file with its line and column, in the file's order;
    // the boundaries' good sides pass.
    void checkConfig_data()
    {
        columns<QByteArray, QString>("file", "said");
        dataRow("good, at every boundary",
                QByteArray("defaults: {interval: 10ms, timeout: 1ms, dscp: 63, size: 65507}\n"
                           "targets:\n  - {host: a, port: 1}\n  - {name: b, host: b, port: "
                           "65535, labels: {_x: 1}}\nrespond: [{protocol: stamp, port: 862, allow: "
                           "[0.0.0.0/0, "
                           "\"::1/128\"], budget: 10000000/20000000, budget_per_source: 1/1}]\n"),
                QString("F: good, 2 targets, 1 responder port\n"));
        dataRow("every key of the defaults",
                QByteArray("defaults:\n  protocol: icmp\n  interval: 9ms\n  timeout: 0\n  family: "
                           "ipv5\n  dscp: 64\n  size: 65508\n  labels: {__a: 1, le: 2, 9a: 3}\n"
                           "  colour: red\n  interval: 1s\n"),
                QString("F:2:13: protocol: \"icmp\" is none of tcp, udp, tls, connect, stamp\n"
                        "F:3:13: interval: \"9ms\" is out of range (10 ms to 2000000 s)\n"
                        "F:4:12: timeout: \"0\" is out of range (1 ms to 2000000 s)\n"
                        "F:5:11: family: \"ipv5\" is none of any, ipv4, ipv6\n"
                        "F:6:9: dscp: \"64\" is not a whole number from 0 to 63\n"
                        "F:7:9: size: \"65508\" is not a whole number from 0 to 65507\n"
                        "F:8:12: labels: \"__a\": names starting \"__\" are reserved\n"
                        "F:8:20: labels: \"le\" is a label of the program's own\n"
                        "F:8:27: labels: \"9a\" is no label name ([a-zA-Z_][a-zA-Z0-9_]*)\n"
                        "F:9:3: defaults: unknown key \"colour\" (known: protocol, interval, "
                        "timeout, family, dscp, size, source, interface, labels)\n"
                        "F:10:3: defaults: \"interval\" is given twice\n"));
        dataRow("targets",
                QByteArray("targets:\n  - {host: a, port: 0}\n  - {name: x, port: 65536}\n"
                           "  - {name: x, host: c}\n  - {host: d, port: 1, source: 192.0.2.1, "
                           "interface: eth0}\n  - 7\n  - {host: \"fe80::1%nosuch\", port: 1}\n"),
                QString("F:2:21: port: \"0\" is not a whole number from 1 to 65535\n"
                        "F:3:5: a target: no host\nF:3:21: port: \"65536\" is not a whole "
                        "number from 1 to 65535\nF:4:5: a target: no port\n"
                        "F:4:5: the name \"x\" is given twice (first at line 3)\n"
                        "F:5:5: source and interface: one of them, not both\n"
                        "F:6:5: a target: a map of keys and values expected\n"));
        dataRow("respond, metrics and the wrong kinds",
                QByteArray("defaults: [1]\ntargets: {a: 1}\nmetrics: 9464\nrespond:\n  - "
                           "{protocol: sctp, port: 8}\n  - {port: "
                           "7}\n  - {port: 7}\n  - {protocol: udp}\ntarget: []\n"),
                QString("F:1:11: defaults: a map of keys and values expected\n"
                        "F:2:10: targets: a list expected\n"
                        "F:3:10: metrics: \"9464\" is not ADDRESS:PORT (e.g. 127.0.0.1:9464)\n"
                        "F:5:16: protocol: \"sctp\" is none of tcp, udp, tls, stamp\n"
                        "F:7:5: udp port 7 on :: is given twice (first at line 6)\n"
                        "F:8:5: a respond entry: no port\nF:9:1: the file: unknown key "
                        "\"target\" (known: defaults, metrics, web_config, targets, respond)\n"));
        dataRow("a responder's limits",
                QByteArray("respond:\n  - {port: 7, allow: [10.0.0.0/8, 192.0.2.1/24, ::/129], "
                           "budget: 0.9, budget_per_source: 10000001}\n  - {port: 8, allow: "
                           "{a: 1}, budget: 5/0}\n"),
                QString("F:2:35: allow: 192.0.2.1/24 has bits set beyond /24 (the range is "
                        "192.0.2.0/24)\nF:2:49: allow: \"::/129\" is no address range (e.g. "
                        "192.0.2.0/24, 2001:db8::/32, 192.0.2.7)\nF:2:66: budget needs R or R/B: "
                        "answers a second from 1 to 10000000, and at most B at once (1 to 20000000;"
                        " default 2R)\nF:2:90: budget_per_source needs R or R/B: answers a second "
                        "from 1 to 10000000, and at most B at once (1 to 20000000; default 2R)\n"
                        "F:3:22: allow: a list expected\nF:3:38: budget needs R or R/B"));
        dataRow("web_config without metrics", QByteArray("web_config: c.yaml\n"),
                QString("F:1:13: web_config locks the metrics endpoint: it needs metrics\n"));
        dataRow("web_config missing", QByteArray("metrics: \"[::1]:1\"\nweb_config: w\n"),
                QString("F:2:13: web_config: Cannot read the web configuration %D/w: No such "));
        dataRow("web_config faulty", QByteArray("metrics: \"[::1]:1\"\nweb_config: c.yaml\n"),
                QString("F:2:13: web_config: %D/c.yaml:1:1: unknown key \"metrics\" in the web "));
        dataRow("an interface this machine lacks",
                QByteArray("targets: [{host: \"fe80::1%nosuch\", port: 1}]\n"),
                QString("F:1:11: "));
        dataRow("not YAML", QByteArray("targets: [\n"),
                QString("F:2:1: end of sequence flow not found\n"));
        dataRow("no such file", QByteArray(), QString("F: cannot be read: "));
    }
    void checkConfig()
    {
        const auto [file, said] = fetched<QByteArray, QString>("file", "said");
        QTemporaryDir dir;
        const QString path = dir.filePath("c.yaml");
        if (!file.isEmpty())
            writeFile(path, file);
        int got = -1;
        const QString told = program({"check-config", path}, &got);
        const QString want = QString(said).replace("F", path).replace("%D", dir.path());
        QCOMPARE(told.left(want.size()), want);
        QCOMPARE(got, said.contains(": good, ") ? 0 : 2);
    }

    // A run from a file that cannot be used does not start: 2, and why.
    void runRefused_data()
    {
        columns<QStringList, QByteArray, QString>("arguments", "file", "said");
        const QByteArray noPort("targets: [{host: h}]\n");
        dataRow("probe, a fault", QStringList{"probe"}, noPort,
                QString("Config Error:\tF:1:11: a target: no port\n"));
        dataRow("print, a fault", QStringList{"probe", "--print-config"}, noPort,
                QString("F:1:11: a target: no port\n"));
        dataRow("probe, no targets", QStringList{"probe"}, QByteArray("respond: [{port: 7}]\n"),
                QString("AutoPing Error:\tNo targets in F\n"));
        dataRow("respond, no ports", QStringList{"respond"},
                QByteArray("targets: [{host: h, port: 7}]\n"),
                QString("Config Error:\tNo ports to respond on in F\n"));
    }
    void runRefused()
    {
        const auto [arguments, file, said]
            = fetched<QStringList, QByteArray, QString>("arguments", "file", "said");
        QTemporaryDir dir;
        const QString path = dir.filePath("c.yaml");
        writeFile(path, file);
        int status = -1;
        QCOMPARE(program(arguments + QStringList{"--config", path}, &status),
                 QString(said).replace("F", path));
        QCOMPARE(status, 2);
    }

    // What --print-config prints is read back by --config to the same
    // configuration; options beside a file replace its defaults only.
    void printConfig_data()
    {
        columns<QStringList, QString>("arguments", "printed");
        dataRow("probe",
                QStringList{"probe", "--udp", "a", "7", "[2001:db8::1]", "9", "-i", "0.25", "-W",
                            "1", "--metrics", "127.0.0.1:9464"},
                QString("defaults:\n  protocol: udp\n  interval: 250ms\n  timeout: 1s\n  family: "
                        "any\n  dscp: 0\n  size: 0\n  labels: {}\nmetrics: \"127.0.0.1:9464\"\n"
                        "targets:\n  - name: a:7\n    host: a\n    port: 7\n  - name: "
                        "\"[2001:db8::1]:9\"\n    host: 2001:db8::1\n    port: 9\n"));
        dataRow("connects", QStringList{"probe", "--connect", "a", "7"},
                QString("  protocol: connect\n"));
        dataRow("respond",
                QStringList{"respond", "--tcp", "--port", "7010", "--local", "127.0.0.1", "--allow",
                            "192.0.2.0/24,2001:db8::1", "--budget", "5"},
                QString("respond:\n  - protocol: tcp\n    port: 7010\n    local: \"127.0.0.1\"\n"
                        "    allow: [192.0.2.0/24, 2001:db8::1/128]\n    budget: 5/10\n"));
        dataRow("a file under options",
                QStringList{"probe", "--config", "FILE", "-i", "2", "--tcp"},
                QString("  protocol: tcp\n  interval: 2s\n  timeout: 2s\n  family: ipv6\n  dscp: "
                        "5\n  size: 0\n  labels: {site: ams}\ntargets:\n  - name: t\n    host: "
                        "h\n    port: 7\n    protocol: udp\n    interval: 500ms\n"
                        "    labels: {role: a b}\n"));
    }
    void printConfig()
    {
        auto [arguments, printed] = fetched<QStringList, QString>("arguments", "printed");
        QTemporaryDir dir;
        const QString file = dir.filePath("in.yaml"), again = dir.filePath("again.yaml");
        writeFile(file, "defaults: {interval: 3s, family: ipv6, dscp: 5, labels: {site: ams}}\n"
                        "targets: [{name: t, host: h, port: 7, protocol: udp, interval: 500ms, "
                        "labels: {role: a b}}]\n");
        arguments.replaceInStrings("FILE", file);
        int status = -1;
        const QString first = program(arguments + QStringList{"--print-config"}, &status);
        QCOMPARE(status, 0);
        QVERIFY2(first.contains(printed), qPrintable(first));
        writeFile(again, first.toUtf8());
        QCOMPARE(program({arguments.first(), "--config", again, "--print-config"}, &status), first);
        QCOMPARE(status, 0);
    }

    // Named, labelled targets on the page; SIGHUP adds one and removes one,
    // the kept one's counters go on; a faulty file changes nothing.
    void probeReloads()
    {
        QTemporaryDir dir;
        const QString udp = QString::number(freePort(true)), web = QString::number(freePort());
        const QString file = dir.filePath("p.yaml");
        const auto configure = [&](const QStringList &names) {
            QByteArray text = "defaults: {interval: 100ms, labels: {site: \"a\\\"b\"}}\nmetrics: "
                              "\"127.0.0.1:"
                              + web.toUtf8() + "\"\ntargets:\n";
            for (const QString &name : names)
                text += "  - {name: " + name.toUtf8() + ", host: localhost, port: " + udp.toUtf8()
                        + ", labels: {role: r" + name.toUtf8() + "}}\n";
            writeFile(file, text);
        };
        Headless responder(dir.path(), {"respond", "--udp", "--port", udp, "--local", "127.0.0.1"});
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += responder.out()).contains("Open"), 10000);
        configure({"kept", "gone"});
        Headless probe(dir.path(), {"probe", "--config", file});
        const auto series = [](const char *family, const char *name) {
            return QString("selmarin_probe_%1{target=\"%2\",site=\"a\\\"b\",role=\"r%2\"}")
                .arg(family, name);
        };
        const QString kept = series("answered_total", "kept");
        QTRY_VERIFY_WITH_TIMEOUT(scrape(web).value(kept) >= 3, 10000);
        const QMap<QString, double> before = scrape(web);
        QVERIFY(before.contains(series("up", "gone")));

        configure({"kept", "new"});
        hangUp(probe);
        QString out, err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += probe.out())
                .contains(file + " read again: 1 targets kept, 1 started, 1 stopped"),
            10000);
        QVERIFY(out.contains("--- gone AutoPing statistics ---"));
        QTRY_VERIFY_WITH_TIMEOUT(scrape(web).value(series("answered_total", "new")) >= 1, 10000);
        const QMap<QString, double> after = scrape(web);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (it.key().contains("target=\"kept\"") && it.key().contains("_total"))
                QVERIFY2(after.value(it.key()) >= it.value(), qPrintable(it.key()));
        QVERIFY(after.value(kept) > before.value(kept));
        QVERIFY(!QStringList(after.keys()).join(' ').contains("gone"));

        writeFile(file, "targets:\n  - {name: kept, host: localhost, port: 0}\n");
        hangUp(probe);
        QTRY_VERIFY_WITH_TIMEOUT((err += probe.err()).contains("stays as it was"), 10000);
        QVERIFY(err.contains(file + ":2:41: port: \"0\" is not a whole number from 1 to 65535\n"));
        QTRY_VERIFY_WITH_TIMEOUT(scrape(web).value(kept) > after.value(kept), 10000);
        QCOMPARE(QStringList(scrape(web).keys()).filter("probe_up"),
                 QStringList(after.keys()).filter("probe_up"));

        hangUp(responder);
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += responder.out())
                .contains("No configuration file to read again (--config): nothing changes"),
            10000);
        QVERIFY(probe.endsWith(0, true) || probe.exitCode() == 1);
        QVERIFY(responder.endsWith(0, true));
    }

    // A responder's entry that did not change keeps its socket and its
    // count, and so does one with only a new allow-list; the changed one
    // opens on its new port and leaves the old; a web_config locks the page.
    void respondReloads()
    {
        QTemporaryDir dir;
        const QString a = QString::number(freePort(true)), b = QString::number(freePort(true)),
                      c = QString::number(freePort(true)), web = QString::number(freePort());
        const QString file = dir.filePath("r.yaml");
        const auto configure = [&](const QString &second, const QString &own = {}) {
            writeFile(file, ("metrics: \"127.0.0.1:" + web + "\"\nrespond:\n  - {port: " + a
                             + ", local: 127.0.0.1" + own + "}\n  - {port: " + second
                             + ", local: 127.0.0.1}\n")
                                .toUtf8());
        };
        configure(b);
        Headless run(dir.path(), {"respond", "--config", file});
        QTRY_VERIFY_WITH_TIMEOUT(!scrape(web).isEmpty(), 10000);
        QVERIFY(answers(a) && answers(b));
        const QString series = "selmarin_responder_answered_total{port=\"%1\",protocol=\"udp\"}";
        QCOMPARE(scrape(web).value(series.arg(a)), 1.0);
        configure(c, ", allow: [192.0.2.0/24]");
        hangUp(run);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += run.out())
                                     .contains(file
                                               + " read again: 1 ports kept (1 with new "
                                                 "limits), 1 opened, 1 closed\n"),
                                 10000);
        QVERIFY(!answers(a) && answers(c) && !answers(b));
        const QMap<QString, double> page = scrape(web);
        QCOMPARE(page.value(series.arg(a)), 1.0);
        QCOMPARE(page.value(series.arg(c)), 1.0);
        QVERIFY(!page.contains(series.arg(b)));
        writeFile(dir.filePath("w.yml"),
                  "basic_auth_users: {alice: $2b$04$N8an.Qj2TdmeVrQnTHHxdueOG"
                  "2KC4OogFhu1tF.96DUx.zbM8HY8K}\n");
        writeFile(file, readFile(file) + "web_config: w.yml\n");
        hangUp(run);
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += run.out()).contains(file + " read again: 2 ports kept, 0 opened, 0 closed\n"),
            10000);
        QVERIFY(scrape(web).isEmpty() && scrape(web, "alice:secret").value(series.arg(c)) == 1.0);
        QVERIFY(run.endsWith(0, true));
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
