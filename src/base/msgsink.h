// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <QString>

inline const QString CRLF = QStringLiteral("\r\n");

// Where every line the program tells the user goes: the run's transcript
// (runlog/transcript.h) shows it in the messages pane or on the terminal and
// writes it to the log; tests record the lines.
class MsgSink
{
public:
    virtual ~MsgSink() = default;
    // Writes speaker + ":" + TAB + sentence; the sentence carries its own
    // line end.
    virtual void AddToMsgsBox(const QString &speaker, const QString &sentence) = 0;
    // Empties the messages pane (the log keeps every line).
    virtual void ClearMsgsBox() = 0;
};
