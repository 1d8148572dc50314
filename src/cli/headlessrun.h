// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// HeadlessRun: the responder and the probe of the command line, run without
// a window.  It goes through the same start-up steps as the window (the log,
// the connection check, the adapter snapshot), opens one Session, and prints
// every line the window's pane would show: errors and refusals on standard
// error, everything else on standard output, one line each, and all of it in
// the daily log.
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
// that could not be opened or failed, or a log that could not be opened.

#include "base/msgsink.h"
#include "base/nametables.h"
#include "commandline.h"
#include "netenv/addressrules.h"
#include "netenv/localadapters.h"
#include "runlog/runlog.h"

#include <QObject>
#include <QTextStream>
#include <QTimer>

#include <memory>

class AdapterSource;
class Clock;
class Environment;
class Session;

class HeadlessRun : public QObject, public MsgSink
{
    Q_OBJECT
public:
    HeadlessRun(const Command &command, const Environment &env, const Clock &clock,
                const AdapterSource &adapters, QTextStream &out, QTextStream &err);
    ~HeadlessRun() override;

    // Starts the run.  Returns an exit status when it ended at once (start-up
    // or the open failed); otherwise -1, and finished() comes later.
    int start();
    // Ends the run now (Ctrl+C, SIGTERM): the probe's summary, the log's
    // last line, finished().
    void stop();

    void AddToMsgsBox(const QString &speaker, const QString &sentence) override;

signals:
    void finished(int status);

private:
    static void print(QTextStream &stream, QString line);
    void onStateShown();
    void onQuerySent();
    void end(int status);
    int probeStatus() const;

    Command m_command;
    QTextStream &m_out;
    QTextStream &m_err;
    NameTables m_tables;
    RunLog m_log;
    class PrintedDialogs;
    std::unique_ptr<PrintedDialogs> m_dialogs;
    LocalAdapters m_adapters;
    AddressRules m_rules;
    std::unique_ptr<Session> m_session;
    QTimer m_lastAnswer; // the last query's interval, after --count queries
    int m_sent = 0;
    bool m_probing = false;
    bool m_failed = false; // the socket failed or a line said so
    bool m_ended = false;
};
