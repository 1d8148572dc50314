// Sending: all text that leaves the program goes through Send, which echoes
// it into the pane under the local address.

#include "frmmain.h"

#include "startup/failure.h"
#include "ui_frmmain.h"

bool FrmMain::Send(const QString &text)
{
    bool result = false;
    Guard(*this, QStringLiteral(" in frmMain.Send; "), [&] {
        if (text.isEmpty())
            return;
        const qint16 state = Winsock1.State();
        const bool canSend = (state == Winsock::sckOpen && !UseTCP) || state == Winsock::sckConnected;
        if (canSend) {
            Winsock1.SendData(text);
            const bool probeText = text == AutoPingQuery || text == AutoPingResponse;
            AddToMsgsBox(QStringLiteral("You"), probeText ? text + CRLF : text);
        } else {
            AddToMsgsBox(QStringLiteral("++ PEBKAC"),
                         QStringLiteral("You must establish a connection first.") + CRLF);
        }
        result = true;
    });
    return result;
}

void FrmMain::cmdSend_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdSend_Click; "), [&] {
        // Line breaks typed with Ctrl+Enter travel as CR LF, like the one added at the end.
        QString text = ui->txtSend->toPlainText();
        text.replace(u'\n', CRLF);
        Send(text + CRLF);
        ui->txtSend->clear();
    });
}
