#pragma once
// frmMain: the test console.  The user picks client or server mode and TCP or
// UDP, fills in the local and remote ends, opens and closes the one socket,
// sends typed text and watches the messages pane and the three status lights.
//
// The handlers keep the names of the controls and events they serve
// (cmdConnect_Click, Winsock1_DataArrival ...) and are grouped by concern
// across the files of this folder:
//   frmmain.cpp       the form, fonts, keyboard (Enter and the default button)
//   msgspane.cpp      AddToMsgsBox: the messages pane and the log
//   modes.cpp         mode, protocol and local port handlers
//   showstate.cpp     ShowState, ShowStatus
//   openclose.cpp     cmdConnect_Click, CheckPort, OpenIt
//   socketevents.cpp  the Winsock1_* event handlers
//   sending.cpp       Send, cmdSend_Click
//   lifecycle.cpp     Form_Load, Form_Unload, Form_Terminate, the state watch
//   remotes.cpp       cmdRemotes_Click

#include "autoping/autoping.h"
#include "socket/winsock.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace Ui {
class FrmMain;
}
class PaneFeed;
class QPushButton;

class FrmMain : public QWidget, public ProbeWindow
{
    Q_OBJECT
public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    // The form's controls (tests drive the window through them).
    Ui::FrmMain &form() { return *ui; }

    // Messages pane
    void AddToMsgsBox(const QString &speaker, const QString &sentence) override;
    // The pane's text as the program wrote it (line ends as CR LF).
    QString msgsText() const;

    // State display
    void ShowState();
    void ShowStatus(const QString &status);

    // Opening and closing
    void cmdConnect_Click();
    bool CheckPort(const QString &port);
    void OpenIt();

    // Sending
    bool Send(const QString &text) override;
    void cmdSend_Click();

    // Mode, protocol, local port
    void optMode_Click(int index);
    void optProtocol_Click(int index);
    void txtLocPort_Change();

    // Socket events
    void Winsock1_Close();
    void Winsock1_Connect();
    void Winsock1_ConnectionRequest(qint32 requestID);
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                        const QString &source, const QString &helpFile, qint32 helpContext,
                        bool *cancelDisplay);
    void Winsock1_SendComplete();
    void Winsock1_SendProgress(qint32 bytesSent, qint32 bytesRemaining);
    void Winsock1_DatagramsDropped(qint32 count);

    // Lifecycle and the state watch
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();
    void Timer1_Timer();

    // The address list editor
    void cmdRemotes_Click();

    // AutoPing
    void cmdAutoPing_Click() { AutoPingProbe.cmdAutoPing_Click(); }

    Winsock Winsock1;
    AutoPing AutoPingProbe{*this};

    // Window variables
    bool ServerMode = false;
    bool UseTCP = false;
    qint16 LastState = 0;
    bool &AutoPingOn = AutoPingProbe.AutoPingOn;
    bool &PingAnswered = AutoPingProbe.PingAnswered;

    // The state watch.  It runs only when the socket reports that its state
    // may have changed (see lifecycle.cpp), so an idle window costs nothing.
    QTimer Timer1;
    QTimer &Timer2 = AutoPingProbe.Timer2;

    // The pane keeps the newest lines only (the log keeps all of them).
    static constexpr int PaneLineLimit = 20000;
    static constexpr qsizetype PaneColumnLimit = 4000;

    // The button that Enter presses (cmdConnect or cmdSend), or none.
    QPushButton *defaultButton() const { return m_defaultButton; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setDefaultButton(QPushButton *button);
    void applyFonts();
    void connectHandlers();
    void armStateWatch();
    void endProgram(const QString &piece);
    void setupPane();
    void notePaneTrimmed();

    Ui::FrmMain *ui;
    QPushButton *m_defaultButton = nullptr;
    int m_timer1Interval = -1; // unset until the load sets it
    PaneFeed *m_paneFeed = nullptr;
    int m_paneReportDepth = 0;
    bool m_ended = false;
};
