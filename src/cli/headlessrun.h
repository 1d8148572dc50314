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
//   probe    a client that connects (TCP) or binds (UDP) and runs a Prober
//            (prober.h); at its end, at stop() or when the connection ends,
//            it prints the summary.  A connection the peer ends (closed or
//            reset) is told on standard error and ends the run, unless
//            --keep-going makes it again once per interval.  With --connect
//            the host is looked up once and every query is a new TCP
//            connection to it, timed until it is made.
//
// Exit status: 0 when the responder was stopped, or every query of the
// probe was answered; 1 when some were not (or none was sent); 2 for a
// refused address, a socket that could not be opened or failed, or a peer
// that ended the connection.

#include "commandline.h"
#include "prober.h"

#include <QObject>
#include <QTimer>

#include <memory>

class AddressRules;
class MsgSink;
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
    // input was refused, or the open failed); otherwise -1, and finished()
    // comes later.
    int start();
    // Ends the run now (Ctrl+C, SIGTERM): the probe's summary, finished().
    void stop();

signals:
    void finished(int status);

private:
    bool probing() const { return m_command.kind == Command::Probe; }
    void onStateShown();
    void connectionEnded();
    void end(int status);
    int probeStatus() const;
    void open();
    Prober::Sent sendQuery(int seq, bool numbered);
    void startConnects();
    Prober::Sent connectOnce(int seq);

    Command m_command;
    MsgSink &m_lines;
    const TerminalFace &m_face;
    QTextStream &m_out;
    std::unique_ptr<Session> m_session;
    Prober m_prober;
    QTimer m_reopen;  // --keep-going: the next try to connect again
    QString m_target; // --connect: the host's address
    bool m_ended = false;
};
