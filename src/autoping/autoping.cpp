#include "autoping.h"

#include "startup/failure.h"

AutoPing::AutoPing(ProbeWindow &window, QObject *parent) : QObject(parent), m_window(window)
{
    // Precise: each tick is due a whole period after the one before was due,
    // not after it ran, so late ticks do not push the later ones back.
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer2.setInterval(Interval);
    connect(&Timer2, &QTimer::timeout, this, &AutoPing::Timer2_Timer);
}

void AutoPing::cmdAutoPing_Click()
{
    Guard(m_window, QStringLiteral(" in frmMain.cmdAutoPing_Click; "), [&] {
        AutoPingOn = !AutoPingOn;
        if (AutoPingOn)
            Timer2.start();
        else
            Timer2.stop();
    });
}

void AutoPing::Timer2_Timer()
{
    // A probe switched off elsewhere stops its clock here, without a line.
    if (!AutoPingOn) {
        Timer2.stop();
        return;
    }
    if (!m_window.Send(AutoPingQuery)) {
        m_window.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to send ") + AutoPingQuery + CRLF);
        Timer2.stop();
        AutoPingOn = false;
    }
    if (!PingAnswered)
        m_window.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to receive a response.") + CRLF);
    else
        PingAnswered = false;
}
