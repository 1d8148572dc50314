// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The handlers of the socket's events.  State changes themselves are not
// written here: the state watch reports every state it sees.

#include "session.h"

#include "base/failure.h"
#include "base/nametables.h"
#include "socket/localaddress.h"

void Session::Winsock1_Close()
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_Close; "), [&] {
        Winsock1.Close();
        AutoPingProbe.stop();
    });
}

void Session::Winsock1_Connect()
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_Connect; "), [&] {
        m_lines.AddToMsgsBox(QStringLiteral("Winsock"),
                             QStringLiteral("Connection completed") + CRLF);
    });
}

void Session::Winsock1_ConnectionRequest(qint32 requestID)
{
    const auto protocol = [&] { return m_tables.Protocol.name(Winsock1.Protocol()); };
    const auto ends = [&] {
        return HostAndPort(Winsock1.RemoteHostIP(), Winsock1.RemotePort()) + QStringLiteral(" to ")
               + HostAndPort(Winsock1.LocalIP(), Winsock1.LocalPort());
    };
    TryRun(
        [&] {
            // The listening socket itself takes the connection: the session
            // serves one connection and listens no more until it is opened again.
            if (Winsock1.State() != Winsock::sckClosed)
                Winsock1.Close();
            emit statusShown(QStringLiteral("pending"));
            Winsock1.Accept(requestID);
            m_lines.AddToMsgsBox(QStringLiteral("Winsock"),
                                 QStringLiteral("Accepting ") + protocol()
                                     + QStringLiteral(" connection from ") + ends() + CRLF);
        },
        [&](const RuntimeError &e) {
            m_lines.AddToMsgsBox(QStringLiteral("Winsock"),
                                 QStringLiteral("Connection acceptance on ") + protocol()
                                     + QStringLiteral(" from ") + ends()
                                     + QStringLiteral("Failed; Error 0x") + Hex(e.number) + CRLF);
        });
}

void Session::Winsock1_DataArrival(qint32 /*bytesTotal*/)
{
    TryRun(
        [&] {
            const QString data = Winsock1.GetData();
            emit senderShown(Winsock1.RemoteHostIP(), QString::number(Winsock1.RemotePort()));

            const bool query = data == AutoPingQuery;
            const bool response = data == AutoPingResponse;
            m_lines.AddToMsgsBox(QStringLiteral("Remote"), query || response ? data + CRLF : data);

            if (query && ServerMode)
                Send(AutoPingResponse);
            else if (response && !ServerMode)
                AutoPingProbe.noteResponse();
        },
        [&](const RuntimeError &e) {
            m_lines.AddToMsgsBox(QStringLiteral("** Error"),
                                 QStringLiteral("0x") + Hex(e.number)
                                     + QStringLiteral(" in frmMain.Winsock1_DataArrival; ")
                                     + e.description + CRLF + CRLF);
            Winsock1.Close();
            emit displayStale();
        });
}

void Session::Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                             const QString &, const QString &, qint32, bool *)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_Error; "), [&] {
        m_lines.AddToMsgsBox(QStringLiteral("Winsock Error"),
                             QString::number(number) + CRLF + QStringLiteral("* Description:\t")
                                 + description + CRLF + QStringLiteral("* Scode:\t0x") + Hex(scode)
                                 + CRLF);
        Winsock1.Close();
        AutoPingProbe.stop();
    });
}

void Session::Winsock1_SendComplete()
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_SendComplete; "),
          [&] { emit statusShown(QStringLiteral("ok")); });
}

void Session::Winsock1_SendProgress(qint32, qint32)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_SendProgress; "),
          [&] { emit statusShown(QStringLiteral("pending")); });
}

// The socket could not queue datagrams as fast as they came: say so, so that
// the loss is not taken for the network's.
void Session::Winsock1_DatagramsDropped(qint32 count)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_DatagramsDropped; "), [&] {
        m_lines.AddToMsgsBox(
            QStringLiteral("Winsock"),
            count == 1
                ? QStringLiteral("1 datagram arrived but Selmarin dropped it: it could not log it "
                                 "fast enough (the network did not lose it)")
                      + CRLF
                : QString::number(count)
                      + QStringLiteral(" datagrams arrived but Selmarin dropped them: it could not "
                                       "log them fast enough (the network did not lose them)")
                      + CRLF);
    });
}
