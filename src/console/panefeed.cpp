#include "panefeed.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <climits>
#include <limits>

namespace {

// Where the text after its first `lines` line breaks begins (its end when it
// has fewer).
qsizetype afterLines(QStringView text, int lines)
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

} // namespace

PaneFeed::PaneFeed(QPlainTextEdit *pane, int lineLimit, int columnLimit, QObject *parent)
    : QObject(parent), m_pane(pane), m_lineLimit(lineLimit), m_columnLimit(columnLimit)
{
    m_step.setSingleShot(true);
    connect(&m_step, &QTimer::timeout, this, &PaneFeed::step);
}

PaneFeed::Piece PaneFeed::displayForm(const QString &line)
{
    Piece piece{line};
    QString &text = piece.text;
    if (text.contains(u'\r')) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(u'\r', u'\n');
    }
    // Count the lines and look for one that is too long, hopping from line
    // break to line break.
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
        ++piece.lines;
        column = 0;
        at = next + 1;
    }
    if (longLine) {
        QString pieces;
        pieces.reserve(text.size() + text.size() / m_columnLimit);
        column = m_column;
        piece.lines = 0;
        for (const QChar c : std::as_const(text)) {
            if (c != u'\n' && column == m_columnLimit) {
                pieces += u'\n';
                ++piece.lines;
                column = 0;
            }
            if (c == u'\n')
                ++piece.lines;
            column = c == u'\n' ? 0 : column + 1;
            pieces += c;
        }
        text = std::move(pieces);
    }
    m_column = column;
    return piece;
}

void PaneFeed::append(const QString &line)
{
    Piece piece = displayForm(line);
    if (m_backlog.empty() && !m_step.isActive()) {
        // The pane is quiet: show the line now, and let what follows soon wait.
        QElapsedTimer took;
        took.start();
        show(std::move(piece.text));
        m_interval = std::max<int>(StepIntervalMs, 4 * took.elapsed());
        m_step.start(m_interval);
        return;
    }
    m_backlogLines += piece.lines;
    m_backlog.push_back(std::move(piece));
    if (m_backlogLines > m_lineLimit) {
        // Only the newest lines wait; the pane starts over with them.
        qsizetype excess = m_backlogLines - m_lineLimit;
        while (excess > 0 && m_backlog.front().lines <= excess) {
            excess -= m_backlog.front().lines;
            m_backlogLines -= m_backlog.front().lines;
            m_backlog.pop_front();
        }
        if (excess > 0) {
            Piece &front = m_backlog.front();
            front.text.remove(0, afterLines(front.text, int(excess)));
            front.lines -= excess;
            m_backlogLines -= excess;
        }
        m_restart = true;
    }
    if (!m_step.isActive())
        m_step.start(m_interval);
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
            m_backlog.pop_front();
            continue;
        }
        qsizetype at = afterLines(front.text, int(std::min<qsizetype>(lines, INT_MAX)));
        const qsizetype room = chars - text.size();
        if (at > room) {
            const qsizetype lineEnd = front.text.indexOf(u'\n', room - 1);
            at = lineEnd < 0 ? front.text.size() : lineEnd + 1;
        }
        const QStringView taken = QStringView(front.text).first(at);
        const qsizetype takenLines = taken.count(u'\n');
        text += taken;
        front.text.remove(0, at);
        front.lines -= takenLines;
        m_backlogLines -= takenLines;
        if (front.text.isEmpty())
            m_backlog.pop_front();
        break;
    }
    return text;
}

void PaneFeed::clear()
{
    m_step.stop();
    m_backlog.clear();
    m_backlogLines = 0;
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
}

void PaneFeed::step()
{
    if (m_backlog.empty() && !m_restart)
        return; // the quiet time after a line is over
    QElapsedTimer took;
    took.start();
    show(take(SliceLines, SliceChars));
    // A step may take at most about a fifth of the time.
    m_interval = std::max<int>(StepIntervalMs, 4 * took.elapsed());
    m_step.start(m_interval);
}

void PaneFeed::show(QString text)
{
    if (m_restart) {
        m_restart = false;
        m_pane->clear();
        emit linesDropped();
    }
    QTextDocument *document = m_pane->document();
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    // Lines that would be cut at once are not put in at all.
    const qsizetype breaks = text.count(u'\n');
    if (breaks > m_lineLimit) {
        text.remove(0, afterLines(text, int(breaks - m_lineLimit)));
        m_pane->clear();
        end = QTextCursor(document);
        emit linesDropped();
    }
    end.insertText(text);
    if (document->blockCount() > m_lineLimit + m_lineLimit / 10)
        cutPane();
    m_pane->moveCursor(QTextCursor::End);
    m_pane->ensureCursorVisible();
}

void PaneFeed::cutPane()
{
    QTextDocument *document = m_pane->document();
    const int cut = document->blockCount() - m_lineLimit;
    if (cut <= 0)
        return;
    QTextCursor oldest(document);
    oldest.setPosition(document->findBlockByNumber(cut).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    emit linesDropped();
}
