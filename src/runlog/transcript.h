// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Transcript: the run's lines, each shown on the run's face and written to
// the log at once.  The face is where a person reads them: the window's
// messages pane, or the terminal of a run without a window.  Both faces get
// the same lines from the same objects; only the showing differs.
//
// A log write that fails is told on the face only (RunLog::FailedWriteSentence),
// never logged again.  A report that arises while a report is being written
// (a face that keeps failing) is dropped after one level, so reporting always
// ends.
//
// Lines are shown and logged one at a time, each written out at once, unless
// the run groups them (groupLines): then the face and the log keep what a
// turn of the event loop brings and endGroup() writes it out in one piece,
// at the end of the turn (the caller wires that), after 64 KiB or after
// GroupMs at the latest.  A responder that answers a burst of queries then
// costs one write per burst, not two per query.

#include "base/msgsink.h"

#include <QElapsedTimer>

#include <functional>

class RunLog;

class TranscriptFace
{
public:
    virtual ~TranscriptFace() = default;
    // line is speaker + ":" + TAB + sentence, as the log gets it; kind says
    // what it is (base/msgsink.h).  A face shows the line, or the parts.
    virtual void showLine(LineKind kind, const QString &speaker, const QString &sentence,
                          const QString &line)
        = 0;
    virtual void clearLines() = 0;
    // Writes out what showLine has shown (a terminal's buffer).
    virtual void flushLines() {}
};

class Transcript final : public MsgSink
{
public:
    // face() gives the face; it is first asked for at the first line (the
    // window's face makes the window then).
    Transcript(RunLog &log, std::function<TranscriptFace &()> face);

    void addLine(LineKind kind, const QString &speaker, const QString &sentence) override;
    void ClearMsgsBox() override;

    static constexpr qsizetype GroupBytes = 64 * 1024;
    static constexpr int GroupMs = 100;
    void groupLines(bool grouped);
    // Writes out the lines kept since the last time.
    void endGroup();

private:
    RunLog &m_log;
    std::function<TranscriptFace &()> m_face;
    int m_depth = 0;
    bool m_grouped = false;
    bool m_pending = false;   // lines kept since the last endGroup
    QElapsedTimer m_groupAge; // since the first of them
};
