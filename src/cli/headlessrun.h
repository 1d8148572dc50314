// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// HeadlessRun: the responder and the probe of the command line, run without
// a window.  The program's core (the name tables, the log, the adapter
// snapshot and the address rules, made and started by the application as for
// the window) is handed in; the run opens one Session, whose lines reach the
// terminal and the log through the run's transcript.  It reads the AutoPing
// texts as the command line does (framed: split, merged, numbered).
//
//   respond  a server in the chosen protocol on --port and --local, serving
//            every client at once; a failure that closes it (an oversized
//            datagram) opens it again, so it can stay up as a service.
//   probe    probes every target at once (probetarget.h): connects (TCP)
//            or binds (UDP) and runs a Prober, or with --connect makes a TCP
//            connection per query.  When every target has ended, or at
//            stop(), it prints a summary per target (and a total line for
//            several), or the JSON document (--json).  With several targets
//            the terminal gets only the failures (naming their target) and
//            the lines per answer; the log gets everything.
//
// Exit status: 0 when the responder was stopped, or every query to every
// target was answered; 1 when some were not (or none was sent); 2 when a
// target could not be probed (a refused address, a socket that could not be
// opened or failed, a peer that ended the connection).

#include "commandline.h"

#include <QObject>

#include <memory>
#include <vector>

class AddressRules;
class MetricsEndpoint;
class MsgSink;
class ProbeTarget;
class QTextStream;
class Session;
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
    std::unique_ptr<Session> m_session;                  // respond
    std::vector<std::unique_ptr<ProbeTarget>> m_targets; // probe
    bool m_ended = false;
};
