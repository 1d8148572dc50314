// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The terminal as the face of a run without a window: every line the
// window's pane would show, one line each (CR LF as LF, and every line
// ends), written out when the transcript says (at once, or a turn's lines
// together when it groups them); failures and refusals at once.  Failures and refusals (speakers
// that begin with "**" or "++", or end with "Error") go to standard error, everything else to
// standard output; a probe leaves out the data lines (those under an address: its queries and their
// answers, which it tells in lines of its own), a quiet one every line but failures and refusals.
// The log gets every line all the same.

#include "runlog/transcript.h"

#include <QStringList>

class QTextStream;

// The lines a person must not miss, which go to standard error: failures
// and refusals (speakers that begin with "**" or "++", or end with "Error").
bool IsComplaint(const QString &speaker);

class TerminalFace final : public TranscriptFace
{
public:
    enum class Shown { All, NoData, Complaints };
    TerminalFace(QTextStream &out, QTextStream &err);
    void show(Shown shown) { m_shown = shown; }

    void showLine(const QString &speaker, const QString &line) override;
    void clearLines() override {}
    void flushLines() override;

    // A failure line was shown (an error or the socket's error; a refusal
    // of the user's input does not count).
    bool sawFailure() const { return m_sawFailure; }

private:
    void writeLine(QTextStream &stream, const QString &line);

    QTextStream &m_out;
    QTextStream &m_err;
    bool m_sawFailure = false;

    Shown m_shown = Shown::All;
};
