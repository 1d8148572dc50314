// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The state display: which controls are enabled, the open/close caption, the
// default button, the window caption and the three lights follow the socket's
// state, the mode and the protocol.

#include "frmmain.h"

#include "base/failure.h"
#include "ui_frmmain.h"

namespace {

constexpr quint32 Red = 0x0000FF; // 0x00BBGGRR
constexpr quint32 Yellow = 0x00FFFF;
constexpr quint32 Green = 0x00FF00;

} // namespace

void FrmMain::ShowStatus(Session::Status status)
{
    Guard(m_lines, QStringLiteral(" in frmMain.ShowStatus; "), [&] {
        const bool pending = status == Session::Status::Pending;
        const bool ok = status == Session::Status::Ok;
        ui->shpError->setFillColor(!pending && !ok ? Red : 0);
        ui->shpProg->setFillColor(pending ? Yellow : 0);
        ui->shpOk->setFillColor(ok ? Green : 0);
    });
}

void FrmMain::ShowState()
{
    Guard(m_lines, QStringLiteral(" in frmMain.ShowState; "), [&] {
        const Session::View shown = m_session.view();
        // The probe runs only while data can flow.
        if (shown.group != StateGroup::Ready)
            m_probe.stop();
        const bool serverMode = m_config.role == Session::Role::Server;
        // TLS runs over TCP: its captions are TCP's.
        const bool useTcp = m_config.transport != Session::Transport::Udp;
        ui->chkInsecure->setEnabled(shown.group == StateGroup::Idle && !serverMode
                                    && m_config.transport == Session::Transport::Tls);
        switch (shown.group) {
        case StateGroup::Idle:
            ui->fraMode->setEnabled(true);
            ui->fraProtocol->setEnabled(true);
            ui->cmdAutoPing->setEnabled(false);
            setDefaultButton(ui->cmdConnect);
            ui->cmdSend->setEnabled(false);
            ui->txtSend->setEnabled(false);
            ui->txtLocPort->setEnabled(true);
            if (useTcp && serverMode) {
                ui->cmdConnect->setText(QStringLiteral("L&isten"));
                ui->cboLocAddress->setEnabled(true);
            } else if (useTcp) {
                ui->cmdConnect->setText(QStringLiteral("&Connect"));
                ui->cboLocAddress->setEnabled(false);
            } else {
                ui->cmdConnect->setText(QStringLiteral("&Bind"));
                ui->cboLocAddress->setEnabled(true);
            }
            if (serverMode) {
                setWindowTitle(QStringLiteral("Selmarin in Server Mode"));
                ui->cboRemAddress->setEnabled(false);
                ui->txtRemPort->setEnabled(false);
            } else {
                setWindowTitle(QStringLiteral("Selmarin in Client Mode"));
                ui->cboRemAddress->setEnabled(true);
                ui->txtRemPort->setEnabled(true);
                ui->txtLocPort->setText(QStringLiteral("0"));
            }
            ShowStatus(Session::Status::Bad);
            break;
        case StateGroup::Ready:
            ui->fraMode->setEnabled(false);
            ui->fraProtocol->setEnabled(false);
            ui->cmdSend->setEnabled(shown.canSend);
            setDefaultButton(ui->cmdSend);
            ui->cmdConnect->setText(QStringLiteral("&Close"));
            ui->cboRemAddress->setEnabled(false);
            ui->cboRemAddress->setEditText(shown.remoteAddress);
            ui->txtRemPort->setEnabled(false);
            ui->txtRemPort->setText(QString::number(shown.remotePort));
            ui->cboLocAddress->setEnabled(false);
            ui->cboLocAddress->setEditText(shown.localAddress);
            ui->txtLocPort->setEnabled(false);
            ui->txtLocPort->setText(QString::number(shown.localPort));
            ui->txtSend->setEnabled(true);
            ui->txtSend->setFocus();
            ShowStatus(Session::Status::Ok);
            if (shown.canProbe)
                ui->cmdAutoPing->setEnabled(true);
            break;
        case StateGroup::Busy:
            ui->fraMode->setEnabled(false);
            ui->fraProtocol->setEnabled(false);
            setDefaultButton(ui->cmdConnect);
            ui->cmdSend->setEnabled(false);
            ui->cmdConnect->setText(QStringLiteral("&Close"));
            ui->cboRemAddress->setEnabled(false);
            ui->txtRemPort->setEnabled(false);
            ui->cboLocAddress->setEnabled(false);
            ui->txtLocPort->setEnabled(false);
            ShowStatus(Session::Status::Pending);
            ui->cmdAutoPing->setEnabled(false);
            break;
        }
    });
}
