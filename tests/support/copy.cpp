// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// selmarin_copy: one copy of the program in a process of its own, for tests
// that need one (a copy in a network namespace, a copy that dies).
//
//   selmarin_copy <PROGRAMFILES> [adapters=<text>] <step>...
//
// It starts the program as the tests do (fixture.h), with this machine's
// adapters unless adapters= gives them, then does its steps in order:
//   set=<box>=<text>         puts the text into a box of the window
//   click=<button>           clicks a button
//   wait=<file>@<n>@<text>   waits until the file holds the text n times
//                            ("+n": n times more than when the step began),
//                            at most 30 s
//   items=<box>              prints the entries of a combo box, one a line
//   text=<box>               prints what a box shows
//   keys=<sequence>          presses keys in the window ("Ctrl+D")
//   kill                     dies at once (SIGKILL), closing nothing
// and closes the main window as a user would.  Message boxes are printed as
// "box: <text>".  Exits with 0 when every step was done.

#include "fixture.h"

#include <QApplication>
#include <QTest>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList steps = app.arguments().mid(2);
    const bool listed = !steps.isEmpty() && steps[0].startsWith("adapters=");
    Program program({.adapters = listed ? steps.takeFirst().mid(9) : "system",
                     .programFiles = app.arguments().value(1)});
    int status = 0;
    if (program.start()) {
        for (const QString &step : std::as_const(steps)) {
            const QString what = step.section(u'=', 0, 0), arg = step.section(u'=', 1);
            const auto count = [&] {
                return QString::fromUtf8(readFile(arg.section(u'@', 0, 0)))
                    .count(arg.section(u'@', 2));
            };
            bool done = true;
            if (what == "set") {
                program.set(arg.section(u'=', 0, 0), arg.section(u'=', 1));
            } else if (what == "click") {
                program.click(arg);
            } else if (what == "wait") {
                const QString n = arg.section(u'@', 1, 1);
                const qsizetype wanted = n.toInt() + (n.startsWith(u'+') ? count() : 0);
                done = QTest::qWaitFor([&] { return count() >= wanted; }, 30000);
            } else if (what == "items" || what == "text") {
                std::printf("%s\n", qPrintable(what == "text" ? program.text(arg)
                                                              : program.entries(arg).join(u'\n')));
            } else if (what == "keys") {
                program.window()->activateWindow();
                done = QTest::qWaitForWindowActive(program.window());
                QTest::keySequence(program.window(), QKeySequence(arg));
            } else if (what == "kill") {
                std::fflush(stdout);
                std::raise(SIGKILL);
            } else {
                done = false;
            }
            if (!done) {
                std::fprintf(stderr, "failed: %s\n", qPrintable(step));
                status = 1;
                break;
            }
        }
        program.window()->close();
    }
    for (const QString &box : program.messages())
        std::printf("box: %s\n", qPrintable(box));
    return status;
}
