// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// HeadlessRun: the responder and the probe of the command line, run without
// a window.  The program's core (the name tables, the log, the adapter
// snapshot and the address rules, made and started by the application as for
// the window) is handed in; the run opens one Session, whose lines reach the
// terminal and the log through the run's transcript.
//
//   respond  a server in the chosen protocol on --port and --local; a TCP
//            responder listens again when its client has gone (one client
//            at a time), so it can stay up as a service.
//   probe    a client that connects (TCP) or binds (UDP) and runs AutoPing;
//            after --count queries (and one more interval for the last
//            answer), or at stop(), it prints the summary and ends.
//
// Exit status: 0 when the responder was stopped, or the probe had at least
// one response; 1 when the probe had none; 2 for a refused address, a socket
// that could not be opened or failed.

#include "commandline.h"

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
                MsgSink &lines, const TerminalFace &face, QTextStream &out);
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
    void onStateShown();
    void onQuerySent();
    void end(int status);
    int probeStatus() const;
    void listen();

    Command m_command;
    const TerminalFace &m_face;
    QTextStream &m_out;
    std::unique_ptr<Session> m_session;
    QTimer m_lastAnswer; // the last query's interval, after --count queries
    int m_sent = 0;
    bool m_probing = false;
    bool m_ended = false;
};
