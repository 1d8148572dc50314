// Opening and closing the socket with the one button cmdConnect.  Neither
// procedure reports how the open went: the state watch writes the states and
// the socket's events its failures.

#include "frmmain.h"

#include "netenv/checkaddress.h"
#include "startup/conversions.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

namespace {

const QString Pebkac = QStringLiteral("++ PEBKAC");
const QString PortRange = QStringLiteral("port must be a number between 1 and 65535");

} // namespace

void FrmMain::cmdConnect_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdConnect_Click; "), [&] {
        AutoPingOn = false;
        if (Winsock1.State() != Winsock::sckClosed) {
            Winsock1.Close();
            return;
        }
        Winsock1.Close();

        // Every check runs and writes its own line; any fault refuses the open.
        bool refused = false;
        if (ServerMode) {
            if (ui->cboLocAddress->currentText().isEmpty()) {
                AddToMsgsBox(Pebkac, QStringLiteral("A server needs a local address: "
                                                    "choose one of this machine's addresses")
                                         + CRLF);
                refused = true;
            }
            if (!CheckPort(ui->txtLocPort->text())) {
                AddToMsgsBox(Pebkac, QStringLiteral("Local ") + PortRange + CRLF);
                refused = true;
            }
        } else {
            if (ui->txtLocPort->text().isEmpty())
                ui->txtLocPort->setText(QStringLiteral("0"));
            QString reason;
            if (!CheckAddress(ui->cboRemAddress->currentText(), reason)) {
                AddToMsgsBox(Pebkac, reason + CRLF);
                refused = true;
            }
            if (!CheckPort(ui->txtRemPort->text())) {
                AddToMsgsBox(Pebkac, QStringLiteral("Remote ") + PortRange + CRLF);
                refused = true;
            }
        }
        if (!refused)
            OpenIt();
    });
}

bool FrmMain::CheckPort(const QString &port)
{
    bool result = false;
    Guard(*this, QStringLiteral(" in frmMain.CheckPort; "), [&] {
        if (port.isEmpty())
            return;
        const qint32 number = ToLong(port);
        result = number >= 1 && number <= 65535;
    });
    return result;
}

void FrmMain::OpenIt()
{
    TryRun([&] {
        Winsock1.Close();
        Winsock1.setLocalPort(ToLong(ui->txtLocPort->text()));
        const QString localAddress = ui->cboLocAddress->currentText();
        if (UseTCP) {
            Winsock1.setProtocol(Winsock::sckTCPProtocol);
            if (ServerMode) {
                Winsock1.Bind(ToLong(ui->txtLocPort->text()), localAddress);
                Winsock1.Listen();
            } else {
                Winsock1.setRemoteHost(ui->cboRemAddress->currentText());
                Winsock1.setRemotePort(ToLong(ui->txtRemPort->text()));
                Winsock1.Connect();
            }
            AddToMsgsBox(QStringLiteral("cls"), QString());
        } else {
            Winsock1.setProtocol(Winsock::sckUDPProtocol);
            if (ServerMode) {
                Winsock1.Bind(ToLong(ui->txtLocPort->text()), localAddress);
            } else {
                Winsock1.setRemoteHost(ui->cboRemAddress->currentText());
                Winsock1.setRemotePort(ToLong(ui->txtRemPort->text()));
                Winsock1.Bind(ToLong(ui->txtLocPort->text()), localAddress);
                AddToMsgsBox(QStringLiteral("cls"), QString());
            }
        }
    }, [&](const RuntimeError &e) {
        // The report names the socket's state at the moment of the failure.
        QString state;
        TryRun([&] { state = Globals::instance().States.name(Winsock1.State()); },
               [](const RuntimeError &) {});
        AddToMsgsBox(ErrorSpeaker(e.number), QStringLiteral("Winsock.") + state
                                                 + QStringLiteral(" in frmMain.OpenIt; ")
                                                 + e.description + CRLF);
    });
}
