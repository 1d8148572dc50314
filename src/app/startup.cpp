// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The start-up sequence.  Each step first sets its step text; a failure in
// any step is reported with that text, and start-up stops.

#include "application.h"

#include "base/failure.h"
#include "console/frmmain.h"
#include "servers/serverstore.h"

bool Application::Main()
{
    QString step;
    bool shown = false;
    TryRun(
        [&] {
            fillTables(step);

            step = QStringLiteral("checking to see if we can open the logfile");
            if (!m_log.LogOpen(m_transcript)) {
                step = QStringLiteral("raising the file open error");
                Raise(rt::ProgramError, QStringLiteral("Couldn't open the log file"));
            }

            step = QStringLiteral("checking to see if we are connected");
            if (!m_adapters.CheckConnected())
                return;

            step = QStringLiteral("trying to load the remoteservers list");
            LoadServers(m_servers, ServersFilePath(*m_seams.env), m_transcript);

            step = QStringLiteral("checking the local IP list");
            if (!m_adapters.GetLocIPs()) {
                step = QStringLiteral("raising the local ip error");
                Raise(rt::ProgramError, QStringLiteral("Couldn't read the local IP list.."));
            }

            step = QStringLiteral("showing frmMain");
            frmMain().show();
            shown = true;
        },
        [&](const RuntimeError &e) {
            m_transcript.AddComplaint(ErrorSpeaker(e.number), QStringLiteral(" in mdlMain.Main; ")
                                                                  + e.description + CRLF + step);
        });
    return shown;
}
