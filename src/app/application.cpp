// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "application.h"

#include "console/frmmain.h"
#include "qtdialogs.h"
#include "servers/serverstore.h"

Seams Seams::headless()
{
    Seams seams;
    seams.env = std::make_unique<SystemEnvironment>();
    seams.clock = std::make_unique<SystemClock>();
    seams.adapters = std::make_unique<SystemAdapterSource>();
    return seams;
}

Seams Seams::system()
{
    Seams seams = headless();
    seams.dialogs = std::make_unique<QtDialogs>();
    return seams;
}

Application::Application(Seams seams)
    : m_seams(std::move(seams)),
      m_reports([this]() -> MsgSink & { return frmMain(); }),
      m_log(*m_seams.env, *m_seams.clock),
      m_adapters(*m_seams.adapters, *m_seams.dialogs, m_reports),
      m_rules(*m_seams.env, m_adapters, m_reports)
{}

// The window goes first: it closes the socket and the log on its way out.
Application::~Application()
{
    m_window.reset();
}

FrmMain &Application::frmMain()
{
    if (!m_window) {
        // The load may itself write pane lines: they go into the window
        // just made, not back here.
        m_window = std::make_unique<FrmMain>(
            ConsoleContext{m_tables, m_log, m_adapters, m_rules, m_servers,
                           ServersFilePath(*m_seams.env), *m_seams.dialogs});
        m_window->Form_Load();
    }
    return *m_window;
}
