#include "autoping.h"

AutoPing::AutoPing(ProbeLink &link, MsgSink &report, QObject *parent)
    : QObject(parent), m_link(link), m_report(report)
{
    // Precise: each tick is due a whole period after the one before was due,
    // not after it ran, so late ticks do not push the later ones back.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(Interval);
    connect(&m_timer, &QTimer::timeout, this, &AutoPing::Timer2_Timer);
    m_clock.start();
}

void AutoPing::start(const QString &peer)
{
    m_on = true;
    m_timer.start();
    m_stats.reset(peer);
    m_hasRun = true;
    emit measured();
}

void AutoPing::judgeLast()
{
    stop();
    m_stats.tick();
    emit measured();
}

void AutoPing::noteResponse()
{
    m_answered = true;
    m_stats.responseArrived(m_clock.nsecsElapsed() / 1000);
    emit measured();
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
    m_stats.tick();
    const qint64 sentAt = m_clock.nsecsElapsed() / 1000;
    const bool sent = m_link.Send(AutoPingQuery);
    if (sent) {
        m_stats.querySent(sentAt);
        emit querySent();
    }
    emit measured();
    if (!sent) {
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
