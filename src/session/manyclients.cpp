// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The clients of a server that serves many, the command line's responder:
// every connection is served at once, each with its own stream of text, and
// every AutoPing query in it is answered on that connection.  What it tells
// names the client as the pane does, by its address.

#include "session.h"

#include "base/clock.h"
#include "base/failure.h"
#include "socket/listener.h"
#include "socket/winsock.h"
#include "textcodec.h"

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
    tellAccepted(*client);
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
            const qint64 at = MonotonicUs();
            const QString text = client.text.take(socket->GetData());
            if (text.isEmpty())
                return;
            const Endpoint from{socket->RemoteHostIP(), socket->RemotePort()};
            const QList<ProbeText> found = readProbeTexts(text, true, client.texts);
            emit dataArrived({from, text, text != AutoPingQuery, found, at});
            for (const ProbeText &read : found) {
                if (read.kind != ProbeText::Query)
                    continue;
                const QString answer = ProbeTextOf(ProbeText::Response, read.seq);
                const qint64 sentAt = MonotonicUs();
                socket->SendData(EncodeForSending(answer));
                ++m_answeredQueries;
                emit dataSent(
                    {{socket->LocalIP(), socket->LocalPort()}, answer, false, {}, sentAt});
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
    const Endpoint client{socket->RemoteHostIP(), socket->RemotePort()};
    // The first bytes of a character that never came whole are shown.
    if ((*it)->text.holding())
        emit dataArrived({client, (*it)->text.flush(), true, {}, MonotonicUs()});
    emit clientEnded(client, why);
    // Not from inside its own event: the socket goes after the handler.
    (*it)->socket.release()->deleteLater();
    m_clients.erase(it);
}
