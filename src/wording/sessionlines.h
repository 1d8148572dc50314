// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// SessionLines: what a session tells, written as the lines of the messages
// pane, each with its kind (base/msgsink.h): the window's pane shows them
// as they are, a terminal places them by their kind.  Every face of a
// session writes its lines through one of these, so the window and the
// command line say the same things in the same words.

#include "session/sessionevents.h"
#include "tls/credentials.h"

#include <QObject>

// A failure's place as its line names it: " in frmMain.Send; ".
QString ProcedurePiece(Procedure procedure);
// The lines that tell what a TLS connection's credentials are made of.
QStringList TlsUsedLines(const TlsUsed &used);
// The sentence that tells why the user's input was refused (no line end).
QString RefusalText(const Refusal &refusal);

class MsgSink;
class Session;
struct NameTables;

class SessionLines : public QObject
{
    Q_OBJECT
public:
    SessionLines(const Session &session, const NameTables &tables, MsgSink &lines,
                 QObject *parent = nullptr);

    // Whether the bytes sent and received are written, a line each (on
    // unless set: a run that lasts for weeks tells them in figures instead).
    void setDataShown(bool shown) { m_dataShown = shown; }

    // The lines of a connection accepted and of bytes that came or went,
    // for a server's own clients too (peers/responder.h).
    void tellAccepted(const Endpoint &from, const Endpoint &to);
    void tellData(const DataSeen &seen);

private:
    QString protocol() const;

    const Session &m_session;
    const NameTables &m_tables;
    MsgSink &m_lines;
    bool m_dataShown = true;
};
