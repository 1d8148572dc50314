// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The handlers of the socket's and the listener's events, and received
// bytes turned into text.  State changes themselves are not told here: the
// state watch tells every state it sees.

#include "session.h"

#include "base/clock.h"
#include "base/failure.h"
#include "socket/listener.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"
#include "textcodec.h"

void Session::Winsock1_Close()
{
    guard(Procedure::Close, [&] {
        // The first bytes of a character that never came whole are shown
        // before the close.
        flushTail();
        Winsock1->Close();
        emit peerClosed();
    });
}

void Session::Winsock1_Connect()
{
    guard(Procedure::Connect, [&] { emit connectionCompleted(Winsock1->ConnectTimeUs()); });
}

void Session::Winsock1_ConnectionRequest(qint32 requestID)
{
    TryRun(
        [&] {
            if (m_acceptor) {
                m_acceptor(m_listener->Accept(requestID));
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
            tellAccepted(*Winsock1);
        },
        [&](const RuntimeError &e) {
            emit acceptFailed(
                {m_listener->RequestHostIP(requestID), m_listener->RequestPort(requestID)},
                {m_listener->LocalIP(), m_listener->LocalPort()}, e);
        });
}

// The ends as the accepted connection has them.
void Session::tellAccepted(const Winsock &socket)
{
    emit accepted({socket.RemoteHostIP(), socket.RemotePort()},
                  {socket.LocalIP(), socket.LocalPort()});
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
        showReceived(m_stream.flush(), MonotonicUs());
}

QList<ProbeText> Session::readProbeTexts(const QString &text, bool stream, ProbeStream &texts) const
{
    if (m_config.reading == Reading::Free) {
        if (stream)
            return texts.feed(text);
        if (const auto one = ReadProbeDatagram(text))
            return {*one};
        return {};
    }
    // The window's rule: the whole piece is one of the two texts.
    if (text == AutoPingQuery)
        return {{ProbeText::Query, std::nullopt, 0, {}}};
    if (text == AutoPingResponse)
        return {{ProbeText::Response, std::nullopt, 0, {}}};
    return {};
}

void Session::showReceived(const QString &text, qint64 atUs)
{
    emit senderShown({Winsock1->RemoteHostIP(), Winsock1->RemotePort()});

    const bool udp = m_config.transport == Transport::Udp;
    DataSeen data{{Winsock1->RemoteHostIP(), Winsock1->RemotePort()}, text, true, {}, atUs};
    data.probeTexts = readProbeTexts(text, !udp, m_probeStream);
    data.systemStamped = Winsock1->LastArrivalUs() >= 0;
    // An AutoPing text gets a line end on its line: the fixed texts, and a
    // numbered datagram that came without one.
    data.lineEnded = !(text == AutoPingQuery || text == AutoPingResponse
                       || (udp && !data.probeTexts.isEmpty() && !text.endsWith(u'\n')));
    // A server answers the queries after the line of what brought them.
    if (m_config.role == Role::Client) {
        data.probeTexts.removeIf([](const ProbeText &t) { return t.kind != ProbeText::Response; });
        emit dataArrived(data);
        return;
    }
    emit dataArrived(data);
    for (const ProbeText &read : std::as_const(data.probeTexts))
        if (read.kind == ProbeText::Query)
            m_answeredQueries
                += Send(ProbeTextOf(ProbeText::Response, read.seq, read.size, read.token));
}

void Session::Winsock1_DataArrival(qint32 /*bytesTotal*/)
{
    TryRun(
        [&] {
            QByteArray bytes = Winsock1->GetData();
            // Timed by the system's stamp where the socket has one: the
            // program's own wake-up is no part of a load's jitter or of an
            // answer's round trip.
            const qint64 stamped = Winsock1->LastArrivalUs();
            const qint64 at = stamped >= 0 ? stamped : MonotonicUs();
            // A datagram someone else takes is neither shown nor answered.
            if (m_taker && m_config.transport == Transport::Udp && m_taker(*Winsock1, bytes, at))
                return;
            const QString text = takeText(bytes);
            // Only the start of a character so far: it waits for the rest.
            if (!text.isEmpty())
                showReceived(text, at);
        },
        [&](const RuntimeError &e) {
            emit readFailed(e);
            closeIfOpen();
            emit displayStale();
        });
}

void Session::Winsock1_Error(qint16 number, const QString &description, qint32 scode,
                             const QString &, const QString &, qint32, bool *)
{
    guard(Procedure::Error, [&] {
        flushTail();
        emit socketFailed({number, description, scode, Winsock1->LastFailure()});
        Winsock1->Close();
    });
}

void Session::Winsock1_SendComplete()
{
    guard(Procedure::SendComplete, [&] { emit statusShown(Status::Ok); });
}

void Session::Winsock1_SendProgress(qint32, qint32)
{
    guard(Procedure::SendProgress, [&] { emit statusShown(Status::Pending); });
}

// The far end's port takes no datagrams: no answer will come.  Told once.
void Session::Winsock1_DatagramRefused()
{
    if (m_refusalTold)
        return;
    m_refusalTold = true;
    guard(Procedure::DatagramRefused, [&] { emit datagramRefused(peerEnd()); });
}

void Session::Winsock1_ForeignDatagram(const QString &address, qint32 port)
{
    emit foreignDatagram({address, port});
}

// A datagram longer than the socket reads was cut: told, the first at once
// and then at most once a second, so that a flood of them cannot fill the log.
void Session::Winsock1_DatagramTruncated(qint32)
{
    m_truncated.note();
}

// The socket could not queue datagrams as fast as they came: say so, so that
// the loss is not taken for the network's.
void Session::Winsock1_DatagramsDropped(qint32 count)
{
    m_droppedDatagrams += quint64(count);
    guard(Procedure::DatagramsDropped, [&] { emit datagramsDropped(count); });
}
