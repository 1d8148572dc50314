// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's composition root.  main() makes one Application on the stack;
// it makes the program's objects in order and hands each what it needs: the
// system seams (environment, clock and date formats, dialogs, adapter query,
// which tests replace with fakes), the name tables, the log, the adapter
// snapshot and own addresses, the address rules, the server list and, when
// first needed, the main window.  Nothing in the program looks anything up in
// a global.

#include "base/clock.h"
#include "base/dialogs.h"
#include "base/environment.h"
#include "base/nametables.h"
#include "firstlinesink.h"
#include "netenv/adapters.h"
#include "netenv/addressrules.h"
#include "netenv/localadapters.h"
#include "runlog/runlog.h"
#include "servers/serverlist.h"

#include <memory>

class FrmMain;

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
    // The same without dialogs, for a run without a window.
    static Seams headless();
};

class Application
{
public:
    explicit Application(Seams seams);
    ~Application();
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    // The start-up sequence: fills the name tables, opens the log, checks for
    // an active network connection, loads the server list, reads the
    // machine's own addresses and shows the main window.  Each step first
    // sets a step text; a failure is reported with it, and start-up stops.
    // True when the main window was shown.
    bool Main();

    // The main window; made (and loaded) at the first call.
    FrmMain &frmMain();
    // The main window if it was made, else null.
    FrmMain *window() const { return m_window.get(); }

    const Environment &env() const { return *m_seams.env; }
    // Where the objects made before the window report (see FirstLineSink).
    MsgSink &reports() { return m_reports; }
    RunLog &log() { return m_log; }
    ServerList &servers() { return m_servers; }
    const AddressRules &rules() const { return m_rules; }

private:
    Seams m_seams;
    NameTables m_tables;
    FirstLineSink m_reports;
    RunLog m_log;
    LocalAdapters m_adapters;
    AddressRules m_rules;
    ServerList m_servers;
    std::unique_ptr<FrmMain> m_window;
};
