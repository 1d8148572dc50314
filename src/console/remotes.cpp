// The "&Remotes" button: opens the address list editor and, when it closes,
// offers the server list in the remote address box again.

#include "frmmain.h"

#include "servers/frmaddress.h"
#include "servers/serverlist.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

void FrmMain::cmdRemotes_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdremotes_Click; "), [&] {
        Globals &g = Globals::instance();
        g.frmAddress().exec();

        // Rebuilding the list keeps what the user typed in the box.
        const QString typed = ui->cboRemAddress->currentText();
        if (ui->cboRemAddress->count() > 0)
            ui->cboRemAddress->clear();
        ui->cboRemAddress->addItems(g.serverList().items());
        ui->cboRemAddress->setEditText(typed);

        if (Winsock1.State() != Winsock::sckClosed)
            ui->cboRemAddress->setEditText(Winsock1.RemoteHostIP());
    });
}
