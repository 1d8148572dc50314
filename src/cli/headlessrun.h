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
//            With --json-stream, the results as they happen on out, a JSON
//            object a line (jsonstream.h), and the lines on standard error.
//            Every line names its target ("[10.0.0.7:7010] Winsock:\tOpen"),
//            a responder's lines the responder ("[udp :7] ...") or the
//            client ("[tcp :7 from 192.0.2.4:50312] ...") (NamedLines).
//            The targets send in groups spread over the interval.  A target that cannot be reached
//            is tried again every interval when there are several targets, a metrics endpoint, or
//            --keep-going.
//
// With --config the targets, or the responder's ports, and the metrics
// address come from the file (cli/serviceplan.h), and reload() (SIGHUP) reads
// it again: a file with faults changes nothing and says why; a target whose
// settings did not change goes on with its figures, new ones start and
// removed ones stop (and leave the metrics page); a responder's port that did
// not change keeps its socket, changed and new ones open, removed ones close.
//
// Exit status: 0 when the responder was stopped, or every query to every
// target was answered; 1 when some were not (or none was due); 2 when a
// target could not be probed (a refused address, a socket that could not be
// opened or failed, a peer that ended the connection, without retries).

#include "commandline.h"
#include "serviceplan.h"
#include "webconfig.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class AddressRules;
class Clock;
class JsonStream;
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
                const Clock &clock, MsgSink &lines, TerminalFace &face, QTextStream &out);
    ~HeadlessRun() override;

    // Starts the run.  Returns an exit status when it ended at once (the
    // input was refused, or nothing could be opened); otherwise -1, and
    // finished() comes later.
    int start();
    // Ends the run now (Ctrl+C, SIGTERM): the probe's summary, finished().
    void stop();
    // Reads the configuration file again and applies it (SIGHUP); without
    // one it says that there is none.  reloading() comes first, then
    // reloaded(ok): false when the file had faults and nothing changed.
    void reload();
    // --json-stream: the results go out as they happen, told at clock's time.
    void streamJson(const Clock &clock);

    // Targets that send in the same turn of the event loop, at most.
    static constexpr int TargetsPerSlot = 50;

signals:
    void finished(int status);
    void reloading();
    void reloaded(bool ok);

private:
    struct Running; // a target and its lines
    struct Serving; // a responder's port and its lines
    bool probing() const { return m_command.kind == Command::Probe; }
    bool makePlan(ServicePlan *plan);
    void addTarget(const PlannedTarget &planned, int groups, qint64 origin);
    bool openServing(const PlannedResponder &planned);
    void servingDown(Serving &serving);
    void applyTargets(const ServicePlan &plan);
    void applyResponders(const ServicePlan &plan);
    void summarize(const Running &running);
    void targetDone();
    void end();
    int status() const;

    bool serveMetrics(QString *why);

    Command m_command;
    const NameTables &m_tables;
    const AddressRules &m_rules;
    const Clock &m_wallClock; // the date certificates' ends are measured from
    TerminalFace &m_face;
    QTextStream &m_out;
    MsgSink &m_lines;
    std::unique_ptr<MetricsEndpoint> m_metrics;
    WebConfig m_web;                                 // what locks it
    int m_status = 0;                                // the probe's, once it ended
    std::unique_ptr<ReadyWatch> m_readyWatch;        // the UDP sockets', outlives them
    std::unique_ptr<ProbeClock> m_clock;             // the targets' probers', too
    std::vector<std::unique_ptr<Serving>> m_serving; // respond: a port each
    std::vector<std::unique_ptr<Running>> m_running; // probe: a target each
    std::unique_ptr<JsonStream> m_jsonStream;        // --json-stream
    bool m_several = false;                          // named targets, a line a minute each
    bool m_ended = false;
    QTimer *m_minute = nullptr; // a line a minute per client or target
};
