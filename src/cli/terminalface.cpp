// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "terminalface.h"

#include <QTextStream>

#include <utility>

TerminalFace::TerminalFace(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

char TerminalFace::priority(LineKind kind)
{
    switch (kind) {
    case LineKind::Complaint: return '3';
    case LineKind::Warning: return '4';
    case LineKind::Report:
    case LineKind::Summary: return '5';
    case LineKind::Probe: return '6';
    case LineKind::Query:
    case LineKind::Data: return '7';
    }
    return '6';
}

void TerminalFace::showLine(LineKind kind, const QString &speaker, const QString &sentence,
                            const QString &line)
{
    const bool complaint = kind == LineKind::Complaint;
    const bool summary = kind == LineKind::Summary;
    const bool probe
        = kind == LineKind::Probe || kind == LineKind::Query || kind == LineKind::Warning;
    const bool shown = complaint || m_shown == Shown::All
                       || (m_shown == Shown::NoData && kind != LineKind::Data)
                       || (m_shown == Shown::ProbeLines && (probe || summary))
                       || (m_shown == Shown::Quiet && summary);
    if (!shown)
        return;
    const bool toErr = complaint || m_allToErr;
    QTextStream &stream = toErr ? m_err : m_out;
    if (complaint)
        m_out.flush(); // the lines before it come first
    const char level = (toErr ? m_errJournal : m_outJournal) ? priority(kind) : 0;
    // A probe's line is its sentence alone, after the name of its target.
    if (probe || summary)
        writeLine(stream, LineTag(speaker), sentence, level);
    else
        writeLine(stream, {}, line, level);
    if (toErr)
        m_err.flush(); // at once: a person must not miss it
}

// Each CR LF as LF, and a line end at the end; each line after the
// priority, when there is one, the first after the tag.  Written piece by piece, without copying
// the line.
void TerminalFace::writeLine(QTextStream &stream, QStringView tag, QStringView line, char priority)
{
    const auto begin = [&] {
        if (priority != 0)
            stream << '<' << priority << '>';
        stream << std::exchange(tag, {});
    };
    QStringView rest = line;
    for (qsizetype end = 0; (end = rest.indexOf(u'\r', end)) >= 0;) {
        if (end + 1 < rest.size() && rest[end + 1] == u'\n') {
            begin();
            stream << rest.first(end) << '\n';
            rest = rest.sliced(end + 2);
            end = 0;
        } else {
            ++end;
        }
    }
    if (!rest.isEmpty()) {
        begin();
        stream << rest;
        if (!rest.endsWith(u'\n'))
            stream << '\n';
    }
}

void TerminalFace::flushLines()
{
    m_out.flush();
}
