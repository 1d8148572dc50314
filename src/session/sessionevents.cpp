// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The handlers of the socket's and the listener's events, and received
// bytes turned into lines.  State changes themselves are not written here:
// the state watch reports every state it sees.

#include "session.h"

#include "base/failure.h"
#include "base/nametables.h"
#include "socket/listener.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"
#include "textcodec.h"

#include <QStringBuilder>

namespace {

// The socket's error report: number, description and scode on lines of their own.
QString ErrorReport(qint32 number, const QString &description, qint64 scode)
{
    return QString::number(number) + CRLF + QStringLiteral("* Description:\t") + description + CRLF
           + QStringLiteral("* Scode:\t0x") + Hex(scode) + CRLF;
}

} // namespace

void Session::Winsock1_Close()
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_Close; "), [&] {
        // The first bytes of a character that never came whole are shown
        // before the close.
        flushTail();
        Winsock1->Close();
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
    const auto protocol = [&] { return m_tables.Protocol.name(int(m_config.transport)); };
    TryRun(
        [&] {
            if (servesMany()) {
                serve(m_listener->Accept(requestID));
                return;
            }
            // The listener gives way to the connection: the session serves
            // one connection and listens no more until it is opened again.
            if (state() != SocketState::Closed) {
                m_listener->Close();
                Winsock1->Close();
            }
            emit statusShown(Status::Pending);
            adopt(m_listener->Accept(requestID));
            writeAccepting(*Winsock1);
        },
        [&](const RuntimeError &e) {
            m_lines.AddToMsgsBox(QStringLiteral("Winsock"),
                                 QStringLiteral("Connection acceptance on ") + protocol()
                                     + QStringLiteral(" from ")
                                     + HostAndPort(m_listener->RequestHostIP(requestID),
                                                   m_listener->RequestPort(requestID))
                                     + QStringLiteral(" to ")
                                     + HostAndPort(m_listener->LocalIP(), m_listener->LocalPort())
                                     + QStringLiteral("Failed; Error 0x") + Hex(e.number) + CRLF);
        });
}

// The accepting line, with the ends read from the accepted connection.
void Session::writeAccepting(const Winsock &socket)
{
    m_lines.AddToMsgsBox(
        QStringLiteral("Winsock"),
        QStringLiteral("Accepting ") + m_tables.Protocol.name(int(m_config.transport))
            + QStringLiteral(" connection from ")
            + HostAndPort(socket.RemoteHostIP(), socket.RemotePort()) + QStringLiteral(" to ")
            + HostAndPort(socket.LocalIP(), socket.LocalPort()) + CRLF);
}

QString Session::takeText(const QByteArray &bytes)
{
    if (m_config.transport == Transport::Udp)
        return DecodeReceived(bytes, true).text;
    const QString text = m_stream.take(bytes);
    if (m_stream.holding())
        m_tailTimer.start();
    else
        m_tailTimer.stop();
    return text;
}

// The rest of a split character did not come: its bytes are shown escaped.
void Session::flushTail()
{
    m_tailTimer.stop();
    if (m_stream.holding())
        showReceived(m_stream.flush());
}

void Session::showReceived(const QString &text)
{
    if (const qint32 port = Winsock1->RemotePort();
        port != m_senderPort || m_senderPortText.isNull()) {
        m_senderPort = port;
        m_senderPortText = QString::number(port);
    }
    emit senderShown(Winsock1->RemoteHostIP(), m_senderPortText);

    const bool query = text == AutoPingQuery;
    const bool response = text == AutoPingResponse;
    // The command line's reading: every AutoPing text in the data, a
    // datagram being one text at most.
    QList<ProbeText> found;
    if (!m_config.framed) {
    } else if (m_config.transport != Transport::Udp) {
        found = m_probeStream.feed(text);
    } else if (const auto one = ReadProbeDatagram(text)) {
        found.append(*one);
    }
    const bool numbered
        = !found.isEmpty() && m_config.transport == Transport::Udp && !text.endsWith(u'\n');
    // A framed client's answers are taken before the line is written, so
    // that writing it is not timed as part of the round trip; a server's
    // answer follows the line of the query it answers.
    const bool framedClient = m_config.framed && m_config.role == Role::Client;
    if (framedClient)
        answerProbeTexts(found);
    m_lines.addLine(LineKind::Data, Winsock1->RemoteHostIP(),
                    query || response || numbered ? QString(text % CRLF) : text);

    if (m_config.framed) {
        if (!framedClient)
            answerProbeTexts(found);
    } else if (query && m_config.role == Role::Server)
        Send(AutoPingResponse);
    else if (response && m_config.role == Role::Client)
        AutoPingProbe.noteResponse();
}

void Session::answerProbeTexts(const QList<ProbeText> &found)
{
    for (const ProbeText &read : found) {
        if (read.kind == ProbeText::Query && m_config.role == Role::Server)
            m_answeredQueries += Send(ProbeTextOf(ProbeText::Response, read.seq));
        else if (read.kind == ProbeText::Response && m_config.role == Role::Client)
            emit probeAnswered(read.seq.value_or(0));
    }
}

void Session::Winsock1_DataArrival(qint32 /*bytesTotal*/)
{
    TryRun(
        [&] {
            const QString text = takeText(Winsock1->GetData());
            // Only the start of a character so far: it waits for the rest.
            if (!text.isEmpty())
                showReceived(text);
        },
        [&](const RuntimeError &e) {
            m_lines.AddComplaint(QStringLiteral("** Error"),
                                 QStringLiteral("0x") + Hex(e.number)
                                     + QStringLiteral(" in frmMain.Winsock1_DataArrival; ")
                                     + e.description + CRLF + CRLF);
            closeIfOpen();
            emit displayStale();
        });
}

void Session::Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                             const QString &, const QString &, qint32, bool *)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_Error; "), [&] {
        flushTail();
        m_lines.AddComplaint(QStringLiteral("Winsock Error"),
                             ErrorReport(number, description, scode));
        Winsock1->Close();
        AutoPingProbe.stop();
    });
}

void Session::Winsock1_SendComplete()
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_SendComplete; "),
          [&] { emit statusShown(Status::Ok); });
}

void Session::Winsock1_SendProgress(qint32, qint32)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_SendProgress; "),
          [&] { emit statusShown(Status::Pending); });
}

// The far end's port takes no datagrams: no answer will come.  Told once.
void Session::Winsock1_DatagramRefused()
{
    if (m_refusalTold)
        return;
    m_refusalTold = true;
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_DatagramRefused; "), [&] {
        m_lines.AddComplaint(QStringLiteral("Winsock Error"),
                             ErrorReport(10054,
                                         QStringLiteral("The datagrams to %1 find no one listening "
                                                        "there (port unreachable): no answer will "
                                                        "come.")
                                             .arg(peer()),
                                         0x800A2746));
    });
}

// The socket could not queue datagrams as fast as they came: say so, so that
// the loss is not taken for the network's.
void Session::Winsock1_DatagramsDropped(qint32 count)
{
    m_droppedDatagrams += quint64(count);
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
