// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// frmMain: the test console.  The user picks client or server mode and TCP or
// UDP, fills in the local and remote ends, opens and closes the one socket,
// sends typed text and watches the messages pane and the three status lights.
//
// The window only displays: its Session (session/session.h) holds the socket,
// the mode and protocol and the state watch, and tells what happened, which
// SessionLines writes into the pane; the window runs the AutoPing probe
// (autoping/autoping.h) over it.  The
// handlers keep the names of the controls they serve (cmdConnect_Click ...):
// they read the controls, call the session and show what it reports.  They
// are grouped by concern across the files of this folder:
//   frmmain.cpp    the form, fonts, keyboard (Enter and the default button),
//                  the wiring of controls and session
//   msgspane.cpp   the messages pane: the face of the run's transcript
//   modes.cpp      mode, protocol and local port handlers
//   showstate.cpp  ShowState, ShowStatus
//   openclose.cpp  cmdConnect_Click
//   sending.cpp    cmdSend_Click, cmdAutoPing_Click and the AutoPing figures
//   lifecycle.cpp  Form_Load, Form_Unload, Form_Terminate
//   remotes.cpp    cmdRemotes_Click (the address list editor, frmaddress.h)
//   diagnosing.cpp why a path fails: after a failure, and "Diagnose the path"

#include "autoping/autoping.h"
#include "runlog/transcript.h"
#include "session/session.h"
#include "wording/sessionlines.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class FrmMain;
}
class AddressRules;
class Diagnosis;
class Dialogs;
class FrmAddress;
class LocalAdapters;
class MsgSink;
class PaneFeed;
class QAction;
class QPushButton;
class RunLog;
class ServerList;
struct NameTables;

// What the window works with, made by the program's root before it.
struct ConsoleContext
{
    const NameTables &tables;
    MsgSink &lines;    // the run's transcript, whose face this window is
    const RunLog &log; // named in the pane once it drops lines
    LocalAdapters &adapters;
    const AddressRules &rules;
    ServerList &servers;
    QString serversPath;
    QString programFolder; // where a TLS server's certificate and key live
    Dialogs &dialogs;
    std::function<void()> endRun; // closes the log and ends the program
};

class FrmMain : public QWidget, public TranscriptFace, private ProbeLink
{
    Q_OBJECT
public:
    explicit FrmMain(const ConsoleContext &context, QWidget *parent = nullptr);
    ~FrmMain() override;

    // Fills the window, starts the state watch and shows it; a failure shows
    // a message box instead.
    void Form_Load();

    // The messages pane: every line the program tells the user.
    void showLine(LineKind kind, const QString &speaker, const QString &sentence,
                  const QString &line) override;
    void clearLines() override;
    // The pane's text as the program wrote it (line ends as CR LF).
    QString msgsText() const;
    // The session the window shows (for tools that watch it).
    const Session &session() const { return m_session; }

    // The pane keeps the newest lines only (the log keeps all of them).
    static constexpr int PaneLineLimit = 20000;
    static constexpr qsizetype PaneColumnLimit = 4000;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // State display
    void ShowState();
    void ShowStatus(Session::Status status);
    // Handlers
    void cmdConnect_Click();
    void cmdSend_Click();
    void cmdAutoPing_Click();
    void cmdRemotes_Click();
    void optMode_Click(int index);
    void optProtocol_Click(int index);
    void txtLocPort_Change();
    void showSender(const Endpoint &sender);
    void showFigures();
    // Lifecycle
    void Form_Unload();
    void Form_Terminate();
    void endProgram(const QString &piece);
    // AutoPing's query goes out through the session.
    bool Send(const QString &text) override { return m_session.Send(text); }

    Session::Config config() const;
    Session::Fields fields() const;
    void setDefaultButton(QPushButton *button);
    void applyFonts();
    void connectHandlers();
    void setupPane();
    void notePaneTrimmed();
    void setupDiagnosis();
    void tellWhyFailed(const SocketFailure &failure);
    void diagnosePath();

    ConsoleContext m_context;
    MsgSink &m_lines;
    Ui::FrmMain *ui;
    Session m_session;
    SessionLines m_sessionLines;
    AutoPing m_probe;
    Session::Config m_config;             // the role and transport the option buttons chose
    std::unique_ptr<FrmAddress> m_editor; // made at its first opening
    QPushButton *m_defaultButton = nullptr;
    PaneFeed *m_paneFeed = nullptr;
    QAction *m_diagnose = nullptr;          // "Diagnose the path"
    std::unique_ptr<Diagnosis> m_diagnosis; // the one running, if any
    bool m_ended = false;
};
