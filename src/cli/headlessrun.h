// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// HeadlessRun: the responder and the probe of the command line, run without
// a window.  The program's core (the name tables, the log, the adapter
// snapshot and the address rules, made and started by the application as for
// the window) is handed in; the lines reach the terminal and the log through
// the run's transcript.
//
//   respond  a responder (peers/responder.h) serving the chosen protocol:
//            every client at once, every AutoPing text read freely (split,
//            merged, numbered), UDP in batches, answers from the address
//            asked; a line a minute per client address (respondlines.h)
//            unless --every-query.  A failure that closes it opens it
//            again, so it can stay up as a service.  With --stamp, the
//            two-way measurement's reflector instead (peers/stampreflector.h).
//   probe    probes every target at once (peers/probetarget.h), each
//            with its lines (targetlines.h).  When every target has ended,
//            at the deadline, or at stop(), it prints a summary per target
//            (and a total line for several), or the JSON document (--json).
//            With several targets the terminal gets only the minute lines
//            per target (or the lines per query with --every-query) and
//            the failures (naming their target); the log gets everything.
//            The targets send in groups spread over the interval.  A target that cannot be reached
//            is tried again every interval when there are several targets, a metrics endpoint, or
//            --keep-going.
//
// Exit status: 0 when the responder was stopped, or every query to every
// target was answered; 1 when some were not (or none was due); 2 when a
// target could not be probed (a refused address, a socket that could not be
// opened or failed, a peer that ended the connection, without retries).

#include "commandline.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class AddressRules;
class MetricsEndpoint;
class MsgSink;
class ProbeClock;
class ProbeTarget;
class ReadyWatch;
class QTextStream;
class Responder;
class RespondLines;
class StampLines;
class StampReflector;
class TargetLines;
class TerminalFace;
struct NameTables;

class HeadlessRun : public QObject
{
    Q_OBJECT
public:
    HeadlessRun(const Command &command, const NameTables &tables, const AddressRules &rules,
                MsgSink &lines, TerminalFace &face, QTextStream &out);
    ~HeadlessRun() override;

    // Starts the run.  Returns an exit status when it ended at once (the
    // input was refused, or nothing could be opened); otherwise -1, and
    // finished() comes later.
    int start();
    // Ends the run now (Ctrl+C, SIGTERM): the probe's summary, finished().
    void stop();

    // Targets that send in the same turn of the event loop, at most.
    static constexpr int TargetsPerSlot = 50;

signals:
    void finished(int status);

private:
    bool probing() const { return m_command.kind == Command::Probe; }
    void onStateShown();
    void targetDone();
    void end();
    int status() const;

    bool serveMetrics(QString *why);

    Command m_command;
    QTextStream &m_out;
    MsgSink &m_lines;
    std::unique_ptr<MetricsEndpoint> m_metrics;
    int m_status = 0;                                    // the probe's, once it ended
    std::unique_ptr<ReadyWatch> m_readyWatch;            // the UDP sockets', outlives them
    std::unique_ptr<ProbeClock> m_clock;                 // the targets' probers', too
    std::unique_ptr<Responder> m_responder;              // respond
    std::unique_ptr<RespondLines> m_respondLines;        // and its lines
    std::unique_ptr<StampReflector> m_stamp;             // respond --stamp
    std::unique_ptr<StampLines> m_stampLines;            // and its lines
    std::vector<std::unique_ptr<ProbeTarget>> m_targets; // probe
    std::vector<std::unique_ptr<TargetLines>> m_targetLines;
    bool m_ended = false;
    QTimer *m_minute = nullptr; // a line a minute per client or target
};
