// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// DiagnoseRun: `selmarin diagnose` without a window.  The diagnosis
// (diagnose/diagnosis.h) runs on its own thread; each step's lines reach
// the terminal and the log as the step ends ("Diagnosis" lines), the
// verdict last; with --json only the one document goes to standard output.
//
// Exit status: 0 open (TLS: and the certificate verified), 1 anything else,
// or a stop before the verdict.

#include "commandline.h"

#include <QObject>

#include <memory>

class Diagnosis;
class MsgSink;
class QTextStream;
class TerminalFace;

class DiagnoseRun : public QObject
{
    Q_OBJECT
public:
    DiagnoseRun(const Command &command, MsgSink &lines, TerminalFace &face, QTextStream &out);
    ~DiagnoseRun() override;

    // Starts the diagnosis: -1, the run goes on and finished() tells its
    // status, as with every command that runs (headlessrun.h).
    int start();
    // Ctrl+C, SIGTERM: ends now, without a verdict.
    void stop();

signals:
    void finished(int status);

private:
    Command m_command;
    MsgSink &m_lines;
    QTextStream &m_out;
    std::unique_ptr<Diagnosis> m_diagnosis;
    bool m_ended = false;
};
