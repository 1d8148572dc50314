// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The clients of a framed TCP server, the command line's responder: every
// connection is served at once, each with its own stream of text, and every
// AutoPing query in it is answered on that connection.  Its lines name the
// client as the pane does, by its address.

#include "session.h"

#include "base/failure.h"
#include "base/nametables.h"
#include "socket/listener.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"
#include "textcodec.h"

bool Session::servesMany() const
{
    return m_config.framed && m_config.role == Role::Server && m_config.transport == Transport::Tcp;
}

void Session::serve(std::unique_ptr<Winsock> socket)
{
    Winsock *client = socket.get();
    m_clients.push_back(std::make_unique<Client>(Client{std::move(socket), {}, {}}));
    connect(client, &Winsock::DataArrival, this, [this, client] { clientData(client); });
    connect(client, &Winsock::CloseEvent, this,
            [this, client] { dropClient(client, QStringLiteral("closed")); });
    connect(client, &Winsock::Error, this,
            [this, client](qint16 number, const QString &description) {
                dropClient(client, QStringLiteral("ended: %1 %2").arg(number).arg(description));
            });
    writeAccepting(*client);
}

void Session::clientData(Winsock *socket)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto &c) { return c->socket.get() == socket; });
    if (it == m_clients.end())
        return;
    Client &client = **it;
    TryRun(
        [&] {
            const QString text = client.text.take(socket->GetData());
            if (text.isEmpty())
                return;
            const bool query = text == AutoPingQuery;
            m_lines.addLine(LineKind::Data, socket->RemoteHostIP(), query ? text + CRLF : text);
            for (const ProbeText &read : client.texts.feed(text)) {
                if (read.kind != ProbeText::Query)
                    continue;
                const QString answer = ProbeTextOf(ProbeText::Response, read.seq);
                socket->SendData(EncodeForSending(answer));
                ++m_answeredQueries;
                m_lines.addLine(LineKind::Data, socket->LocalIP(), answer + CRLF);
            }
        },
        [&](const RuntimeError &e) {
            dropClient(socket, QStringLiteral("failed: 0x") + Hex(e.number) + u' ' + e.description);
        });
}

void Session::dropClient(Winsock *socket, const QString &why)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto &c) { return c->socket.get() == socket; });
    if (it == m_clients.end())
        return;
    // The first bytes of a character that never came whole are shown.
    if ((*it)->text.holding())
        m_lines.addLine(LineKind::Data, socket->RemoteHostIP(), (*it)->text.flush());
    m_lines.AddToMsgsBox(QStringLiteral("Winsock"),
                         QStringLiteral("Connection from ")
                             + HostAndPort(socket->RemoteHostIP(), socket->RemotePort()) + u' '
                             + why + CRLF);
    // Not from inside its own event: the socket goes after the handler.
    (*it)->socket.release()->deleteLater();
    m_clients.erase(it);
}
