// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The terminal as the face of a run without a window: every line the
// window's pane would show, one line each (CR LF as LF, and every line
// ends), written out at once.  Failures and refusals go to standard error,
// everything else to standard output.

#include "runlog/transcript.h"

class QTextStream;

class TerminalFace final : public TranscriptFace
{
public:
    TerminalFace(QTextStream &out, QTextStream &err);

    void showLine(const QString &speaker, const QString &line) override;
    void clearLines() override {}

    // A failure line was shown (an error or the socket's error; a refusal
    // of the user's input does not count).
    bool sawFailure() const { return m_sawFailure; }

private:
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_sawFailure = false;
};
