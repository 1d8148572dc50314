// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Selmarin: an interactive TCP/IP connectivity test tool.
//
// Without arguments it opens its window.  With a command (see
// cli/commandline.h) it runs without any window and without a display.
#include "application.h"
#include "base/environment.h"
#include "cli/commandline.h"
#include "cli/diagnoserun.h"
#include "cli/headlessrun.h"
#include "cli/loadrun.h"
#include "cli/serviceplan.h"
#include "cli/terminalface.h"
#include "console/frmmain.h"
#include "selmarin_version.h"
#include "servicemanager.h"
#include "unixsignals.h"
#include "windowicon.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The window needs a display.  With none (no X or Wayland display, and no
// platform chosen by QT_QPA_PLATFORM or -platform) Qt would abort with
// advice to reinstall: said plainly instead, with what works without one.
bool hasDisplay(int argc, char *argv[])
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    return std::any_of(argv + 1, argv + argc, [](const char *argument) {
        return std::strcmp(argument, "-platform") == 0;
    });
}

int runWindow(int argc, char *argv[])
{
    if (!hasDisplay(argc, argv)) {
        std::fputs("selmarin: There is no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set).\nWithout a window, use the command line: selmarin "
                   "respond|probe|diagnose|load ... (selmarin --help tells the options); or "
                   "start the window on a virtual display with ./run in the source folder.\n",
                   stderr);
        return 2;
    }
    QApplication qapp(argc, argv);
    DescribeApplication();

    // Made after the QApplication and gone before it: windows destroyed
    // after the application object would crash the program on its way out.
    Application app(Seams::system());
    app.Main();
    // A start-up that stopped after writing its report has made the main
    // window to show it: the user reads the report there and closes the
    // window.  A start-up that stopped without a window (no network
    // connection) ends here.
    FrmMain *window = app.window();
    if (!window || !window->isVisible())
        return 0;
    // Ending the session (SIGTERM) or Ctrl+C in the terminal closes the
    // window as the user would, so the log gets its last line.
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::received, window, &QWidget::close);
    return qapp.exec();
}

// A responder serves many clients and a probe many targets, each with a
// descriptor or two: the soft limit on open files (1,024 by default) is
// raised to the hard one that the system allows the user.
void RaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// check-config FILE: every fault, or that it is good.
int checkConfig(const Command &command, QTextStream &out, QTextStream &err)
{
    QStringList faults;
    const ServiceConfig config = ConfigOfCommand(command, &faults);
    if (faults.isEmpty())
        PlanOf(config, command, &faults);
    for (const QString &fault : faults)
        err << fault << '\n';
    if (!faults.isEmpty())
        return 2;
    const auto counted = [](qsizetype n, const char *what) {
        return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what)).arg(n == 1 ? "" : "s");
    };
    out << command.configFile << ": good, " << counted(config.targets.size(), "target") << ", "
        << counted(config.respond.size(), "responder port") << Qt::endl;
    return 0;
}

// --print-config: the configuration the options make, as a file.
int printConfig(const Command &command, QTextStream &out, QTextStream &err)
{
    QStringList faults;
    const ServiceConfig config = ConfigOfCommand(command, &faults);
    for (const QString &fault : faults)
        err << fault << '\n';
    if (!faults.isEmpty())
        return 2;
    out << WriteServiceConfig(config);
    return 0;
}

int runCommand(const Command &command, int argc, char *argv[], ServiceManager &manager)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (command.kind) {
    case Command::Help: out << UsageText(); return 0;
    case Command::Version: out << "selmarin " << SELMARIN_VERSION << Qt::endl; return 0;
    case Command::CheckConfig: return checkConfig(command, out, err);
    case Command::Usage:
        // An error, to the journal as one (terminalface.h).
        if (IsJournalStream(SystemEnvironment(), STDERR_FILENO))
            err << "<3>";
        err << "selmarin: " << command.error << '\n'
            << "Usage: selmarin [respond|probe|diagnose|load|check-config] ...  (selmarin "
               "--help tells the options)"
            << Qt::endl;
        return 2;
    default: break;
    }
    if (command.printConfig)
        return printConfig(command, out, err);

    RaiseFileLimit();
    QCoreApplication qapp(argc, argv);
    TerminalFace terminal(out, err);
    Application app(Seams::headless(err), &terminal);
    // Under the service manager the lines go to the journal with their priority.
    terminal.journalStreams(IsJournalStream(app.env(), STDOUT_FILENO),
                            IsJournalStream(app.env(), STDERR_FILENO));
    app.groupLinesPerTurn();
    int status = 2;
    if (app.StartHeadless()) {
        Command withFolder = command;
        withFolder.folder = app.programFolder();
        if (command.serversPort != 0) {
            for (const QString &host : app.savedServers())
                withFolder.targets.append({host, command.serversPort});
        }
        const auto runIt = [&](auto &run) {
            // SIGHUP reads a service's configuration again; the other runs
            // have nothing to read and end at it.  The signals are taken
            // before the run starts: a service manager may stop it on the
            // first line the start says (a certificate about to expire),
            // and a SIGHUP right after READY=1 must not end it.  Either is
            // handled once the run is up.
            std::function<void()> reload;
            if constexpr (std::is_same_v<std::remove_reference_t<decltype(run)>, HeadlessRun>) {
                reload = [&run] { run.reload(); };
                QObject::connect(&run, &HeadlessRun::reloading, &run,
                                 [&manager] { manager.reloading(); });
                QObject::connect(&run, &HeadlessRun::reloaded, &run,
                                 [&manager] { manager.ready(); });
            }
            RunSignals runSignals(manager, reload, [&run] { run.stop(); });
            status = run.start();
            if (status < 0) {
                app.followDays();
                // Bound and started: a service is up from here on.
                manager.ready();
                QObject::connect(&run, &std::remove_reference_t<decltype(run)>::finished, &qapp,
                                 &QCoreApplication::exit);
                status = qapp.exec();
            }
        };
        if (command.kind == Command::Load) {
            LoadRun run(withFolder, app.tables(), app.rules(), app.lines(), terminal, out);
            runIt(run);
        } else if (command.kind == Command::Diagnose) {
            DiagnoseRun run(command, app.lines(), terminal, out);
            runIt(run);
        } else {
            HeadlessRun run(withFolder, app.tables(), app.rules(), app.clock(), app.lines(),
                            terminal, out);
            if (command.jsonStream)
                run.streamJson(app.clock());
            runIt(run);
        }
    }
    app.EndRun();
    // A name look-up still running in the background (Ctrl+C while
    // resolving) must not hold up the end: everything is written, go now.
    out.flush();
    err.flush();
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const Command command = ParseCommandLine(arguments);
    if (command.kind == Command::Window)
        return runWindow(argc, argv);
    SystemdManager manager;
    return runCommand(command, argc, argv, manager);
}
