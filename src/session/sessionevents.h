// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a session tells, as values: the facts behind every line the window's
// pane shows (sessionlines.h turns them into those lines) and the facts a
// probe measures with (the time bytes arrived, the AutoPing texts in them,
// the number of a failure).  A face that needs a fact takes it from here,
// never from a line's text.

#include "base/failure.h"
#include "base/netfailure.h"
#include "base/socketstate.h"
#include "probe/probetexts.h"

#include <QList>
#include <QString>

// An end of a connection or the sender of a datagram: an address as text
// (never in brackets) and a port.
struct Endpoint
{
    QString address;
    qint32 port = 0;
};

// The state watch saw a new state.  remoteHost is the host as the socket
// was given it, asked the remote address as the user typed it.
struct StateSeen
{
    SocketState state = SocketState::Closed;
    QString asked;
    QString remoteHost;
    QString remoteAddress;
    qint32 remotePort = 0;
};

// Bytes that arrived (from their sender) or went out (under our own
// address), as text; the AutoPing texts found in them.
struct DataSeen
{
    Endpoint peer;         // the sender; for bytes sent, our own address
    QString text;          // the bytes as text (textcodec.h)
    bool lineEnded = true; // false: an AutoPing text, shown with a line end added
    QList<ProbeText> probeTexts;
    qint64 atUs = 0; // when they were taken from the socket or handed to it (base/clock.h)
    bool systemStamped = false; // atUs is the system's arrival stamp (a datagram's)
};

// Where a failure happened: the session's steps, which the lines name by
// the window's procedures (" in frmMain.Send; ").
enum class Procedure {
    CheckPort,
    Send,
    StateWatch,
    TlsReport,
    Close,
    Connect,
    Error,
    SendComplete,
    SendProgress,
    DatagramRefused,
    DatagramsDropped,
};

// Why the user's input was refused.
struct Refusal
{
    enum class Kind {
        NoLocalAddress, // a server has no local address
        LocalPort,      // ... or no port from 1 to 65535
        RemoteAddress,  // the remote address is one the rules refuse (why: theirs)
        RemotePort,     // a client's remote port is not from 1 to 65535
        NotConnected,   // nothing can be sent before the connection is made
        BadEscape,      // the typed text's escape at line, character is malformed (why)
    };
    Kind kind = Kind::NotConnected;
    QString why;
    qsizetype line = 0; // 0: the text has one line
    qsizetype character = 0;
};

// The socket's Error event: its number as the event carries it (16 bits:
// 40031 arrives as -25505), description and scode; and the failure behind
// it as the socket made it (what failed, the number in full, the system's
// error, what the network said: base/netfailure.h).
struct SocketFailure
{
    qint16 number = 0;
    QString description;
    qint32 scode = 0;
    NetFailure why;
};
