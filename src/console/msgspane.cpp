// The messages pane: every line the program tells the user, also handed to
// the log.  Lines are appended in place (the pane is never re-read and set
// again), and the caret is kept at the end so the last line is in view.
//
// The pane shows line ends as line breaks; msgsText() gives the text back
// with CR LF, as written.
//
// The pane is bounded so that a long test or a flood of data never slows the
// window down or fills the memory: it keeps the newest PaneLineLimit lines,
// and shows a line's text in pieces of at most PaneColumnLimit characters
// (a peer that sends megabytes without a line break would otherwise make
// every repaint lay out one enormous line).  The log file keeps every line
// whole; once the pane has dropped lines, a note under it says so and names
// the log file.  A report that arises while a report is being
// written (a pane or log that keeps failing) is dropped after one level, so
// reporting always ends.

#include "frmmain.h"

#include "runlog/runlog.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// Line ends as the pane shows them: CR LF and lone CRs as line breaks; a
// line longer than PaneColumnLimit continues on the next pane line.
QString forDisplay(QString text, qsizetype column)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QString out;
    out.reserve(text.size() + text.size() / FrmMain::PaneColumnLimit);
    for (const QChar c : std::as_const(text)) {
        if (c == u'\n') {
            column = 0;
        } else if (column == FrmMain::PaneColumnLimit) {
            out += u'\n';
            column = 0;
        }
        if (c != u'\n')
            ++column;
        out += c;
    }
    return out;
}

} // namespace

void FrmMain::setupPane()
{
    ui->txtMsgs->setMaximumBlockCount(PaneLineLimit);
    ui->txtMsgs->setUndoRedoEnabled(false);
}

void FrmMain::notePaneTrimmed()
{
    if (ui->lblOlderLines->isVisible() || ui->txtMsgs->blockCount() < PaneLineLimit)
        return;
    ui->lblOlderLines->setText(
        tr("Older lines are no longer shown here; the log file keeps every line: %1")
            .arg(Globals::instance().LogStream().fileName()));
    ui->lblOlderLines->setVisible(true);
}

void FrmMain::AddToMsgsBox(const QString &speaker, const QString &sentence)
{
    if (m_paneReportDepth > 1)
        return;
    ++m_paneReportDepth;
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] {
        QPlainTextEdit *pane = ui->txtMsgs;
        if (speaker == QLatin1String("cls")) {
            pane->clear();
            ui->lblOlderLines->setVisible(false);
        } else {
            QString label = speaker;
            if (speaker == QLatin1String("You"))
                label = Winsock1.LocalIP();
            else if (speaker == QLatin1String("Remote"))
                label = Winsock1.RemoteHostIP();
            const QString line = label + u':' + u'\t' + sentence;

            QTextCursor end(pane->document());
            end.movePosition(QTextCursor::End);
            end.insertText(forDisplay(line, end.positionInBlock()));
            notePaneTrimmed();
            Globals::instance().LogStream().LogWrite(line);
        }
        pane->moveCursor(QTextCursor::End);
        pane->ensureCursorVisible();
    });
    --m_paneReportDepth;
}

QString FrmMain::msgsText() const
{
    QString text = ui->txtMsgs->toPlainText();
    text.replace(u'\n', CRLF);
    return text;
}
