// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Start-up as the user meets it: the window or the message box each way
// start-up can go, where the log goes and what the machine is called, and the
// real program started once.

#include "fixture.h"

#include <QComboBox>
#include <QImage>
#include <QNetworkInterface>

#include <csignal>

Q_DECLARE_METATYPE(Setup)

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // The adapters, whether the program folder is there, the server list
    // file; then the message box (none: the window shows), the pane and the
    // log ("%1": the program folder, "@": a record's time), and the local
    // and remote address lists of a shown window.
    void startOrStop_data()
    {
        columns<QString, bool, QByteArray, QString, QString, QString, QStringList, QStringList>(
            "adapters", "folder", "servers", "box", "pane", "log", "locals", "remotes");
        const QString one = "192.0.2.10|255.255.255.0",
                      first = "Selmarin, running on PC17; started 12/4/2026 5:15:09 AM\r\n";
        const QString missing
            = "** Error 0x666:\t in mdlMain.LoadServers; %1Servers.xml does not exist.\r\n";
        const QString noConnection
            = "I can't find an active network connection; check your connections and restart me.";
        const QString noAddress
            = "** Error 0x29A in frmMain.Form_Load; Failed to get the local IP list\r\n";
        const QString noList = "** Error 0x29A:\t in mdlMain.Main; Couldn't read the local IP "
                               "list..\r\nraising the local ip error";
        const QString denied = "** Error 0x80041003:\t in mdlMain.GetLocIPs; Access denied\r\n@"
                               "** Error 0x80041003:\t in mdlMain.CheckConnected; Access "
                               "denied\r\ngetting IP-enabled NICs";
        // The IPv6 addresses after every IPv4 one.
        dataRow("full start",
                "192.0.2.10,2001:db8::7|255.255.255.0;198.51.100.7,fe80::1%eth1|255.255.0.0", true,
                QByteArray(), "", missing, first + '@' + missing,
                QStringList{"192.0.2.10", "198.51.100.7", "2001:db8::7", "fe80::1%eth1"},
                QStringList());
        dataRow("IPv6 only", "fd00::1|", true, QByteArray(), "", missing, first + '@' + missing,
                QStringList{"fd00::1"}, QStringList());
        dataRow("saved servers offered", one, true,
                QByteArray("<Selmarin><Server>alpha</Server><Server>10.1.2.3</Server></Selmarin>"),
                "", "", first, QStringList{"192.0.2.10"}, QStringList{"alpha", "10.1.2.3"});
        dataRow("no program folder", one, false, QByteArray(), "",
                "** Error 0x4C:\t in mdlMain.LogOpen; Path not found\r\n"
                "** Error 0x29A:\t in mdlMain.Main; Couldn't open the log file\r\nraising the file "
                "open error",
                "", QStringList{"192.0.2.10"}, QStringList());
        dataRow("no adapter", "", true, QByteArray(), noConnection, "", first, QStringList(),
                QStringList());
        dataRow("only empty masks", "192.0.2.10|_", true, QByteArray(), noConnection, "", first,
                QStringList(), QStringList());
        dataRow("adapters cannot be asked", "fail", true, QByteArray(), noAddress,
                QString(denied).remove('@'), first + '@' + denied, QStringList(), QStringList());
        dataRow("no local address", "|255.255.255.0", true, QByteArray(), noAddress,
                missing + noList, first + '@' + missing + '@' + noList, QStringList(),
                QStringList());
    }
    void startOrStop()
    {
        auto [box, pane, log, servers, adapters, folder]
            = fetched<QString, QString, QString, QByteArray, QString, bool>(
                "box", "pane", "log", "servers", "adapters", "folder");
        Program p({.adapters = adapters, .makeFolder = folder});
        QVERIFY(servers.isEmpty() || writeFile(p.folder() + "Servers.xml", servers));
        p.start();
        QCOMPARE(p.messages(), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(p.window() && p.window()->isVisible(), box.isEmpty());
        QCOMPARE(p.pane(), pane.replace("%1", p.folder()));
        QCOMPARE(p.log(), log.replace("%1", p.folder()).replace("@", "-- 5:15:09 AM\t"));
        if (box.isEmpty()) {
            QTEST(p.entries("cboLocAddress"), "locals");
            QTEST(p.entries("cboRemAddress"), "remotes");
            QCOMPARE(p.control<QComboBox>("cboRemAddress")->currentText(), QString());
        }
    }

    // Where the names come from when the variables are not set, as the log's
    // name and first line and the "yourself" check show them.
    void machineNames_data()
    {
        // log: below the program's folder
        // self: refused as the machine itself
        columns<Setup, QString, QString>("setup", "log", "self");
        dataRow("as set",
                Setup{.computerName = "HOST9",
                      .dnsDomain = "CORP.EXAMPLE.COM",
                      .hostName = "other",
                      .localDomain = "x.example"},
                "/Selmarin/HOST9_12-4-2026.log", "host9.corp.example.com");
        dataRow("from the host",
                Setup{.computerName = "",
                      .hostName = "builder.lab.example.org",
                      .localDomain = "lab.example.org"},
                "/Selmarin/BUILDER_12-4-2026.log", "builder.lab.example.org");
        dataRow("trailing dot, data folder",
                Setup{.dataHome = true,
                      .computerName = "",
                      .hostName = "pc",
                      .localDomain = "corp.example."},
                "/data/Selmarin/PC_12-4-2026.log", "pc.corp.example");
    }
    void machineNames()
    {
        auto [setup, log, self] = fetched<Setup, QString, QString>("setup", "log", "self");
        QTemporaryDir dir;
        setup.programFiles = dir.path();
        Program p(setup);
        QVERIFY(p.start());
        QVERIFY2(p.logPath().endsWith(log), qPrintable(p.logPath()));
        QVERIFY(p.log().startsWith("Selmarin, running on "
                                   + log.section(u'/', -1).section(u'_', 0, 0) + "; started "));
        QString reason;
        QVERIFY(!p.checkAddress(self, &reason));
        QCOMPARE(reason, QStringLiteral("Cannot connect to yourself"));
    }

    // With no display and no platform chosen the window cannot open: a
    // sentence that says so and what works instead, exit 2, and no log.
    void noDisplay()
    {
        QTemporaryDir dir;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("PROGRAMFILES", dir.path());
        program.setProcessEnvironment(env);
        program.start(SELMARIN_PROGRAM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 2);
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(err.startsWith("selmarin: There is no display to open the window on")
                     && err.contains("selmarin respond|probe|diagnose|load")
                     && err.contains("./run"),
                 qPrintable(err));
    }

    // The real executable on this machine's adapters: it shows its window
    // (the minimal platform saves each picture of it that it draws), and the
    // pane's first line follows the log's first line.  The program offers
    // no way to be closed from outside, so SIGTERM ends it.
    void realProgram()
    {
        const auto addresses = QNetworkInterface::allAddresses();
        if (std::none_of(addresses.begin(), addresses.end(), [](const QHostAddress &a) {
                return a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback();
            }))
            QSKIP("no network adapter: the program would show its message box and wait");
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + "/Selmarin"));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[name, value] : {std::pair{"PROGRAMFILES", dir.path()},
                                          {"COMPUTERNAME", "PC17"},
                                          {"QT_QPA_PLATFORM", "minimal:enable_fonts"},
                                          {"QT_DEBUG_BACKINGSTORE", "1"}})
            env.insert(name, value);
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.start(SELMARIN_PROGRAM);
        QTRY_VERIFY_WITH_TIMEOUT(QImage(dir.filePath("output0000.png")).width() > 300, 20000);
        const QStringList logs = QDir(dir.path() + "/Selmarin").entryList({"PC17_*.log"});
        QCOMPARE(logs.size(), 1);
        const QString log = QString::fromUtf8(readFile(dir.path() + "/Selmarin/" + logs[0]));
        QVERIFY2(log.startsWith("Selmarin, running on PC17; started ")
                     && log.contains("\t** Error 0x666:\t in mdlMain.LoadServers; "),
                 qPrintable(log));
        QCOMPARE(program.state(), QProcess::Running);
        // SIGTERM (a session's end) closes the window as the user would.
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QRegularExpression("\r\nSelmarin, running on PC17; ended [^\r\n]+\r\n\r\n$")
                    .match(QString::fromUtf8(readFile(dir.path() + "/Selmarin/" + logs[0])))
                    .hasMatch());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
