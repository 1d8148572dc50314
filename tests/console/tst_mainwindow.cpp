// The main window as the user meets it: captions, tool tips, access keys, the
// mode, protocol and local port handlers, the messages pane, the keyboard.
#include "console/frmmain.h"
#include "console/statuslight.h"
#include "runlog/runlog.h"
#include "startup/globals.h"
#include "support/fakes.h"
#include "ui_frmmain.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestGlobals> m_globals;
    std::unique_ptr<FrmMain> m_window;
    QTemporaryDir m_dir;

    Ui::FrmMain &ui() { return m_window->form(); }

private slots:
    void init()
    {
        m_globals = std::make_unique<TestGlobals>();
        m_globals->adapters->adapters = {MakeAdapter({"192.0.2.10"}, {"255.255.255.0"})};
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path() + "/Selmarin");
        m_globals->env->variables = {{"PROGRAMFILES", m_dir.path()}, {"COMPUTERNAME", "PC17"}};
        QVERIFY(Globals::instance().LogStream().LogOpen());
        m_window = std::make_unique<FrmMain>();
        m_window->Form_Load();
    }
    void cleanup()
    {
        m_window.reset();
        m_globals.reset();
    }

    void captionsAndToolTips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tip");
        QTest::newRow("client") << "optMode_0" << "C&lient" << "This selection causes Selmarin to act as a client to a remote server application";
        QTest::newRow("server") << "optMode_1" << "S&erver" << "This selection causes Selmarin to act as a server for a remote client";
        QTest::newRow("tcp") << "optProtocol_0" << "&TCP" << "This selection causes Selmarin to use the TCP protocol";
        QTest::newRow("udp") << "optProtocol_1" << "&UDP" << "This selection causes Selmarin to use the UDP protocol";
        QTest::newRow("connect") << "cmdConnect" << "&Connect" << "Causes the tool to connect to the remote according to the data specified in the \"Remote\" and \"Local\" frames";
        QTest::newRow("remotes") << "cmdRemotes" << "&Remotes" << "Allows editing and load/save of the remote host list";
        QTest::newRow("send") << "cmdSend" << "&Send" << "Causes the tool to transmit whatever is contained in the Send Msg textbox if a conenction is active";
        QTest::newRow("autoping") << "cmdAutoPing" << "&Auto Ping" << "";
        QTest::newRow("mode") << "fraMode" << "Mode" << "Defines the opertaing mode for the tool; either as a client (connects) or server (accepts).";
        QTest::newRow("protocol") << "fraProtocol" << "Protocol" << "Defines the IP protocol to be used.";
        QTest::newRow("local") << "fraLocal" << "Local" << "The IP address and port to be used for the local tool";
        QTest::newRow("remote") << "fraRemote" << "Remote" << "The host name or IP address and port to be used for the remote host";
        QTest::newRow("msgs") << "fraMsgs" << "Rcv Msgs && Status" << "";
        QTest::newRow("sendframe") << "fraSend" << "Send Msg" << "";
        QTest::newRow("lights") << "fraLights" << "" << "Indicates the current connection state";
        QTest::newRow("locaddr") << "cboLocAddress" << "" << "Defines the IP address to be used for the local tool.  When in client mode, the IP address cannot be specified";
        QTest::newRow("remaddr") << "cboRemAddress" << "" << "Defines the IP address or hostname to be connected to.  When in server mode, this is disabled";
        QTest::newRow("locport") << "txtLocPort" << "" << "Any decimal number between 1 and 65535";
        QTest::newRow("remport") << "txtRemPort" << "" << "Any decimal number between 1 and 65535";
        QTest::newRow("pane") << "txtMsgs" << "" << "Displays status message and any data transmitted or received";
        QTest::newRow("sendbox") << "txtSend" << "" << "Enter any text you wish to send here";
    }
    void captionsAndToolTips()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, tip);
        QWidget *w = m_window->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QString text = w->property("text").toString();
        if (text.isEmpty())
            text = w->property("title").toString();
        if (!caption.isEmpty())
            QCOMPARE(text, caption);
        if (!tip.isEmpty())
            QCOMPARE(w->toolTip(), tip);
        else
            QVERIFY(name != "cmdAutoPing" || !w->toolTip().contains("remote host list"));
    }

    // What the idle layout does not show: the adapter list, the lights, the pane.
    void loadStartsIdle()
    {
        QCOMPARE(ui().cboLocAddress->count(), 1);
        QCOMPARE(ui().cboLocAddress->itemText(0), QStringLiteral("192.0.2.10"));
        QCOMPARE(ui().cboRemAddress->currentText(), QString());
        QCOMPARE(ui().shpError->FillColor(), 0x0000FFu);
        QVERIFY(!ui().shpProg->isLit() && !ui().shpOk->isLit());
        QVERIFY(m_window->msgsText().isEmpty());
    }

    // The idle layout for every mode and protocol, reached from the other mode;
    // a mode change clears the pane, a protocol change does not.
    void idleLayout_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("title");
        QTest::newRow("tcp client") << 0 << 0 << "&Connect" << "Selmarin in Client Mode";
        QTest::newRow("udp client") << 0 << 1 << "&Bind" << "Selmarin in Client Mode";
        QTest::newRow("tcp server") << 1 << 0 << "L&isten" << "Selmarin in Server Mode";
        QTest::newRow("udp server") << 1 << 1 << "&Bind" << "Selmarin in Server Mode";
    }
    void idleLayout()
    {
        QFETCH(int, mode);
        QFETCH(int, protocol);
        if (!mode)
            QTest::mouseClick(ui().optMode_1, Qt::LeftButton);
        QTest::mouseClick(mode ? ui().optMode_1 : ui().optMode_0, Qt::LeftButton);
        m_window->AddToMsgsBox("Winsock", "kept\r\n");
        ui().txtLocPort->setText("8080");
        QTest::mouseClick(protocol ? ui().optProtocol_1 : ui().optProtocol_0, Qt::LeftButton);
        QVERIFY(!m_window->msgsText().isEmpty());
        QTEST(ui().cmdConnect->text(), "caption");
        // Its accessible name follows, without the access key mark.
        QCOMPARE(QAccessible::queryAccessibleInterface(ui().cmdConnect)->text(QAccessible::Name),
                 ui().cmdConnect->text().remove(u'&'));
        QTEST(m_window->windowTitle(), "title");
        QCOMPARE(m_window->ServerMode, bool(mode));
        QCOMPARE(m_window->UseTCP, !protocol);
        QCOMPARE(ui().cboLocAddress->isEnabled(), mode || protocol);
        QCOMPARE(ui().cboRemAddress->isEnabled(), !mode);
        QCOMPARE(ui().txtRemPort->isEnabled(), !mode);
        // A client's idle refresh puts "0" back; a server keeps the typed port.
        QCOMPARE(ui().txtLocPort->text(), mode ? QStringLiteral("8080") : QStringLiteral("0"));
        QVERIFY(ui().fraMode->isEnabled() && ui().fraProtocol->isEnabled() && ui().txtLocPort->isEnabled());
        QVERIFY(!ui().cmdSend->isEnabled() && !ui().txtSend->isEnabled() && !ui().cmdAutoPing->isEnabled());
        QCOMPARE(m_window->defaultButton(), ui().cmdConnect);
        QTest::mouseClick(mode ? ui().optMode_0 : ui().optMode_1, Qt::LeftButton);
        QVERIFY(m_window->msgsText().isEmpty());
    }

    void localPortKeepsDigitsBeforeFirstNonDigit_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("letter at end") << "8a" << "8";
        QTest::newRow("letter inside") << "12a34" << "12";
        QTest::newRow("digits") << "65535" << "65535";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blank first") << " 80" << "";
        QTest::newRow("above range kept") << "99999" << "99999";
    }
    void localPortKeepsDigitsBeforeFirstNonDigit()
    {
        QFETCH(QString, typed);
        ui().txtLocPort->clear();
        ui().txtLocPort->setText(typed); // as a paste
        QTEST(ui().txtLocPort->text(), "kept");
    }

    void localPortTyping()
    {
        ui().txtLocPort->clear();
        QTest::keyClicks(ui().txtLocPort, "8a0123456");
        QCOMPARE(ui().txtLocPort->text(), QStringLiteral("80123"));
        ui().txtRemPort->setText("ab");
        QCOMPARE(ui().txtRemPort->text(), QStringLiteral("ab")); // not filtered
        QCOMPARE(ui().txtRemPort->maxLength(), 5);
    }

    void paneLines_data()
    {
        QTest::addColumn<QString>("speaker");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "Winsock" << "Connection completed\r\n" << "Winsock:\tConnection completed\r\n";
        QTest::newRow("you") << "You" << "hello\r\n" << "127.0.0.1:\thello\r\n";
        QTest::newRow("remote closed") << "Remote" << "x\r\n" << ":\tx\r\n";
        QTest::newRow("case differs") << "you" << "y\r\n" << "you:\ty\r\n";
        QTest::newRow("no line end") << "A" << "b" << "A:\tb";
    }
    void paneLines()
    {
        QFETCH(QString, speaker);
        QFETCH(QString, sentence);
        QFETCH(QString, line);
        if (speaker == "You")
            line.replace("127.0.0.1", m_window->Winsock1.LocalIP());
        m_window->AddToMsgsBox(speaker, sentence);
        QCOMPARE(m_window->msgsText(), line);
        QCOMPARE(ui().txtMsgs->textCursor().position(), ui().txtMsgs->document()->characterCount() - 1);
        QFile file(Globals::instance().LogStream().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll()).endsWith("-- 5:15:09 AM\t" + line));
    }

    void clsEmptiesPaneAndLogsNothing()
    {
        m_window->AddToMsgsBox("A", "one\r\n");
        const qint64 before = QFileInfo(Globals::instance().LogStream().fileName()).size();
        m_window->AddToMsgsBox("cls", "ignored\r\n");
        QVERIFY(m_window->msgsText().isEmpty());
        QCOMPARE(ui().txtMsgs->textCursor().position(), 0);
        QCOMPARE(QFileInfo(Globals::instance().LogStream().fileName()).size(), before);
    }

    void enterPressesDefaultButtonCtrlEnterBreaksLine()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        int connects = 0;
        connect(ui().cmdConnect, &QPushButton::clicked, this, [&] { ++connects; });
        ui().cboRemAddress->setFocus();
        QTest::keyClick(ui().cboRemAddress, Qt::Key_Return);
        QCOMPARE(connects, 1);

        ui().txtSend->setEnabled(true);
        ui().txtSend->setFocus();
        QTest::keyClicks(ui().txtSend, "ab");
        QTest::keyClick(ui().txtSend, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClicks(ui().txtSend, "c");
        QCOMPARE(ui().txtSend->toPlainText(), QStringLiteral("ab\nc"));
        QTest::keyClick(ui().txtSend, Qt::Key_Enter);
        QCOMPARE(connects, 2);

        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(m_window->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
