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
#include <QStyleOptionSlider>
#include <QTextCursor>

#include <tuple>

namespace {

// The pane's vertical scroll bar.  Every new line changes its range, and a
// scroll bar paints itself whole at every change; but once the pane holds a
// few screens of lines, the slider keeps its size and its place at the
// bottom from one line to the next.  This bar is painted again only when
// what it shows has changed (the slider's place and size, whether it is at
// either end) once the pane is done with it: a new line first grows the
// range, then moves the value to its end.
class PaneScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderOrientationChange) {
            QScrollBar::sliderChange(change); // repaints
            return;
        }
        if (m_checkPosted)
            return;
        m_checkPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_checkPosted = false;
                if (look() != m_shown)
                    update();
            },
            Qt::QueuedConnection);
    }
    void paintEvent(QPaintEvent *event) override
    {
        m_shown = look();
        QScrollBar::paintEvent(event);
    }

private:
    using Look = std::tuple<QRect, bool, bool, bool>;
    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect slider = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, this);
        return {slider, value() == minimum(), value() == maximum(), minimum() == maximum()};
    }

    Look m_shown{QRect(), false, false, false};
    bool m_checkPosted = false;
};

} // namespace

void FrmMain::setupPane()
{
    ui->txtMsgs->setUndoRedoEnabled(false);
    ui->txtMsgs->setVerticalScrollBar(new PaneScrollBar(Qt::Vertical));
    // Every new line moves the pane's scroll bar, and the figures under it
    // change every second.  Both paint all of their area, so they are marked
    // opaque: the group box and the window behind them are no longer painted
    // again each time (half of a probing window's cost).  So is the
    // horizontal bar, shown once a line is wider than the pane.
    QScrollBar *bar = ui->txtMsgs->verticalScrollBar();
    for (QScrollBar *each : {bar, ui->txtMsgs->horizontalScrollBar()}) {
        each->setAutoFillBackground(true);
        if (QWidget *box = each->parentWidget())
            box->setAutoFillBackground(true);
    }
    // The scroll area lays out its bars again whenever a bar's range changes
    // (on a later turn), to show or hide it.  The vertical bar is always
    // shown, and its range changes with every new line; laying out raises
    // both bars in turn, which paints both again whenever the horizontal one
    // is shown.  The horizontal bar's own range still shows or hides it.
    QObject::disconnect(bar, SIGNAL(rangeChanged(int, int)), ui->txtMsgs,
                        SLOT(_q_showOrHideScrollBars()));
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

void FrmMain::showLine(LineKind, const QString &, const QString &, const QString &line)
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
