// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The mode and protocol option buttons and the local port box.

#include "frmmain.h"

#include "base/failure.h"
#include "ui_frmmain.h"

#include <algorithm>

namespace {

bool holdsNonDigit(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c < u'0' || c > u'9'; });
}

} // namespace

void FrmMain::optMode_Click(int index)
{
    Guard(m_lines, QStringLiteral(" in frmMain.optMode_Click; "), [&] {
        m_lines.ClearMsgsBox();
        if (index == 0)
            m_config.role = Session::Role::Client;
        else if (index == 1)
            m_config.role = Session::Role::Server;
        ShowState();
    });
}

void FrmMain::optProtocol_Click(int index)
{
    Guard(m_lines, QStringLiteral(" in frmMain.optProtocol_Click; "), [&] {
        if (index == 0)
            m_config.transport = Session::Transport::Tcp;
        else if (index == 1)
            m_config.transport = Session::Transport::Udp;
        else if (index == 2)
            m_config.transport = Session::Transport::Tls;
        ShowState();
    });
}

// Keeps only digits: while the text holds anything else, its last character
// goes.  Setting the text runs this handler again at once, so a letter typed
// at the end removes just the letter, and one in the middle removes itself and
// everything after it.
void FrmMain::txtLocPort_Change()
{
    Guard(m_lines, QStringLiteral(" in frmMain.txtLocPort_Change; "), [&] {
        const QString text = ui->txtLocPort->text();
        if (holdsNonDigit(text))
            ui->txtLocPort->setText(text.left(text.size() - 1));
    });
}
