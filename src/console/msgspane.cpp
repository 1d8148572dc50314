// The messages pane: every line the program tells the user, also handed to
// the log.  Lines are appended in place (the pane is never re-read and set
// again), and the caret is kept at the end so the last line is in view.
//
// The pane shows line ends as line breaks; msgsText() gives the text back
// with CR LF, as written.  A report that arises while a report is being
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

// Line ends as the pane shows them: CR LF and lone CRs as line breaks.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

void FrmMain::AddToMsgsBox(const QString &speaker, const QString &sentence)
{
    if (m_paneReportDepth > 1)
        return;
    ++m_paneReportDepth;
    Guard(*this, QStringLiteral(" in frmMain.AddToMsgsBox; "), [&] {
        QPlainTextEdit *pane = ui->txtMsgs;
        if (speaker == QLatin1String("cls")) {
            pane->clear();
        } else {
            QString label = speaker;
            if (speaker == QLatin1String("You"))
                label = Winsock1.LocalIP();
            else if (speaker == QLatin1String("Remote"))
                label = Winsock1.RemoteHostIP();
            const QString line = label + u':' + u'\t' + sentence;

            QTextCursor end(pane->document());
            end.movePosition(QTextCursor::End);
            end.insertText(forDisplay(line));
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
