// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "panefeed.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <limits>

namespace {

// Where the text after its first `lines` line breaks begins (its end when it
// has fewer).
qsizetype afterLines(QStringView text, qsizetype lines)
{
    qsizetype at = 0;
    while (lines-- > 0) {
        const qsizetype next = text.indexOf(u'\n', at);
        if (next < 0)
            return text.size();
        at = next + 1;
    }
    return at;
}

// The lines of a text as it came, counted cheaply: CR LF, LF and lone CRs
// each end one, except in text that mixes lone CRs and LFs, which is rare and
// only makes the backlog's bound a little loose.
qsizetype countLines(QStringView text)
{
    // Plain passes the compiler can vectorise, counting in 16 bits per
    // block (QStringView::count is several times slower, and every received
    // byte goes through here).
    qsizetype lf = 0, cr = 0;
    const char16_t *chars = text.utf16();
    for (qsizetype at = 0; at < text.size(); at += 0xFFFF) {
        const qsizetype end = std::min<qsizetype>(text.size(), at + 0xFFFF);
        quint16 blockLf = 0, blockCr = 0;
        for (qsizetype i = at; i < end; ++i) {
            blockLf += chars[i] == u'\n';
            blockCr += chars[i] == u'\r';
        }
        lf += blockLf;
        cr += blockCr;
    }
    return std::max(lf, cr);
}

} // namespace

PaneFeed::PaneFeed(QPlainTextEdit *pane, int lineLimit, int columnLimit, qsizetype charLimit,
                   QObject *parent)
    : QObject(parent),
      m_pane(pane),
      m_lineLimit(lineLimit),
      m_columnLimit(columnLimit),
      m_charLimit(charLimit)
{
    m_step.setSingleShot(true);
    connect(&m_step, &QTimer::timeout, this, &PaneFeed::step);
}

// The text as the pane shows it: CR LF and lone CRs become line breaks, and
// a line longer than columnLimit is shown in pieces of that length.  Only the
// text that is actually shown is turned into this form: in a flood most of
// the lines never are.
QString PaneFeed::displayForm(QStringView raw)
{
    QString text;
    text.reserve(raw.size());
    for (qsizetype at = 0; at < raw.size();) {
        const qsizetype cr = raw.indexOf(u'\r', at);
        text += raw.sliced(at, (cr < 0 ? raw.size() : cr) - at);
        if (cr < 0)
            break;
        text += u'\n';
        at = cr + 1 + (cr + 1 < raw.size() && raw[cr + 1] == u'\n');
    }
    // Look for a line that is too long, hopping from line break to line break.
    bool longLine = false;
    qsizetype column = m_column;
    for (qsizetype at = 0;;) {
        const qsizetype next = text.indexOf(u'\n', at);
        const qsizetype end = next < 0 ? text.size() : next;
        longLine = longLine || column + (end - at) > m_columnLimit;
        if (next < 0) {
            column += end - at;
            break;
        }
        column = 0;
        at = next + 1;
    }
    if (longLine) {
        QString pieces;
        pieces.reserve(text.size() + text.size() / m_columnLimit);
        column = m_column;
        for (const QChar c : std::as_const(text)) {
            if (c != u'\n' && column == m_columnLimit) {
                pieces += u'\n';
                column = 0;
            }
            column = c == u'\n' ? 0 : column + 1;
            pieces += c;
        }
        text = std::move(pieces);
    }
    m_column = column;
    return text;
}

void PaneFeed::append(const QString &line)
{
    const bool stepDue = m_step.isActive() || m_stepEnding || m_stepPosted;
    const bool quiet = m_backlog.empty() && !stepDue;
    Piece piece{line, countLines(line)};
    m_backlogLines += piece.lines;
    m_backlogChars += piece.text.size();
    m_backlog.push_back(std::move(piece));
    trimBacklog();
    if (quiet)
        postStep(); // shown at the end of this turn, what follows later waits
    else if (!stepDue)
        m_step.start(m_interval);
}

// A step once the handler that wrote the line, and any that run in the same
// turn, are done: the lines they write together are put in together.
void PaneFeed::postStep()
{
    m_stepPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_stepPosted = false;
            step();
        },
        Qt::QueuedConnection);
}

// Only the newest lines wait, within both bounds; the pane then starts over
// with them.
void PaneFeed::trimBacklog()
{
    qsizetype lines = m_backlogLines - m_lineLimit; // to drop, at least
    qsizetype chars = m_backlogChars - m_charLimit;
    if (lines <= 0 && chars <= 0)
        return;
    while (!m_backlog.empty() && (lines > 0 || chars > 0)) {
        Piece &front = m_backlog.front();
        if (front.lines <= lines || front.text.size() <= chars) {
            lines -= front.lines;
            chars -= front.text.size();
            m_backlogLines -= front.lines;
            m_backlogChars -= front.text.size();
            m_backlog.pop_front();
            continue;
        }
        // Part of the oldest text, up to a line break where there is one.
        qsizetype at = lines > 0 ? afterLines(front.text, lines) : 0;
        if (chars > 0) {
            const qsizetype lineEnd = front.text.indexOf(u'\n', chars - 1);
            at = std::max(at, lineEnd < 0 ? chars : lineEnd + 1);
        }
        dropFront(at);
        break;
    }
    m_restart = true;
}

// Removes the first `chars` characters of the backlog's oldest text.
void PaneFeed::dropFront(qsizetype chars)
{
    Piece &front = m_backlog.front();
    const qsizetype lines = countLines(QStringView(front.text).first(chars));
    front.text.remove(0, chars);
    front.lines = std::max<qsizetype>(0, front.lines - lines);
    m_backlogLines = std::max<qsizetype>(0, m_backlogLines - lines);
    m_backlogChars -= chars;
    if (front.text.isEmpty())
        m_backlog.pop_front();
}

// Takes the backlog's first `lines` lines, fewer when they would hold more
// than `chars` characters (then up to the end of the line that reaches the
// limit); all of it when it has less.
QString PaneFeed::take(qsizetype lines, qsizetype chars)
{
    QString text;
    while (!m_backlog.empty() && lines > 0 && text.size() < chars) {
        Piece &front = m_backlog.front();
        if (front.lines <= lines && front.text.size() <= chars - text.size()) {
            text += front.text;
            lines -= front.lines;
            m_backlogLines -= front.lines;
            m_backlogChars -= front.text.size();
            m_backlog.pop_front();
            continue;
        }
        qsizetype at = afterLines(front.text, lines);
        const qsizetype room = chars - text.size();
        if (at > room) {
            const qsizetype lineEnd = front.text.indexOf(u'\n', room - 1);
            at = lineEnd < 0 ? front.text.size() : lineEnd + 1;
        }
        text += QStringView(front.text).first(at);
        dropFront(at);
        break;
    }
    return text;
}

void PaneFeed::clear()
{
    m_step.stop();
    m_backlog.clear();
    m_backlogLines = 0;
    m_backlogChars = 0;
    m_restart = false;
    m_column = 0;
    m_pane->clear();
}

void PaneFeed::flush()
{
    m_step.stop();
    if (m_backlog.empty() && !m_restart)
        return;
    constexpr qsizetype all = std::numeric_limits<qsizetype>::max();
    show(take(all, all));
    scrollToEnd();
}

QEvent::Type PaneFeed::stepEndEvent()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

void PaneFeed::step()
{
    if (m_backlog.empty() && !m_restart)
        return; // the quiet time after a line is over
    QElapsedTimer took;
    took.start();
    // Slices until the step's time is used up: how long a line takes to lay
    // out depends on its length and its characters, not only on its count.
    do
        show(take(SliceLines, SliceChars));
    while (!m_backlog.empty() && took.elapsed() < StepBudgetMs);
    scrollToEnd();
    // The repaint the step caused counts too: it was posted at low priority,
    // so an event posted now at the same priority comes after it.
    m_stepClock = took;
    m_stepEnding = true;
    QCoreApplication::postEvent(this, new QEvent(stepEndEvent()), Qt::LowEventPriority);
}

bool PaneFeed::event(QEvent *event)
{
    if (event->type() != stepEndEvent())
        return QObject::event(event);
    // A step, with its repaint, may take at most about a tenth of the time.
    m_interval = std::max<int>(StepIntervalMs, 9 * m_stepClock.elapsed());
    m_stepEnding = false;
    m_step.start(m_interval);
    return true;
}

void PaneFeed::show(QStringView raw)
{
    if (m_restart) {
        m_restart = false;
        m_pane->clear();
        m_column = 0;
        emit linesDropped();
    }
    QString text = displayForm(raw);
    QTextDocument *document = m_pane->document();
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    // Lines that would be cut at once are not put in at all.
    const qsizetype breaks = text.count(u'\n');
    qsizetype at = breaks > m_lineLimit ? afterLines(text, breaks - m_lineLimit) : 0;
    if (text.size() - at > m_charLimit) {
        const qsizetype lineEnd = text.indexOf(u'\n', text.size() - m_charLimit - 1);
        at = lineEnd < 0 ? text.size() - m_charLimit : lineEnd + 1;
    }
    if (at > 0) {
        text.remove(0, at);
        m_pane->clear();
        end = QTextCursor(document);
        emit linesDropped();
    }
    insertAtEnd(end, text, at == 0 && breaks <= FewLines);
    if (document->blockCount() > m_lineLimit + m_lineLimit / 10
        || document->characterCount() > m_charLimit + m_charLimit / 10)
        cutPane();
}

// The pane's layout (QPlainTextDocumentLayout) asks for a repaint of only
// the lines that changed when a change ends in the last line.  Text that
// ends with a line break never does (the break starts a new, empty last
// line), and the layout then asks for a repaint of all the pane shows: every
// line the window wrote shaped and drew again every line in view.  So for a
// step that adds a few lines, the layout's signals are held while the text
// goes in, and its listeners (the pane) are told what it tells on its quick
// path: the new size, and each line from the one the text went into.
// Scrolling to the end then moves what is shown and paints only the lines
// that come into view.  Many lines at once are left to the layout: telling
// them one by one would lay out lines that are never shown.
void PaneFeed::insertAtEnd(QTextCursor &end, const QString &text, bool fewLines)
{
    QTextDocument *document = m_pane->document();
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    if (!fewLines) {
        end.insertText(text);
        return;
    }
    const QTextBlock changed = document->lastBlock();
    {
        const QSignalBlocker quiet(layout);
        end.insertText(text);
    }
    emit layout->documentSizeChanged(layout->documentSize());
    for (QTextBlock block = changed; block.isValid(); block = block.next())
        emit layout->updateBlock(block);
}

void PaneFeed::scrollToEnd()
{
    m_pane->moveCursor(QTextCursor::End);
    m_pane->ensureCursorVisible();
}

void PaneFeed::cutPane()
{
    // Up to the start of a line: past the lines beyond lineLimit, and past
    // the line holding the first character beyond charLimit.
    QTextDocument *document = m_pane->document();
    int until = 0;
    const int blocks = document->blockCount() - m_lineLimit;
    if (blocks > 0)
        until = document->findBlockByNumber(blocks).position();
    const qsizetype chars = document->characterCount() - m_charLimit;
    if (chars > 0) {
        const QTextBlock next = document->findBlock(int(chars)).next();
        until = std::max(until, next.isValid() ? next.position() : document->characterCount() - 1);
    }
    if (until <= 0)
        return;
    QTextCursor oldest(document);
    oldest.setPosition(until, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    emit linesDropped();
}
