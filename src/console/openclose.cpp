// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Opening and closing the socket with the one button cmdConnect.  Neither
// the button nor the session reports how the open went: the state watch
// writes the states and the socket's events its failures.

#include "frmmain.h"

#include "base/failure.h"
#include "ui_frmmain.h"

Session::Ends FrmMain::ends() const
{
    return {ui->cboLocAddress->currentText(), ui->txtLocPort->text(),
            ui->cboRemAddress->currentText(), ui->txtRemPort->text()};
}

void FrmMain::cmdConnect_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdConnect_Click; "), [&] {
        if (m_session.closeIfOpen())
            return;
        // A client's local port is not checked: empty means any port.
        if (!m_session.ServerMode && ui->txtLocPort->text().isEmpty())
            ui->txtLocPort->setText(QStringLiteral("0"));
        if (m_session.CheckEnds(ends()))
            m_session.OpenIt(ends());
    });
}
