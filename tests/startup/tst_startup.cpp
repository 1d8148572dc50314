// The start-up sequence and how it stops.
#include "console/frmmain.h"
#include "runlog/runlog.h"
#include "startup/globals.h"
#include "startup/startup.h"
#include "support/fakes.h"
#include "ui_frmmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Globals whose start-up tables are still empty, as before Main.
    static void emptyTables()
    {
        Globals::instance().Protocol = NameTable();
        Globals::instance().States = NameTable();
    }

    void pinFolder(TestGlobals &t, bool createSelmarin)
    {
        t.env->variables = {{"PROGRAMFILES", m_dir.path()}, {"COMPUTERNAME", "PC17"}};
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        if (createSelmarin)
            QDir().mkpath(m_dir.path() + "/Selmarin");
    }

    static QString logText()
    {
        QFile file(Globals::instance().LogStream().buildFileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void tablesAreFilledInCodeOrder()
    {
        TestGlobals t;
        emptyTables();
        pinFolder(t, false); // stops at the log, after the tables
        Main();
        const Globals &g = Globals::instance();
        QCOMPARE(g.Protocol.count(), 2);
        QCOMPARE(g.States.count(), 10);
        QCOMPARE(g.States.name(0), QStringLiteral("Closed"));
        QCOMPARE(g.States.name(4), QStringLiteral("Resolving Host"));
        QCOMPARE(g.States.name(9), QStringLiteral("Error"));
    }

    void missingLogFolderGivesTwoLinesOnce()
    {
        TestGlobals t(false); // the real window takes the report
        t.adapters->adapters = {MakeAdapter({"192.0.2.10"}, {"255.255.255.0"})};
        emptyTables();
        pinFolder(t, false);
        QVERIFY(!Main());
        Globals &g = Globals::instance();
        QVERIFY(g.hasFrmMain());
        QVERIFY(g.frmMain().isVisible()); // the user sees the report
        const QString pane = g.frmMain().msgsText();
        QVERIFY2(pane.startsWith(QStringLiteral("** Error 0x4C:\t in mdlMain.LogOpen; Path not found\r\n")), qPrintable(pane));
        QVERIFY(pane.endsWith(QStringLiteral("** Error 0x29A:\t in mdlMain.Main; Couldn't open the log file\r\n"
                                             "raising the file open error")));
        QCOMPARE(pane.count(QStringLiteral("** Error")), 2);
        QVERIFY(!g.LogStream().isOpen());
    }

    void noConnectedAdapterShowsBoxAndNoWindow_data()
    {
        QTest::addColumn<AdapterSet>("adapters");
        QTest::newRow("no adapter") << AdapterSet{};
        QTest::newRow("empty masks") << AdapterSet{MakeAdapter({"192.0.2.10"}, {""}), MakeAdapter({}, {})};
    }
    void noConnectedAdapterShowsBoxAndNoWindow()
    {
        QFETCH(AdapterSet, adapters);
        TestGlobals t(false);
        t.adapters->adapters = adapters;
        emptyTables();
        pinFolder(t, true);
        QVERIFY(!Main());
        QCOMPARE(t.dialogs->messages, QStringList{
            "I can't find an active network connection; check your connections and restart me."});
        QVERIFY(!Globals::instance().hasFrmMain());
        const QString log = logText();
        QVERIFY(log.startsWith(QStringLiteral("Selmarin, running on PC17; started 12/4/2026 5:15:09 AM\r\n")));
        QVERIFY(!log.contains(QStringLiteral("; ended ")));
    }

    void adapterQueryFailureReportsStepWithoutBox()
    {
        TestGlobals t;
        t.adapters->fail = true;
        emptyTables();
        pinFolder(t, true);
        QVERIFY(!Main());
        QVERIFY(t.dialogs->messages.isEmpty());
        QCOMPARE(t.sink.lines.size(), 1);
        QCOMPARE(t.sink.lines[0].sentence, QStringLiteral(" in mdlMain.CheckConnected; Access denied\r\n"
                                                          "getting IP-enabled NICs"));
    }

    void noLocalAddressStopsStartup()
    {
        TestGlobals t;
        t.adapters->adapters = {MakeAdapter({}, {"255.255.255.0"})}; // connected, but no address
        emptyTables();
        pinFolder(t, true);
        QVERIFY(!Main());
        const PaneLine last = t.sink.lines.last();
        QCOMPARE(last.speaker, QStringLiteral("** Error 0x29A"));
        QCOMPARE(last.sentence, QStringLiteral(" in mdlMain.Main; Couldn't read the local IP list..\r\n"
                                               "raising the local ip error"));
    }

    void fullStartShowsTheWindow()
    {
        TestGlobals t(false);
        t.adapters->adapters = {MakeAdapter({"192.0.2.10", "198.51.100.7"}, {"255.255.255.0", "255.255.0.0"})};
        emptyTables();
        pinFolder(t, true);
        QVERIFY(Main());
        FrmMain &w = Globals::instance().frmMain();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("Selmarin in Client Mode"));
        QVERIFY(t.dialogs->messages.isEmpty());
        // The missing server list was reported before the show: that line
        // made and loaded the window, and the pane starts with it alone.
        const QString path = m_dir.path() + "/Selmarin/Servers.xml";
        QCOMPARE(w.msgsText(), "** Error 0x666:\t in mdlMain.LoadServers; " + path + " does not exist.\r\n");
        QCOMPARE(w.form().cboRemAddress->count(), 0);
        QCOMPARE(w.form().cboLocAddress->count(), 2);
    }

    void savedServersAreOffered()
    {
        TestGlobals t(false);
        t.adapters->adapters = {MakeAdapter({"192.0.2.10"}, {"255.255.255.0"})};
        emptyTables();
        pinFolder(t, true);
        QFile file(m_dir.path() + "/Selmarin/Servers.xml");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<Selmarin><Server>alpha</Server><Server>10.1.2.3</Server></Selmarin>");
        file.close();
        QVERIFY(Main());
        FrmMain &w = Globals::instance().frmMain();
        QVERIFY(w.msgsText().isEmpty());
        QCOMPARE(w.form().cboRemAddress->count(), 2);
        QCOMPARE(w.form().cboRemAddress->itemText(1), QStringLiteral("10.1.2.3"));
        QCOMPARE(w.form().cboRemAddress->currentText(), QString());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
