// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "application.h"

#include "base/environment.h"
#include "cli/printeddialogs.h"
#include "console/frmmain.h"
#include "qtdialogs.h"
#include "servers/serverstore.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace {

Seams systemSeams()
{
    Seams seams;
    seams.env = std::make_unique<SystemEnvironment>();
    seams.clock = std::make_unique<SystemClock>();
    seams.adapters = std::make_unique<SystemAdapterSource>();
    return seams;
}

} // namespace

Seams Seams::headless(QTextStream &err)
{
    Seams seams = systemSeams();
    seams.dialogs = std::make_unique<PrintedDialogs>(err);
    return seams;
}

Seams Seams::system()
{
    Seams seams = systemSeams();
    seams.dialogs = std::make_unique<QtDialogs>();
    return seams;
}

Application::Application(Seams seams, TranscriptFace *terminal)
    : m_seams(std::move(seams)),
      m_log(*m_seams.env, *m_seams.clock),
      m_terminal(terminal),
      m_transcript(m_log,
                   [this]() -> TranscriptFace & {
                       return m_terminal ? *m_terminal : static_cast<TranscriptFace &>(frmMain());
                   }),
      m_adapters(*m_seams.adapters, *m_seams.dialogs, m_transcript),
      m_rules(*m_seams.env, m_adapters, m_transcript)
{}

// The window goes first: it closes its socket on its way out.
Application::~Application()
{
    QObject::disconnect(m_turnEnds);
    m_window.reset();
}

FrmMain &Application::frmMain()
{
    if (!m_window) {
        // The load may itself write pane lines: they go into the window
        // just made, not back here.
        m_window = std::make_unique<FrmMain>(ConsoleContext{
            m_tables, m_transcript, m_log, m_adapters, m_rules, m_servers,
            ServersFilePath(*m_seams.env), ProgramFolder(*m_seams.env), *m_seams.dialogs, [this] {
                EndRun();
                QCoreApplication::exit(0);
            }});
        m_window->Form_Load();
    }
    return *m_window;
}

// Start-up's first two steps, each with its step text.
void Application::fillTables(QString &step)
{
    step = QStringLiteral("adding protocol defs to 'Protocol'");
    for (const QString &name : ProtocolNames())
        m_tables.Protocol.append(name);
    step = QStringLiteral("adding Winsock 'State' defs to 'States'");
    for (const QString &name : StateNames())
        m_tables.States.append(name);
}

bool Application::StartHeadless()
{
    QString step;
    fillTables(step);
    if (!m_log.LogOpen(m_transcript)) {
        m_transcript.AddComplaint(ErrorSpeaker(rt::ProgramError),
                                  QStringLiteral(" in mdlMain.Main; Couldn't open the log file")
                                      + CRLF);
        return false;
    }
    return m_adapters.CheckConnected();
}

QString Application::programFolder() const
{
    return ProgramFolder(*m_seams.env);
}

QStringList Application::savedServers()
{
    LoadServers(m_servers, ServersFilePath(*m_seams.env), m_transcript);
    return m_servers.items();
}

void Application::RotateLog()
{
    if (m_log.isOpen() && m_log.buildFileName() == m_log.fileName())
        return;
    // A new day, or a log that could not be opened again: tried once more.
    if (m_log.isOpen())
        m_log.LogClose(m_transcript);
    m_log.LogOpen(m_transcript);
}

void Application::followDays()
{
    m_log.setFollowsDays(true);
    m_dayTimer.setSingleShot(true);
    m_dayTimer.setTimerType(Qt::PreciseTimer);
    const auto arm = [this] {
        const QDateTime now = m_seams.clock->now();
        const qint64 toMidnight = now.msecsTo(QDateTime(now.date().addDays(1), QTime(0, 0)));
        m_dayTimer.start(int(std::clamp<qint64>(toMidnight, 0, 60'000)));
    };
    QObject::connect(&m_dayTimer, &QTimer::timeout, &m_dayTimer, [this, arm] {
        m_transcript.endGroup();
        RotateLog();
        arm();
    });
    arm();
}

void Application::groupLinesPerTurn()
{
    m_transcript.groupLines(true);
    m_turnEnds = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
        QCoreApplication::instance(), [this] { m_transcript.endGroup(); });
}

void Application::EndRun()
{
    m_transcript.endGroup();
    if (m_log.isOpen())
        m_log.LogClose(m_transcript);
}
