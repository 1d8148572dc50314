// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The window's life: its load, and its unload, which ends the program.

#include "frmmain.h"

#include "base/dialogs.h"
#include "base/failure.h"
#include "frmaddress.h"
#include "netenv/localadapters.h"
#include "placement.h"
#include "servers/serverlist.h"
#include "ui_frmmain.h"

void FrmMain::Form_Load()
{
    TryRun(
        [&] {
            ui->optMode_0->setChecked(true);
            optMode_Click(0);
            ui->optProtocol_0->setChecked(true);
            optProtocol_Click(0);

            ui->cmdAutoPing->setEnabled(false);
            m_probe.stop();

            if (!m_context.adapters.GetLocIPs())
                Raise(rt::ProgramError, QStringLiteral("Failed to get the local IP list"));
            ui->cboLocAddress->addItems(m_context.adapters.LocIPs());
            ui->cboLocAddress->setEditText(m_session.view().localAddress);

            ui->cboRemAddress->addItems(m_context.servers.items());
            ui->cboRemAddress->setEditText(QString());

            m_session.startStateWatch();
            ShowState();
            PlaceWindow(*this, MainWindowSize);
            show();
        },
        [&](const RuntimeError &e) {
            m_context.dialogs.MsgBox(ErrorSpeaker(e.number)
                                     + QStringLiteral(" in frmMain.Form_Load; ") + e.description
                                     + CRLF);
        });
}

void FrmMain::endProgram(const QString &piece)
{
    Guard(m_lines, piece, [&] {
        m_probe.stop();
        m_session.finish();
        // The log's last line, and the program's end.
        m_context.endRun();
        // At once: no further handler of this window runs.
        m_ended = true;
        if (m_editor)
            m_editor->hide();
        hide();
    });
}

void FrmMain::Form_Unload()
{
    if (!m_ended)
        endProgram(QStringLiteral(" in frmMain.Form_Unload; "));
}

void FrmMain::Form_Terminate()
{
    if (!m_ended)
        endProgram(QStringLiteral(" in frmMain.Form_Terminate; "));
}
