// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <QString>

inline const QString CRLF = QStringLiteral("\r\n");

// What a line is, said by whoever writes it, so that each face can place it
// without reading its text: the window shows every line the same way, a
// terminal sends complaints to standard error and may leave out the data.
enum class LineKind {
    Report,    // states, notes, what the run tells as it goes
    Data,      // bytes sent or received, written under an address
    Complaint, // a failure or a refusal of the user's input: never to be missed
    Probe,     // a probe's own line (an answer and its time, a lost query ...)
    Summary,   // the closing figures of a run
};

// Where every line the program tells the user goes: the run's transcript
// (runlog/transcript.h) shows it in the messages pane or on the terminal and
// writes it to the log; tests record the lines.
class MsgSink
{
public:
    virtual ~MsgSink() = default;
    // Writes speaker + ":" + TAB + sentence; the sentence carries its own
    // line end.
    virtual void addLine(LineKind kind, const QString &speaker, const QString &sentence) = 0;
    // Empties the messages pane (the log keeps every line).
    virtual void ClearMsgsBox() = 0;

    // A line that reports: the common case.
    void AddToMsgsBox(const QString &speaker, const QString &sentence)
    {
        addLine(LineKind::Report, speaker, sentence);
    }
    void AddComplaint(const QString &speaker, const QString &sentence)
    {
        addLine(LineKind::Complaint, speaker, sentence);
    }
};
