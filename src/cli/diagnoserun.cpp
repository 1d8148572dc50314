// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "diagnoserun.h"

#include "base/failure.h"
#include "base/msgsink.h"
#include "diagnose/diagnosis.h"
#include "diagnosejson.h"
#include "terminalface.h"
#include "tls/credentials.h"
#include "wording/sessionlines.h"
#include "wording/verdictlines.h"

#include <QTextStream>

namespace {

const QString Speaker = QStringLiteral("Diagnosis");

} // namespace

DiagnoseRun::DiagnoseRun(const Command &command, MsgSink &lines, TerminalFace &face,
                         QTextStream &out)
    : m_command(command), m_lines(lines), m_out(out), m_diagnosis(std::make_unique<Diagnosis>())
{
    face.show(command.json ? TerminalFace::Shown::Complaints : TerminalFace::Shown::NoData);
    connect(m_diagnosis.get(), &Diagnosis::stepDone, this,
            [this](Step step, const PathVerdict &soFar) {
                for (const QString &line : StepLines(step, soFar))
                    m_lines.addLine(LineKind::Probe, Speaker, line + CRLF);
            });
    connect(m_diagnosis.get(), &Diagnosis::finished, this, [this](const PathVerdict &verdict) {
        if (m_ended)
            return;
        m_ended = true;
        for (const QString &line : VerdictLines(verdict))
            m_lines.addLine(LineKind::Summary, Speaker, line + CRLF);
        if (m_command.json) {
            m_out << DiagnosisJson(verdict);
            m_out.flush();
        }
        emit finished(verdict.exitStatus());
    });
}

DiagnoseRun::~DiagnoseRun() = default;

int DiagnoseRun::start()
{
    Question question;
    question.transport = m_command.tls   ? Transport::Tls
                         : m_command.tcp ? Transport::Tcp
                                         : Transport::Udp;
    question.host = m_command.host;
    question.port = m_command.port;
    question.timeoutMs = m_command.timeoutMs;
    question.hops = m_command.hops;
    question.maxHops = m_command.maxHops;
    question.source = m_command.source;
    question.family = m_command.family;
    if (m_command.tls) {
        // A file that cannot be used ends the run before anything is sent,
        // with the reason.
        TlsUsed used;
        RuntimeError failure;
        if (!TryRun(
                [&] {
                    question.tls = MakeTlsSetup({m_command.insecure, m_command.cacert, {}, {}, {}},
                                                false, &used);
                },
                [&](const RuntimeError &e) { failure = e; })) {
            m_lines.addLine(LineKind::Summary, Speaker, failure.description + CRLF);
            m_ended = true;
            return 2;
        }
        for (const QString &line : TlsUsedLines(used))
            m_lines.addLine(LineKind::Probe, Speaker, line + CRLF);
    }
    m_diagnosis->start(question);
    return -1;
}

void DiagnoseRun::stop()
{
    if (m_ended)
        return;
    m_ended = true;
    m_lines.addLine(LineKind::Summary, Speaker, QStringLiteral("Stopped before a verdict") + CRLF);
    emit finished(1);
}
