// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's composition root.  main() makes one Application on the stack;
// it makes the program's objects in order and hands each what it needs: the
// system seams (environment, clock and date formats, dialogs, adapter query,
// which tests replace with fakes), the name tables, the log and the run's
// transcript, the adapter snapshot and own addresses, the address rules, the
// server list and, for the window, the main window when first needed.  The
// window and the command line share this one core; they differ only in the
// transcript's face: the main window's messages pane, or the terminal.  The
// log is opened and closed here and nowhere else.  Nothing in the program
// looks anything up in a global.

#include "base/clock.h"
#include "base/dialogs.h"
#include "base/environment.h"
#include "base/nametables.h"
#include "netenv/adapters.h"
#include "netenv/addressrules.h"
#include "netenv/localadapters.h"
#include "runlog/runlog.h"
#include "runlog/transcript.h"
#include "servers/serverlist.h"

#include <QMetaObject>
#include <QTimer>

#include <memory>

class FrmMain;
class QTextStream;

// What the program asks of the system.
struct Seams
{
    std::unique_ptr<Environment> env;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<AdapterSource> adapters;

    // The real ones: the process environment, the system locale's formats,
    // Qt's dialogs, the system's interface list.
    static Seams system();
    // The same without a window: a message box is printed on err.
    static Seams headless(QTextStream &err);
};

class Application
{
public:
    // terminal: the face of a run without a window; without one the lines
    // go to the main window's pane (made at the first line).
    explicit Application(Seams seams, TranscriptFace *terminal = nullptr);
    ~Application();
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    // The start-up sequence: fills the name tables, opens the log, checks for
    // an active network connection, loads the server list, reads the
    // machine's own addresses and shows the main window.  Each step first
    // sets a step text; a failure is reported with it, and start-up stops.
    // True when the main window was shown.
    bool Main();
    // The start of a run without a window: the name tables, the log and the
    // connection check.  False when the run cannot go on (already said).
    bool StartHeadless();
    // The saved server list's entries (probe --servers), read from its file.
    QStringList savedServers();
    // A run without a window goes on across midnight: once the day's file
    // is another, the log ends in the old one (its last line) and goes on
    // in the new one (its first line).  The window keeps the one file it
    // chose at start-up.
    void RotateLog();
    // From now on the log follows the days: every record goes to the file
    // of its own date, and at midnight (to the second) the log moves on
    // even when nothing is written; a log that could not be opened is
    // tried again once a minute.  Needs the event loop.
    void followDays();
    // A run without a window writes its lines a turn of the event loop at a
    // time: the terminal and the log get each turn's lines in one write, at
    // the end of the turn (Transcript::groupLines).  Needs the event
    // dispatcher, so the application object, to exist.
    void groupLinesPerTurn();
    // The end of the run: the lines kept, then the log's last line, when it
    // is open.
    void EndRun();

    // The main window; made (and loaded) at the first call.
    FrmMain &frmMain();
    // The main window if it was made, else null.
    FrmMain *window() const { return m_window.get(); }

    const Environment &env() const { return *m_seams.env; }
    const Clock &clock() const { return *m_seams.clock; }
    const NameTables &tables() const { return m_tables; }
    // The program folder (log, server list, a TLS server's certificate).
    QString programFolder() const;
    // Every line the program tells the user: its face and the log.
    MsgSink &lines() { return m_transcript; }
    RunLog &log() { return m_log; }
    ServerList &servers() { return m_servers; }
    const AddressRules &rules() const { return m_rules; }

private:
    void fillTables(QString &step);

    Seams m_seams;
    NameTables m_tables;
    RunLog m_log;
    TranscriptFace *m_terminal;
    Transcript m_transcript;
    LocalAdapters m_adapters;
    AddressRules m_rules;
    ServerList m_servers;
    std::unique_ptr<FrmMain> m_window;
    QMetaObject::Connection m_turnEnds; // groupLinesPerTurn's
    QTimer m_dayTimer;                  // followDays': the next midnight, or a minute
};
