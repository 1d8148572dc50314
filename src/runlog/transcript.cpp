// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "transcript.h"

#include "base/failure.h"
#include "runlog.h"

#include <QStringBuilder>

#include <utility>

namespace {

// On the face only: the log could not take it.
void tellFailedWrite(TranscriptFace &face, const RuntimeError &failure)
{
    const QString speaker = ErrorSpeaker(failure.number);
    const QString sentence = RunLog::FailedWriteSentence(failure);
    face.showLine(LineKind::Complaint, speaker, sentence,
                  speaker % QLatin1String(":\t") % sentence);
}

} // namespace

Transcript::Transcript(RunLog &log, std::function<TranscriptFace &()> face)
    : m_log(log), m_face(std::move(face))
{}

void Transcript::addLine(LineKind kind, const QString &speaker, const QString &sentence)
{
    if (m_depth > 1)
        return;
    ++m_depth;
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] {
        TranscriptFace &face = m_face();
        const QString line = speaker % QLatin1String(":\t") % sentence;
        face.showLine(kind, speaker, sentence, line);
        RuntimeError failure;
        if (!m_log.LogWrite(line, &failure) && failure.number != 0)
            tellFailedWrite(face, failure);
        if (!m_grouped) {
            face.flushLines();
        } else if (!m_pending) {
            m_pending = true;
            m_groupAge.start();
        } else if (m_log.keptBytes() >= GroupBytes || m_groupAge.hasExpired(GroupMs)) {
            endGroup();
        }
    });
    --m_depth;
}

void Transcript::groupLines(bool grouped)
{
    endGroup();
    m_grouped = grouped;
    m_log.setGrouped(grouped);
}

void Transcript::endGroup()
{
    if (!std::exchange(m_pending, false))
        return;
    RuntimeError failure;
    TranscriptFace &face = m_face();
    if (!m_log.flush(&failure) && failure.number != 0)
        tellFailedWrite(face, failure);
    face.flushLines();
}

void Transcript::ClearMsgsBox()
{
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] { m_face().clearLines(); });
}
