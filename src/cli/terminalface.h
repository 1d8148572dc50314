// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The terminal as the face of a run without a window: every line the
// window's pane would show, one line each (CR LF as LF, and every line
// ends), written out when the transcript says (at once, or a turn's lines
// together when it groups them).  Complaints (failures and refusals) go to
// standard error at once, everything else to standard output.  A probe
// leaves out the data lines (its queries and their answers, which it tells
// in lines of its own), a quiet one every line but the complaints and the
// summary.  A probe's own lines and the summary are shown without their
// speaker, as ping writes them, but with the name of what they are about
// (NamedLines' "[10.0.0.7:7010] ").  With the standard output taken by
// something else (--json-stream), every line goes to standard error.
// The log gets every line all the same.
//
// A stream that is the journal's (journalStreams) gets each line with its
// syslog priority in front, "<3>" ... "<7>", which the journal reads and
// removes:
//
//   <3>  complaints (failures and refusals)
//   <4>  a probe's minute line that counts lost queries
//   <5>  states and notes (Report), the summary
//   <6>  a probe's own lines (the minute's figures)
//   <7>  the lines of one query, the data

#include "runlog/transcript.h"

class QTextStream;

class TerminalFace final : public TranscriptFace
{
public:
    // Every line; every line but the data; a probe's lines, the summary
    // and the complaints; the summary and the complaints; the complaints
    // only (the summary goes out as JSON).
    enum class Shown { All, NoData, ProbeLines, Quiet, Complaints };
    TerminalFace(QTextStream &out, QTextStream &err);
    void show(Shown shown) { m_shown = shown; }
    // Every line to standard error: standard output carries something else.
    void allToErr(bool toErr) { m_allToErr = toErr; }
    // The streams that go to the journal: their lines get their priority.
    void journalStreams(bool out, bool err)
    {
        m_outJournal = out;
        m_errJournal = err;
    }
    static char priority(LineKind kind);

    void showLine(LineKind kind, const QString &speaker, const QString &sentence,
                  const QString &line) override;
    void clearLines() override {}
    void flushLines() override;

private:
    void writeLine(QTextStream &stream, QStringView tag, QStringView line, char priority);

    QTextStream &m_out;
    QTextStream &m_err;
    Shown m_shown = Shown::All;
    bool m_allToErr = false;
    bool m_outJournal = false;
    bool m_errJournal = false;
};
