// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The messages pane: the window's face of the run's transcript
// (runlog/transcript.h), which writes every line to the log as well.  Lines
// are appended in place (the pane is never re-read and set again), and the
// caret is kept at the end so the last line is in view.
//
// The pane shows line ends as line breaks; msgsText() gives the text back
// with CR LF, as written.
//
// The pane is bounded so that a long test or a flood of data never slows the
// window down or fills the memory: PaneFeed (panefeed.h) puts the lines in at
// the pace the pane can take, keeps the newest PaneLineLimit lines and shows
// a line's text in pieces of at most PaneColumnLimit characters.  The log
// file gets every line whole, at once; once the pane has dropped lines, a
// note under it says so and names the log file, until the pane is emptied.

#include "frmmain.h"
#include "panefeed.h"

#include "runlog/runlog.h"
#include "ui_frmmain.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

void FrmMain::setupPane()
{
    ui->txtMsgs->setUndoRedoEnabled(false);
    // Every new line moves the pane's scroll bar, and the figures under it
    // change every second.  Both paint all of their area, so they are marked
    // opaque: the group box and the window behind them are no longer painted
    // again each time (half of a probing window's cost).
    QScrollBar *bar = ui->txtMsgs->verticalScrollBar();
    bar->setAutoFillBackground(true);
    if (QWidget *box = bar->parentWidget())
        box->setAutoFillBackground(true);
    ui->fraFigures->setAutoFillBackground(true);
    m_paneFeed = new PaneFeed(ui->txtMsgs, PaneLineLimit, PaneColumnLimit, this);
    connect(m_paneFeed, &PaneFeed::linesDropped, this, &FrmMain::notePaneTrimmed);
}

void FrmMain::notePaneTrimmed()
{
    if (ui->lblOlderLines->isVisible())
        return;
    ui->lblOlderLines->setText(
        tr("Older lines are no longer shown here; the log file keeps every line: %1")
            .arg(m_context.log.fileName()));
    ui->lblOlderLines->setVisible(true);
}

void FrmMain::showLine(LineKind, const QString &, const QString &line)
{
    m_paneFeed->append(line);
}

void FrmMain::clearLines()
{
    m_paneFeed->clear();
    ui->lblOlderLines->setVisible(false);
    ui->txtMsgs->moveCursor(QTextCursor::End);
}

QString FrmMain::msgsText() const
{
    m_paneFeed->flush();
    QString text = ui->txtMsgs->toPlainText();
    text.replace(u'\n', CRLF);
    return text;
}
