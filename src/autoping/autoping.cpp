#include "autoping.h"

AutoPing::AutoPing(ProbeLink &link, MsgSink &report, QObject *parent)
    : QObject(parent), m_link(link), m_report(report)
{
    // Precise: each tick is due a whole period after the one before was due,
    // not after it ran, so late ticks do not push the later ones back.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(Interval);
    connect(&m_timer, &QTimer::timeout, this, &AutoPing::Timer2_Timer);
}

void AutoPing::start()
{
    m_on = true;
    m_timer.start();
}

void AutoPing::stop()
{
    m_on = false;
    m_timer.stop();
}

void AutoPing::Timer2_Timer()
{
    if (!m_on) {
        m_timer.stop();
        return;
    }
    if (!m_link.Send(AutoPingQuery)) {
        m_report.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to send ") + AutoPingQuery + CRLF);
        stop();
    }
    if (!m_answered)
        m_report.AddToMsgsBox(QStringLiteral("AutoPing"),
                              QStringLiteral("Failed to receive a response.") + CRLF);
    else
        m_answered = false;
}
