// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "terminalface.h"

#include <QTextStream>

TerminalFace::TerminalFace(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

void TerminalFace::showLine(LineKind kind, const QString &, const QString &sentence,
                            const QString &line)
{
    const bool complaint = kind == LineKind::Complaint;
    const bool summary = kind == LineKind::Summary;
    const bool shown = complaint || m_shown == Shown::All
                       || (m_shown == Shown::NoData && kind != LineKind::Data)
                       || (m_shown == Shown::ProbeLines && (kind == LineKind::Probe || summary))
                       || (m_shown == Shown::Quiet && summary);
    if (!shown)
        return;
    QTextStream &stream = complaint ? m_err : m_out;
    if (complaint)
        m_out.flush(); // the lines before it come first
    // A probe's line is its sentence alone.
    writeLine(stream, kind == LineKind::Probe || summary ? sentence : line);
    if (complaint)
        m_err.flush(); // at once: a person must not miss it
}

// Each CR LF as LF, and a line end at the end; written piece by piece,
// without copying the line.
void TerminalFace::writeLine(QTextStream &stream, QStringView line)
{
    QStringView rest = line;
    for (qsizetype end = 0; (end = rest.indexOf(u'\r', end)) >= 0;) {
        if (end + 1 < rest.size() && rest[end + 1] == u'\n') {
            stream << rest.first(end) << '\n';
            rest = rest.sliced(end + 2);
            end = 0;
        } else {
            ++end;
        }
    }
    if (!rest.isEmpty()) {
        stream << rest;
        if (!rest.endsWith(u'\n'))
            stream << '\n';
    }
}

void TerminalFace::flushLines()
{
    m_out.flush();
}
