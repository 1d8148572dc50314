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
    Probe,     // a probe's own line (the minute's figures, a note of the probe)
    Query,     // a probe's line about one query (an answer and its time, a lost query)
    Warning,   // a probe's line that tells of queries lost (a minute's figures with losses)
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

// The lines of one target or client of the command line, each named by what
// it is about: the name in brackets goes before the speaker
// ("[10.0.0.7:7010] Winsock:\tOpen"), so that it starts the line on the
// terminal and in the log alike, and one grep for "[10.0.0.7:7010] " finds
// every line about that target.  A sentence of several lines (an error's
// description and code) gets the name on each of them; bytes sent or
// received are shown as they are.
class NamedLines final : public MsgSink
{
public:
    NamedLines(MsgSink &lines, const QString &name) : m_lines(lines) { setName(name); }
    void setName(const QString &name) { m_tag = u'[' + name + QStringLiteral("] "); }
    void addLine(LineKind kind, const QString &speaker, const QString &sentence) override
    {
        QString named = sentence;
        for (qsizetype at = kind == LineKind::Data ? -1 : named.indexOf(CRLF);
             at >= 0 && at + 2 < named.size(); at = named.indexOf(CRLF, at + 2 + m_tag.size()))
            named.insert(at + 2, m_tag);
        m_lines.addLine(kind, m_tag + speaker, named);
    }
    void ClearMsgsBox() override { m_lines.ClearMsgsBox(); }

private:
    MsgSink &m_lines;
    QString m_tag;
};

// The name a speaker starts with, "[...] " (NamedLines'), or nothing.  The
// name may hold brackets of its own ("[[fd00::7]:7010] ").
inline QStringView LineTag(QStringView speaker)
{
    const qsizetype end = speaker.startsWith(u'[') ? speaker.indexOf(u"] ") : -1;
    return end < 0 ? QStringView() : speaker.first(end + 2);
}
