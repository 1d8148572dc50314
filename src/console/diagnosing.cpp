// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Why a path fails, told in the pane under the speaker "Diagnosis", after
// the socket's own lines (which stay as they are):
//   - a failed connect, or a datagram the host or a router refused: its
//     class and evidence from what the failure itself carried (the failure
//     number and the ICMP message), nothing sent for it;
//   - "Diagnose the path" (Ctrl+D, or the pane's context menu): the whole
//     diagnosis of the remote host and port in the boxes, with the protocol
//     chosen: the look-up, the attempt, the hops and the verdict, each step's
//     lines as it ends.  It runs on a thread of its own and never holds the
//     window; the socket is not touched.

#include "frmmain.h"

#include "base/conversions.h"
#include "base/failure.h"
#include "base/nametables.h"
#include "diagnose/diagnosis.h"
#include "diagnose/failureverdict.h"
#include "ui_frmmain.h"
#include "wording/verdictlines.h"

#include <QAction>
#include <QMenu>

namespace {

const QString Speaker = QStringLiteral("Diagnosis");

Transport pathTransport(Session::Transport transport)
{
    switch (transport) {
    case Session::Transport::Udp: return Transport::Udp;
    case Session::Transport::Tls: return Transport::Tls;
    case Session::Transport::Tcp: break;
    }
    return Transport::Tcp;
}

} // namespace

void FrmMain::setupDiagnosis()
{
    m_diagnose = new QAction(QStringLiteral("&Diagnose the path"), this);
    m_diagnose->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    m_diagnose->setToolTip(QStringLiteral("Why and where the path to the remote host and port "
                                          "fails, with the protocol chosen"));
    addAction(m_diagnose);
    connect(m_diagnose, &QAction::triggered, this, &FrmMain::diagnosePath);
    ui->txtMsgs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->txtMsgs, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu *menu = ui->txtMsgs->createStandardContextMenu(); // the pane's child
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        menu->addAction(m_diagnose);
        menu->popup(ui->txtMsgs->viewport()->mapToGlobal(at));
    });
    connect(&m_session, &Session::socketFailed, this, &FrmMain::tellWhyFailed);
}

void FrmMain::tellWhyFailed(const SocketFailure &failure)
{
    const Endpoint peer = m_session.peerEnd();
    const auto verdict = FailureVerdict(pathTransport(m_config.transport), peer.address,
                                        quint16(peer.port), failure.why);
    if (!verdict)
        return;
    m_lines.AddToMsgsBox(Speaker, OutcomeSentence(*verdict) + CRLF);
    if (verdict->outcome == Outcome::Filtered)
        m_lines.AddToMsgsBox(Speaker, QStringLiteral("Diagnose the path (Ctrl+D) to find where the "
                                                     "packets vanish: after a hop, or on this "
                                                     "machine")
                                          + CRLF);
}

void FrmMain::diagnosePath()
{
    if (m_diagnosis)
        return; // one at a time: the action is off meanwhile
    Guard(m_lines, QStringLiteral(" in frmMain.diagnosePath; "), [&] {
        // The remote end as a client would use it, refused as it would be.
        const Session::Fields asked = fields();
        if (!m_session.CheckFields(Session::Role::Client, asked))
            return;
        Question question;
        question.transport = pathTransport(m_config.transport);
        question.host = asked.remoteAddress.trimmed();
        question.port = quint16(ToLong(asked.remotePort));
        question.hops = true;
        m_lines.AddToMsgsBox(Speaker,
                             QStringLiteral("Diagnosing the path to %1 port %2 (%3)")
                                     .arg(question.host)
                                     .arg(question.port)
                                     .arg(m_context.tables.Protocol.name(int(m_config.transport)))
                                 + CRLF);
        m_diagnosis = std::make_unique<Diagnosis>();
        m_diagnose->setEnabled(false);
        connect(m_diagnosis.get(), &Diagnosis::stepDone, this,
                [this](Step step, const PathVerdict &soFar) {
                    for (const QString &line : StepLines(step, soFar))
                        m_lines.AddToMsgsBox(Speaker, line + CRLF);
                });
        connect(m_diagnosis.get(), &Diagnosis::finished, this, [this](const PathVerdict &verdict) {
            for (const QString &line : VerdictLines(verdict))
                m_lines.AddToMsgsBox(Speaker, line + CRLF);
            m_diagnosis.release()->deleteLater();
            m_diagnose->setEnabled(true);
        });
        m_diagnosis->start(question);
    });
}
