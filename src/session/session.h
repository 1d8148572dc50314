// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Session: one test's socket, its AutoPing probe, the chosen mode and
// protocol, and the state watch.  It opens, closes, sends and accepts, handles
// the socket's events, and tells what happened as lines through the MsgSink
// it was given (the same speakers and sentences the messages pane shows) and
// as signals for whatever displays it.  It knows no window: the main window
// owns one and shows it; it runs as well under a QCoreApplication.
//
// The state watch (Timer1) reports every change of the socket's state once,
// as a "Winsock" line, then emits stateShown().  Instead of ticking every
// millisecond for the whole run it ticks once, 1 ms after the socket reports
// that its state was touched (Winsock::stateTouched, emitted from inside the
// operation that changed it).  Because the tick runs from the event loop,
// after the handler that made the change has returned, it sees exactly what a
// 1 ms poll would: every state that lasts until the next turn of the event
// loop, each once, and nothing for a change undone inside one handler.  An
// idle session therefore costs nothing.
//
// Failures are reported with the window's procedure names (" in
// frmMain.OpenIt; " ...): they are the names the user reads in the pane and
// the log, wherever the session runs.

#include "autoping/autoping.h"
#include "socket/winsock.h"

#include <QObject>
#include <QTimer>

class AddressRules;
struct NameTables;

// How ShowState sorts the socket's states, by their display names.
enum class StateGroup { Idle, Ready, Busy };
StateGroup GroupOf(const QString &stateName);

class Session : public QObject, private ProbeLink
{
    Q_OBJECT
public:
    // The texts of the four fields that say where to open.
    struct Ends
    {
        QString localAddress;
        QString localPort;
        QString remoteAddress;
        QString remotePort;
    };

    Session(const NameTables &tables, const AddressRules &rules, MsgSink &lines,
            QObject *parent = nullptr);
    ~Session() override;

    const Winsock &socket() const { return Winsock1; }
    AutoPing &probe() { return AutoPingProbe; }
    const NameTables &tables() const { return m_tables; }

    bool ServerMode = false;
    bool UseTCP = false;

    // The display name of the socket's state ("Closed" ...).
    QString stateName() const;

    // The peer as "address:port", as the figures name it ("[address]:port"
    // for IPv6).
    QString peer() const;

    // The remote host as the remote address box shows it: the socket's
    // RemoteHostIP; for a UDP client that has neither sent a datagram nor
    // received one yet, the host its datagrams go to, as it was given
    // (RemoteHost: a name, or a dotted address).
    QString remoteHostShown() const;

    // The label of a pane line: "You" is the socket's LocalIP, "Remote" its
    // RemoteHostIP (read now), any other speaker itself.
    QString label(const QString &speaker) const;

    // The first steps of the open/close button: stops AutoPing; an open
    // socket (any state but closed) is closed and the answer is true.  A
    // closed one is closed again and the answer is false: go on and open.
    bool closeIfOpen();
    // Checks the ends for the chosen mode, writing one "++ PEBKAC" line for
    // every fault; true when there was none.
    bool CheckEnds(const Ends &ends);
    bool CheckPort(const QString &port);
    void OpenIt(const Ends &ends);

    // Sends text and echoes it under "You"; refuses with "++ PEBKAC" when the
    // socket cannot send.  False only for an empty text or a failed step.
    bool Send(const QString &text) override;

    // The state watch may run from now on (the window's load sets it going).
    void startStateWatch() { m_watchInterval = StateWatchInterval; }
    // The end of the run: closes the socket and stops everything; no line,
    // no signal comes afterwards.
    void finish();

signals:
    // The state watch has written a state line: bring the display in line.
    void stateShown();
    // The display must be brought in line after a failed read.
    void displayStale();
    // A status word for the lights ("ok", "pending").
    void statusShown(const QString &status);
    // Data arrived from this sender: the remote fields show it.
    void senderShown(const QString &address, const QString &port);

private:
    static constexpr int StateWatchInterval = 1; // ms

    void armStateWatch();
    void Timer1_Timer();

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

    const NameTables &m_tables;
    const AddressRules &m_rules;
    MsgSink &m_lines;

    Winsock Winsock1;
    AutoPing AutoPingProbe{*this, m_lines};
    QTimer Timer1;
    int m_watchInterval = -1; // unset until the window's load
    qint16 LastState = 0;
    QString m_remoteText; // the remote address as given to the last open
    bool m_finished = false;
};
