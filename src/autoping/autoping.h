#pragma once
// AutoPing: an end-to-end probe between two copies of the tool.
//
// The client sends the query once a second; a copy in server mode answers
// every query at once with the response (see the data-arrival handler).  At
// each tick the probe first sends its query, then looks whether a response
// came since the tick before: each query has one interval to be answered.
// Both texts travel bare, one send each, without a line ending.

#include "startup/msgsink.h"

#include <QObject>
#include <QTimer>

inline const QString AutoPingQuery = QStringLiteral("++ AutoPing Query ++");
inline const QString AutoPingResponse = QStringLiteral("++ AutoPing Response ++");

// What the probe needs of the window: its send function and its pane.
class ProbeWindow : public MsgSink
{
public:
    // Sends text; false when the text was empty or the send failed.
    virtual bool Send(const QString &text) = 0;
};

class AutoPing : public QObject
{
    Q_OBJECT
public:
    explicit AutoPing(ProbeWindow &window, QObject *parent = nullptr);

    // The probe runs.  Cleared elsewhere (state display, Connect button,
    // close and error events) to stop it: the timer then stops itself at its
    // next tick.
    bool AutoPingOn = false;
    // A response arrived since the probe last looked.  Kept between runs.
    bool PingAnswered = false;
    // The probe's clock: Interval, precise, so ticks do not drift.
    static constexpr int Interval = 1000; // ms
    QTimer Timer2;

    void cmdAutoPing_Click();
    void Timer2_Timer();

private:
    ProbeWindow &m_window;
};
