// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The command line: the real executable with no display at all (no DISPLAY,
// no WAYLAND_DISPLAY, no Qt platform), as respond and probe on loopback.  So
// the session, the probe, the socket and the log work with no window.

#include "fixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    // Wrong arguments and refused hosts end the run with 2 and say why; a
    // probe that nobody answers ends with 1.
    void endings_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::newRow("port 0") << QStringList{"respond", "--tcp", "--port", "0"}
                                << "selmarin: respond needs --port N, N from 1 to 65535.\n"
                                << 2;
        QTest::newRow("port 65536") << QStringList{"probe", "--udp", "h", "65536"}
                                    << "selmarin: PORT must be a number from 1 to 65535.\n"
                                    << 2;
        QTest::newRow("two protocols") << QStringList{"probe", "--tcp", "--udp", "h", "1"}
                                       << "selmarin: Choose one protocol: --tcp, --udp or --tls.\n"
                                       << 2;
        QTest::newRow("unknown command")
            << QStringList{"ping"} << "selmarin: Unknown command \"ping\"; try --help.\n"
            << 2;
        QTest::newRow("loopback")
            << QStringList{"probe", "--tcp", "127.0.0.1", "7"}
            << "++ PEBKAC:\tLocalHost IP addresses (127.x.x.x) are not valid\n"
            << 2;
        QTest::newRow("port in use")
            << QStringList{"respond", "--udp", "--port", "-"} << "Address in use" << 2;
        QTest::newRow("nobody answers")
            << QStringList{"probe", "--udp", "localhost", "+", "--count", "1"}
            << "1 packets transmitted, 0 received, 100% packet loss\n"
            << 1;
    }
    void endings()
    {
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        QUdpSocket taken; // holds the port a responder is refused
        if (arguments.contains("-")) {
            taken.bind(QHostAddress::Any, 0);
            arguments.replace(arguments.indexOf("-"), QString::number(taken.localPort()));
        }
        arguments.replaceInStrings("+", QString::number(freePort(true)));
        Headless run(dir.path(), arguments);
        QFETCH(int, status);
        QVERIFY(run.endsWith(status));
        QFETCH(QString, said);
        const QString told = run.err() + run.out();
        QVERIFY2(told.contains(said), qPrintable(told));
    }

    // Two responders and a probe share the day's log: every run and every
    // record is there whole.  The probe gets its answers, prints ping's
    // summary and ends with 0; the responders end with 0 on SIGTERM.
    void probeAndResponders()
    {
        QTemporaryDir dir;
        const quint16 udp = freePort(true), tcp = freePort();
        Headless udpServer(dir.path(), {"respond", "--udp", "--port", QString::number(udp)});
        Headless tcpServer(dir.path(), {"respond", "--tcp", "--port", QString::number(tcp),
                                        "--local", "127.0.0.1"});
        // Each says so at once, not only when it ends.
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += udpServer.out() + tcpServer.out()).contains("Winsock:\tOpen\n")
                && told.contains("Winsock:\tListening\n"),
            10000);
        Headless probe(dir.path(),
                       {"probe", "--udp", "localhost", QString::number(udp), "--count", "2"});
        QVERIFY(probe.endsWith(0));
        const QString out = probe.out();
        QVERIFY2(out.contains(QRegularExpression(
                     "\n--- localhost:" + QString::number(udp)
                     + " AutoPing statistics ---\n"
                       "2 packets transmitted, 2 received, 0% packet loss\n"
                       "rtt min/avg/max/mdev = [0-9.]+/[0-9.]+/[0-9.]+/[0-9.]+ ms\n$")),
                 qPrintable(out));
        QVERIFY(udpServer.endsWith(0, true) && tcpServer.endsWith(0, true));

        const QString log = QString::fromUtf8(readFile(logIn(dir.path())));
        QCOMPARE(log.count("; started "), 3);
        QCOMPARE(log.count("; ended "), 3);
        QCOMPARE(log.count(":\t++ AutoPing Query ++\r\n"), 4); // sent, and received
        QCOMPARE(log.count(":\t++ AutoPing Response ++\r\n"), 4);
        for (const QString &line : log.split("\r\n"))
            QVERIFY2(line.isEmpty() || line.startsWith("-- ")
                         || line.startsWith("Selmarin, running on PC17; "),
                     qPrintable(line));
    }

    // probe --tls against respond --tls, whose certificate is made on first
    // use: verified with it as --cacert, refused (status 2) without it,
    // accepted with --insecure.
    void tlsProbe_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        QTest::newRow("cacert") << QStringList{"--cacert", "@"} << "TLS:\tCertificate verified"
                                << 0;
        QTest::newRow("system store") << QStringList{} << "is self-signed, and untrusted\n" << 2;
        QTest::newRow("insecure") << QStringList{"--insecure"} << "TLS:\tGoing on without" << 0;
    }
    void tlsProbe()
    {
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        const QString port = QString::number(freePort());
        Headless server(dir.path(), {"respond", "--tls", "--port", port, "--local", "127.0.0.1"});
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += server.out()).contains("Winsock:\tListening\n"), 10000);
        Headless probe(dir.path(),
                       QStringList{"probe", "--tls", "localhost", port, "--count", "1"}
                           + options.replaceInStrings("@", dir.path() + "/Selmarin/tls-cert.pem"));
        QFETCH(int, status);
        QVERIFY(probe.endsWith(status));
        QFETCH(QString, said);
        const QString out = probe.out() + probe.err();
        QVERIFY2(out.contains(said), qPrintable(out));
        QVERIFY(server.endsWith(0, true));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
