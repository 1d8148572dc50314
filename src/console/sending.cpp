// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The send box and the AutoPing button.  Sending itself (the check that the
// socket can carry data, the echo under the local address) is the session's.

#include "frmmain.h"

#include "base/failure.h"
#include "describe.h"
#include "pingplot.h"
#include "ui_frmmain.h"

void FrmMain::cmdSend_Click()
{
    Guard(m_lines, QStringLiteral(" in frmMain.cmdSend_Click; "), [&] {
        // Line breaks typed with Ctrl+Enter travel as the chosen line end
        // (CR LF at start), like the one added at the end; every other
        // character as it was typed, or its escapes read.  A text whose
        // escapes were refused stays in the box to be mended.
        const Session::Typing typing{ui->chkEscapes->isChecked(),
                                     Session::LineEnd(ui->cboLineEnd->currentIndex())};
        if (m_session.SendTyped(ui->txtSend->linesToSend(), typing))
            ui->txtSend->clear();
    });
}

// Switches the probe on or off; its caption stays.  Whether it runs shows
// only in the pane.
void FrmMain::cmdAutoPing_Click()
{
    Guard(m_lines, QStringLiteral(" in frmMain.cmdAutoPing_Click; "), [&] {
        if (m_probe.isRunning())
            m_probe.stop();
        else
            m_probe.start(m_session.peer());
    });
}

// The figures of the probe's run, with its plot, under the messages: shown
// once a probe has run in this session, updated at every tick,
// and kept after the probe stops until the next run starts.  They are never
// written into the pane.
void FrmMain::showFigures()
{
    const AutoPing &probe = m_probe;
    if (!probe.hasRun())
        return;
    const QString figures = probe.stats().summary();
    ui->lblFigures->setText(figures);
    Describe(*ui->lblFigures, figures);
    ui->plotRtt->setStats(probe.stats());
    ui->fraFigures->setVisible(true);
}
