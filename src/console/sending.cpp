// The send box and the AutoPing button.  Sending itself (the check that the
// socket can carry data, the echo under the local address) is the session's.

#include "frmmain.h"

#include "base/failure.h"
#include "ui_frmmain.h"

void FrmMain::cmdSend_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdSend_Click; "), [&] {
        // Line breaks typed with Ctrl+Enter travel as CR LF, like the one added at the end.
        QString text = ui->txtSend->toPlainText();
        text.replace(u'\n', CRLF);
        m_session.Send(text + CRLF);
        ui->txtSend->clear();
    });
}

// Switches the probe on or off; its caption stays.  Whether it runs shows
// only in the pane.
void FrmMain::cmdAutoPing_Click()
{
    Guard(*this, QStringLiteral(" in frmMain.cmdAutoPing_Click; "), [&] {
        AutoPing &probe = m_session.probe();
        if (probe.isRunning())
            probe.stop();
        else
            probe.start();
    });
}
