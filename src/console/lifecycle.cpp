// The window's life: its load, its unload (which ends the program) and the
// state watch.
//
// The state watch (Timer1) reports every change of the socket's state once,
// as a "Winsock" line, and refreshes the display.  Instead of ticking every
// millisecond for the whole run, it ticks once, 1 ms after the socket reports
// that its state was touched (Winsock::stateTouched, emitted from inside the
// operation that changed it).  Because the tick runs from the event loop, after
// the handler that made the change has returned, it sees exactly what a 1 ms
// poll would: every state that lasts until the next turn of the event loop,
// each once, and nothing for a change undone inside one handler.  An idle
// window therefore wakes up no more than any other idle Qt window.

#include "frmmain.h"

#include "netenv/localadapters.h"
#include "runlog/runlog.h"
#include "servers/frmaddress.h"
#include "servers/serverlist.h"
#include "startup/dialogs.h"
#include "startup/failure.h"
#include "startup/globals.h"
#include "ui_frmmain.h"

#include <QCoreApplication>

namespace {
constexpr int StateWatchInterval = 1;   // ms
constexpr int AutoPingInterval = 1000;  // ms
} // namespace

void FrmMain::Form_Load()
{
    Globals &g = Globals::instance();
    TryRun([&] {
        ui->optMode_0->setChecked(true);
        optMode_Click(0);
        ui->optProtocol_0->setChecked(true);
        optProtocol_Click(0);

        ui->cmdAutoPing->setEnabled(false);
        AutoPingOn = false;

        if (!GetLocIPs())
            Raise(rt::ProgramError, QStringLiteral("Failed to get the local IP list"));
        ui->cboLocAddress->addItems(g.LocIPs);
        ui->cboLocAddress->setEditText(Winsock1.LocalIP());

        ui->cboRemAddress->addItems(g.serverList().items());
        ui->cboRemAddress->setEditText(QString());

        m_timer1Interval = StateWatchInterval;
        Timer2.setInterval(AutoPingInterval);
        Timer2.stop();

        ShowState();
        show();
    }, [&](const RuntimeError &e) {
        g.dialogs().MsgBox(ErrorSpeaker(e.number) + QStringLiteral(" in frmMain.Form_Load; ")
                           + e.description + CRLF);
    });
}

void FrmMain::endProgram(const QString &piece)
{
    Guard(*this, piece, [&] {
        Winsock1.Close();
        Globals::instance().LogStream().LogClose();
        // End at once: no further handler of this window runs.
        m_ended = true;
        Timer1.stop();
        Timer2.stop();
        Winsock1.disconnect(this);
        Globals &g = Globals::instance();
        if (g.hasFrmAddress())
            g.frmAddress().hide();
        hide();
        QCoreApplication::exit(0);
    });
}

void FrmMain::Form_Unload()
{
    if (!m_ended)
        endProgram(QStringLiteral(" in frmMain.Form_Unload; "));
}

void FrmMain::Form_Terminate()
{
    if (!m_ended)
        endProgram(QStringLiteral(" in frmMain.Form_Terminate; "));
}

void FrmMain::armStateWatch()
{
    // The watch starts with the load; before it, nothing is reported.
    if (m_timer1Interval >= 0 && !m_ended && !Timer1.isActive())
        Timer1.start(m_timer1Interval);
}

void FrmMain::Timer1_Timer()
{
    const qint16 state = Winsock1.State();
    if (state == LastState)
        return;
    // A failing step is reported; the state counts as seen all the same, so
    // the watch does not stay quiet until the next change.
    LastState = state;
    Guard(*this, QStringLiteral(" in frmMain.Timer1_Timer; "), [&] {
        QString line = Globals::instance().States.name(state);
        switch (state) {
        case Winsock::sckConnected:
            line += QStringLiteral(" to ") + Winsock1.RemoteHostIP() + u':'
                    + QString::number(Winsock1.RemotePort());
            break;
        case Winsock::sckConnecting:
        case Winsock::sckConnectionPending:
            line += QStringLiteral(" to ") + Winsock1.RemoteHost() + u':'
                    + QString::number(Winsock1.RemotePort());
            break;
        case Winsock::sckResolvingHost:
            line += u' ' + ui->cboRemAddress->currentText();
            break;
        case Winsock::sckHostResolved:
            line += u' ' + ui->cboRemAddress->currentText() + QStringLiteral(" as ")
                    + Winsock1.RemoteHostIP();
            break;
        default:
            break;
        }
        AddToMsgsBox(QStringLiteral("Winsock"), line + CRLF);
        LastState = Winsock1.State();
        ShowState();
    });
}
