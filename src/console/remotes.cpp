// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The "&Remotes" button: opens the address list editor and, when it closes,
// offers the server list in the remote address box again.

#include "frmmain.h"

#include "base/failure.h"
#include "frmaddress.h"
#include "placement.h"
#include "servers/serverlist.h"
#include "ui_frmmain.h"

void FrmMain::cmdRemotes_Click()
{
    Guard(m_lines, QStringLiteral(" in frmMain.cmdremotes_Click; "), [&] {
        // Made at its first opening and afterwards only hidden.
        if (!m_editor) {
            m_editor
                = std::make_unique<FrmAddress>(m_context.servers, m_context.serversPath,
                                               m_context.rules, m_context.dialogs, m_lines, this);
            PlaceWindow(*m_editor, EditorWindowSize);
        }
        m_editor->exec();

        // Rebuilding the list keeps what the user typed in the box.
        const QString typed = ui->cboRemAddress->currentText();
        if (ui->cboRemAddress->count() > 0)
            ui->cboRemAddress->clear();
        ui->cboRemAddress->addItems(m_context.servers.items());
        ui->cboRemAddress->setEditText(typed);

        const Session::View shown = m_session.view();
        if (shown.state != SocketState::Closed)
            ui->cboRemAddress->setEditText(shown.remoteAddress);
    });
}

// After data has arrived the remote fields show its sender.  Mostly the
// sender they already show: the same text is not set again, as setting it
// tells a screen reader that the field's text was replaced (twice a second
// while AutoPing runs).  The fields are disabled while data can arrive, so
// nothing the user did in them is kept by leaving them alone.
void FrmMain::showSender(const Endpoint &sender)
{
    if (ui->cboRemAddress->currentText() != sender.address)
        ui->cboRemAddress->setEditText(sender.address);
    if (const QString port = QString::number(sender.port); ui->txtRemPort->text() != port)
        ui->txtRemPort->setText(port);
}
