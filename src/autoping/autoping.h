// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// AutoPing: the window's end-to-end probe between two copies of the tool.
//
// The client sends the query once a second; a copy in server mode answers
// every query at once with the response (see the session's data-arrival
// handler).  At each tick the probe first sends its query, then looks whether
// a response came since the tick before: each query has one interval to be
// answered.  Both texts travel bare, one send each, without a line ending.
//
// The probe also measures the path with the probe engine
// (probe/probeengine.h), which judges at the ticks as the lines do: a query
// not answered by the next tick had no answer, and is lost unless its
// answer comes by the tick after that (then it is late).  Measuring adds no
// line to the pane; it only feeds the figures that the window shows.

#include "base/msgsink.h"
#include "probe/probeengine.h"
#include "probe/probetexts.h"

#include <QObject>
#include <QTimer>

// What the probe needs to send its query: the one send function of the
// session (it echoes what it sends).  False when the text was empty or the
// send failed.
class ProbeLink
{
public:
    virtual ~ProbeLink() = default;
    virtual bool Send(const QString &text) = 0;
};

class AutoPing : public QObject
{
    Q_OBJECT
public:
    // The probe's clock, precise, so ticks do not drift.
    static constexpr int Interval = 1000; // ms

    AutoPing(ProbeLink &link, MsgSink &report, QObject *parent = nullptr);

    // Starts the clock and a new measurement against peer ("host:port"); the
    // first query goes out one interval later.
    void start(const QString &peer = {});
    // Stops the probe without a line; the query still in flight is judged
    // now (lost), so the figures count every query the pane shows.
    // Harmless when it does not run.
    void stop();
    bool isRunning() const { return m_on; }

    // The session handed a query to the socket at atUs (base/clock.h).
    void noteQueryHandedOver(qint64 atUs);
    // A response arrived at atUs: it counts for the next tick.  Kept between
    // runs, so a response that came after the last tick of a run counts for
    // the first tick of the next.
    void noteResponse(qint64 atUs);

    // What this run (or the last one) measured.
    const ProbeFigures &stats() const { return m_engine.figures(); }
    // True once a run was started in this session.
    bool hasRun() const { return m_hasRun; }

signals:
    // A query was handed to the socket.
    void querySent();
    // The figures changed (a tick, a new run, its end).
    void measured();

private:
    void Timer2_Timer();

    ProbeLink &m_link;
    MsgSink &m_report;
    bool m_on = false;       // AutoPingOn
    bool m_answered = false; // PingAnswered
    QTimer m_timer;          // Timer2
    ProbeEngine m_engine;
    bool m_hasRun = false;
};
