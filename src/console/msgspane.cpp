// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The messages pane: every line the program tells the user, also handed to
// the log.  Lines are appended in place (the pane is never re-read and set
// again), and the caret is kept at the end so the last line is in view.
//
// The pane shows line ends as line breaks; msgsText() gives the text back
// with CR LF, as written.
//
// The pane is bounded so that a long test or a flood of data never slows the
// window down or fills the memory: PaneFeed (panefeed.h) puts the lines in at
// the pace the pane can take, keeps the newest PaneLineLimit lines and shows
// a line's text in pieces of at most PaneColumnLimit characters.  The log
// file gets every line whole, at once; once the pane has dropped lines, a
// note under it says so and names the log file.
//
// A log write that fails comes back here as a failure: its error line goes
// to the pane only, never to the log again.  A report that arises while a
// report is being written (a pane that keeps failing) is dropped after one
// level, so reporting always ends.

#include "frmmain.h"
#include "panefeed.h"

#include "base/failure.h"
#include "runlog/runlog.h"
#include "ui_frmmain.h"

#include <QPlainTextEdit>
#include <QTextCursor>

void FrmMain::setupPane()
{
    ui->txtMsgs->setUndoRedoEnabled(false);
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

void FrmMain::AddToMsgsBox(const QString &speaker, const QString &sentence)
{
    if (m_paneReportDepth > 1)
        return;
    ++m_paneReportDepth;
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] {
        if (speaker == QLatin1String("cls")) {
            m_paneFeed->clear();
            ui->lblOlderLines->setVisible(false);
            ui->txtMsgs->moveCursor(QTextCursor::End);
            return;
        }
        const QString line = m_session.label(speaker) + u':' + u'\t' + sentence;
        m_paneFeed->append(line);
        RuntimeError failure;
        if (!m_context.log.LogWrite(line, &failure) && failure.number != 0)
            m_paneFeed->append(RunLog::FailedWriteLine(failure));
    });
    --m_paneReportDepth;
}

QString FrmMain::msgsText() const
{
    m_paneFeed->flush();
    QString text = ui->txtMsgs->toPlainText();
    text.replace(u'\n', CRLF);
    return text;
}
