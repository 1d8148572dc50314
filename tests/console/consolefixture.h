#pragma once
// A loaded main window on fresh globals, with the log in a temporary folder,
// for tests that drive the console against real peers on loopback.

#include "console/frmmain.h"
#include "runlog/runlog.h"
#include "startup/globals.h"
#include "support/fakes.h"
#include "ui_frmmain.h"

#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class ConsoleFixture
{
public:
    ConsoleFixture()
    {
        globals = std::make_unique<TestGlobals>(false); // module lines go to the real pane
        // One adapter that is not loopback: loopback addresses are refused as
        // remote addresses, so clients reach the peers as "localhost".
        globals->adapters->adapters = {MakeAdapter({"192.0.2.10"}, {"255.255.255.0"})};
        Globals::instance().adapterSet = globals->adapters->adapters; // as the start-up check takes it
        QDir().mkpath(dir.path() + "/Selmarin");
        globals->env->variables = {{"PROGRAMFILES", dir.path()}, {"COMPUTERNAME", "PC17"}};
        Globals::instance().LogStream().LogOpen();
        window = &Globals::instance().frmMain(); // made and loaded
    }
    ~ConsoleFixture() { globals.reset(); }

    Ui::FrmMain &ui() { return window->form(); }
    QString pane() const { return window->msgsText(); }
    bool paneHas(const QString &text) const { return pane().contains(text); }

    void chooseMode(bool server, bool tcp)
    {
        QTest::mouseClick(server ? ui().optMode_1 : ui().optMode_0, Qt::LeftButton);
        QTest::mouseClick(tcp ? ui().optProtocol_0 : ui().optProtocol_1, Qt::LeftButton);
    }
    void remote(const QString &host, quint16 port)
    {
        ui().cboRemAddress->setEditText(host);
        ui().txtRemPort->setText(QString::number(port));
    }
    void local(const QString &address, quint16 port)
    {
        ui().cboLocAddress->setEditText(address);
        ui().txtLocPort->setText(QString::number(port));
    }
    void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    static quint16 unusedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

    QTemporaryDir dir;
    std::unique_ptr<TestGlobals> globals;
    FrmMain *window = nullptr;
};

constexpr int NetTimeout = 5000; // ms, for anything that crosses loopback
