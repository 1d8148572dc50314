// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// PaneFeed: puts the messages pane's lines into its QPlainTextEdit at the pace
// the pane can take them, and keeps the pane bounded.
//
// A QTextDocument costs a few microseconds for every line put into it; a
// peer on the loopback sends a million lines a second.  So the pane must not
// take every line the moment it comes, or the window would freeze and the
// program would fall behind the network (the log, which is written at once,
// would lag with it).  The rule:
//   - A line that comes while the pane is quiet is shown at the end of the
//     turn of the event loop it came in (a very long one as far as one step
//     goes), with the lines that came in the same turn: a query and the
//     answer written right after it are put in, and painted, together.
//   - Lines that follow within StepIntervalMs wait in a backlog and are shown
//     together, one step per interval.  A step puts in slices of at most
//     SliceLines lines (and about SliceChars characters) until it has taken
//     StepBudgetMs, so it never blocks the window for long, however long the
//     lines are.  The interval grows with the time a step and the repaint it
//     causes take, so that the pane never takes more than about a tenth of
//     the time.
//   - The pane keeps the newest lineLimit lines and at most charLimit
//     characters (it is cut back to that once it holds a tenth more: one cut
//     per many lines, and cut here rather than with QPlainTextEdit's
//     maximumBlockCount, which lays out every line it drops).  The backlog
//     keeps at most the newest lineLimit lines and charLimit characters too;
//     when it had to drop some, everything the pane shows is older than what
//     waits, so the pane starts over with the backlog.  Both bounds together
//     keep the memory small whether the lines are short or long.
//   - A line's text is shown in pieces of at most columnLimit characters (a
//     megabyte without a line break would otherwise be laid out as one line
//     at every repaint).  CR LF and lone CRs are shown as line breaks.
//   - A step that adds a few lines repaints those lines only, not all that
//     the pane shows (see show()).
// Whenever lines were dropped, linesDropped() is emitted (the window then
// says that older lines are only in the log).  flush() shows everything that
// waits at once: for readers of the pane's text.

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QPlainTextEdit;
class QTextCursor;

class PaneFeed : public QObject
{
    Q_OBJECT
public:
    static constexpr int SliceLines = 100;
    static constexpr qsizetype SliceChars = 4 * 1024;
    static constexpr int StepBudgetMs = 2;
    static constexpr int StepIntervalMs = 30;
    static constexpr qsizetype CharLimit = 2'000'000;
    // A step adding at most this many line breaks repaints its lines only.
    static constexpr qsizetype FewLines = 4;

    PaneFeed(QPlainTextEdit *pane, int lineLimit, int columnLimit, QObject *parent = nullptr)
        : PaneFeed(pane, lineLimit, columnLimit, CharLimit, parent)
    {}
    PaneFeed(QPlainTextEdit *pane, int lineLimit, int columnLimit, qsizetype charLimit,
             QObject *parent = nullptr);

    void append(const QString &text);
    void clear();
    void flush();

signals:
    void linesDropped();

protected:
    bool event(QEvent *event) override;

private:
    struct Piece
    {
        QString text;        // as it came
        qsizetype lines = 0; // its line ends, about
    };
    QString displayForm(QStringView raw);
    QString take(qsizetype lines, qsizetype chars);
    void trimBacklog();
    void dropFront(qsizetype chars);
    void step();
    void postStep();
    void show(QStringView raw);
    void insertAtEnd(QTextCursor &end, const QString &text, bool fewLines);
    void scrollToEnd();
    static QEvent::Type stepEndEvent();
    void cutPane();

    QPlainTextEdit *m_pane;
    const int m_lineLimit;
    const int m_columnLimit;
    const qsizetype m_charLimit;
    std::deque<Piece> m_backlog;
    qsizetype m_backlogLines = 0;
    qsizetype m_backlogChars = 0;
    bool m_restart = false; // the pane's lines are all older than the backlog's
    qsizetype m_column = 0; // the column where the next text starts
    QTimer m_step;
    QElapsedTimer m_stepClock; // started with the last step
    bool m_stepEnding = false; // the last step's repaint has not run yet
    bool m_stepPosted = false; // a step comes at the end of this turn
    int m_interval = StepIntervalMs;
};
