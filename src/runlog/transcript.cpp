// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "transcript.h"

#include "base/failure.h"
#include "runlog.h"

Transcript::Transcript(RunLog &log, std::function<TranscriptFace &()> face)
    : m_log(log), m_face(std::move(face))
{}

void Transcript::AddToMsgsBox(const QString &speaker, const QString &sentence)
{
    if (m_depth > 1)
        return;
    ++m_depth;
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] {
        TranscriptFace &face = m_face();
        const QString line = speaker + u':' + u'\t' + sentence;
        face.showLine(speaker, line);
        RuntimeError failure;
        if (!m_log.LogWrite(line, &failure) && failure.number != 0)
            face.showLine(ErrorSpeaker(failure.number), RunLog::FailedWriteLine(failure));
    });
    --m_depth;
}

void Transcript::ClearMsgsBox()
{
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] { m_face().clearLines(); });
}
