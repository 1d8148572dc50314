// The state display: which controls are enabled, the open/close caption, the
// default button, the window caption and the three lights follow the socket's
// state, the mode and the protocol.

#include "frmmain.h"

#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

namespace {

constexpr quint32 Red = 0x0000FF;    // 0x00BBGGRR
constexpr quint32 Yellow = 0x00FFFF;
constexpr quint32 Green = 0x00FF00;

enum class Group { Idle, Ready, Busy };

Group groupOf(const QString &stateName)
{
    if (stateName == QLatin1String("Closed") || stateName == QLatin1String("Error"))
        return Group::Idle;
    if (stateName == QLatin1String("Open") || stateName == QLatin1String("Connected"))
        return Group::Ready;
    return Group::Busy;
}

} // namespace

void FrmMain::ShowStatus(const QString &status)
{
    Guard(*this, QStringLiteral(" in frmMain.ShowStatus; "), [&] {
        const bool pending = status == QLatin1String("pending");
        const bool ok = status == QLatin1String("ok");
        ui->shpError->setFillColor(!pending && !ok ? Red : 0);
        ui->shpProg->setFillColor(pending ? Yellow : 0);
        ui->shpOk->setFillColor(ok ? Green : 0);
    });
}

void FrmMain::ShowState()
{
    Guard(*this, QStringLiteral(" in frmMain.ShowState; "), [&] {
        const QString name = Globals::instance().States.name(Winsock1.State());
        switch (groupOf(name)) {
        case Group::Idle:
            ui->fraMode->setEnabled(true);
            ui->fraProtocol->setEnabled(true);
            ui->cmdAutoPing->setEnabled(false);
            setDefaultButton(ui->cmdConnect);
            ui->cmdSend->setEnabled(false);
            ui->txtSend->setEnabled(false);
            ui->txtLocPort->setEnabled(true);
            AutoPingOn = false;
            if (UseTCP && ServerMode) {
                ui->cmdConnect->setText(QStringLiteral("L&isten"));
                ui->cboLocAddress->setEnabled(true);
            } else if (UseTCP) {
                ui->cmdConnect->setText(QStringLiteral("&Connect"));
                ui->cboLocAddress->setEnabled(false);
            } else {
                ui->cmdConnect->setText(QStringLiteral("&Bind"));
                ui->cboLocAddress->setEnabled(true);
            }
            if (ServerMode) {
                setWindowTitle(QStringLiteral("Selmarin in Server Mode"));
                ui->cboRemAddress->setEnabled(false);
                ui->txtRemPort->setEnabled(false);
            } else {
                setWindowTitle(QStringLiteral("Selmarin in Client Mode"));
                ui->cboRemAddress->setEnabled(true);
                ui->txtRemPort->setEnabled(true);
                ui->txtLocPort->setText(QStringLiteral("0"));
            }
            ShowStatus(QStringLiteral("bad"));
            break;
        case Group::Ready:
            ui->fraMode->setEnabled(false);
            ui->fraProtocol->setEnabled(false);
            ui->cmdSend->setEnabled(true);
            setDefaultButton(ui->cmdSend);
            ui->cmdConnect->setText(QStringLiteral("&Close"));
            ui->cboRemAddress->setEnabled(false);
            ui->cboRemAddress->setEditText(Winsock1.RemoteHostIP());
            ui->txtRemPort->setEnabled(false);
            ui->txtRemPort->setText(QString::number(Winsock1.RemotePort()));
            ui->cboLocAddress->setEnabled(false);
            ui->cboLocAddress->setEditText(Winsock1.LocalIP());
            ui->txtLocPort->setEnabled(false);
            ui->txtLocPort->setText(QString::number(Winsock1.LocalPort()));
            ui->txtSend->setEnabled(true);
            ui->txtSend->setFocus();
            ShowStatus(QStringLiteral("ok"));
            if (!ServerMode)
                ui->cmdAutoPing->setEnabled(true);
            break;
        case Group::Busy:
            ui->fraMode->setEnabled(false);
            ui->fraProtocol->setEnabled(false);
            setDefaultButton(ui->cmdConnect);
            ui->cmdSend->setEnabled(false);
            ui->cmdConnect->setText(QStringLiteral("&Close"));
            ui->cboRemAddress->setEnabled(false);
            ui->txtRemPort->setEnabled(false);
            ui->cboLocAddress->setEnabled(false);
            ui->txtLocPort->setEnabled(false);
            ShowStatus(QStringLiteral("pending"));
            ui->cmdAutoPing->setEnabled(false);
            AutoPingOn = false;
            break;
        }
    });
}
