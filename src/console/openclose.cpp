// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Opening and closing the socket with the one button cmdConnect.  Neither
// the button nor the session reports how the open went: the state watch
// writes the states and the socket's events its failures.

#include "frmmain.h"

#include "base/failure.h"
#include "ui_frmmain.h"

// The chosen role and transport and the TLS choices; the ends are the
// fields' (fields()).
Session::Config FrmMain::config() const
{
    Session::Config config = m_config;
    config.tls.insecure = ui->chkInsecure->isChecked();
    config.tls.folder = m_context.programFolder;
    return config;
}

// The ends as the fields hold them now.
Session::Fields FrmMain::fields() const
{
    return {ui->cboLocAddress->currentText(), ui->txtLocPort->text(),
            ui->cboRemAddress->currentText(), ui->txtRemPort->text()};
}

void FrmMain::cmdConnect_Click()
{
    Guard(m_lines, QStringLiteral(" in frmMain.cmdConnect_Click; "), [&] {
        m_probe.stop();
        if (m_session.closeIfOpen())
            return;
        // A client's local port is not checked: empty means any port.
        if (m_config.role == Session::Role::Client && ui->txtLocPort->text().isEmpty())
            ui->txtLocPort->setText(QStringLiteral("0"));
        if (m_session.CheckFields(m_config.role, fields()))
            m_session.OpenFields(config(), fields());
    });
}
