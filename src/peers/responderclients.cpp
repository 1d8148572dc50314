// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A responder's clients: every connection is served at once, each with its
// own stream of text, and every AutoPing query in it is answered on that
// connection.  What it tells names the client as the pane does, by its
// address.

#include "responder.h"

#include "base/clock.h"
#include "base/failure.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"

#include <cstring>
#include <sys/resource.h>

// The clients there is room for: two descriptors each (the connection and
// a duplicate that tells a reset from a close), some kept for the rest.
size_t Responder::clientRoom() const
{
    const auto most = size_t(std::max(1, m_limits.maxClients));
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return most;
    return std::min<size_t>(most, limit.rlim_cur > 64 ? (limit.rlim_cur - 64) / 2 : 1);
}

void Responder::serve(std::unique_ptr<Winsock> socket)
{
    // Clients are capped, in all and from one address, so that a flood of
    // connections (idle ones, say) leaves room for real probes.
    const QString address = socket->RemoteHostIP();
    // From outside the allowed ranges: closed at once, counted, not told.
    if (m_gate.admit(address, socket->RemotePort()) != SourceGate::Verdict::Answer) {
        socket->Close();
        return;
    }
    const int perAddress = m_limits.maxClientsPerAddress;
    const auto fromThere = std::count_if(m_clients.begin(), m_clients.end(), [&](const auto &c) {
        return c->socket->RemoteHostIP() == address;
    });
    const bool full = m_clients.size() >= clientRoom() && !evictSilentClient();
    if (full || fromThere >= perAddress) {
        m_turnedAwayWhy
            = {fromThere >= perAddress,
               fromThere >= perAddress ? qsizetype(fromThere) : qsizetype(m_clients.size()),
               address, m_limits.evictAfterMs / 1000};
        socket->Close();
        m_turnedAway.note();
        return;
    }
    Winsock *client = socket.get();
    m_clients.push_back(
        std::make_unique<Client>(Client{std::move(socket), {}, {}, MonotonicUs(), {}, true}));
    if (!m_idleSweep.isActive())
        m_idleSweep.start();
    connect(client, &Winsock::DataArrival, this, [this, client] { clientData(client); });
    connect(client, &Winsock::CloseEvent, this, [this, client] {
        dropClient(client, {ClientEnd::Kind::Closed, 0, {}, 0});
    });
    connect(client, &Winsock::Error, this,
            [this, client](qint16 number, const QString &description) {
                dropClient(client, {ClientEnd::Kind::Ended, number, description, 0});
            });
    emit accepted({client->RemoteHostIP(), client->RemotePort()},
                  {client->LocalIP(), client->LocalPort()});
}

void Responder::clientData(Winsock *socket)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto &c) { return c->socket.get() == socket; });
    if (it == m_clients.end())
        return;
    Client &client = **it;
    client.heardUs = MonotonicUs();
    TryRun(
        [&] {
            const qint64 at = MonotonicUs();
            const QByteArray bytes = socket->GetData();
            // A stream that starts with a load's magic is a load's: its
            // pieces are counted, never taken for text.
            if (std::exchange(client.firstData, false) && !bytes.isEmpty()
                && std::memcmp(bytes.constData(), LoadWire::Magic,
                               std::min<size_t>(sizeof LoadWire::Magic, size_t(bytes.size())))
                       == 0)
                client.load = std::make_unique<LoadStreamReader>();
            if (client.load) {
                QList<LoadStreamReader::Piece> pieces;
                const bool load = client.load->feed(bytes.constData(), bytes.size(), pieces);
                const QString from = HostAndPort(socket->RemoteHostIP(), socket->RemotePort());
                const StreamRead read = client.load->read(at);
                for (const LoadStreamReader::Piece &piece : std::as_const(pieces))
                    countLoad(*socket, from, piece.header, piece.bytes, at, read);
                if (!load) {
                    socket->Close();
                    dropClient(socket, {ClientEnd::Kind::NotALoad, 0, {}, 0});
                }
                return;
            }
            const QString text = client.text.take(bytes);
            if (text.isEmpty())
                return;
            const Endpoint from{socket->RemoteHostIP(), socket->RemotePort()};
            const QList<ProbeText> found = client.texts.feed(text);
            emit dataArrived({from, text, text != AutoPingQuery, found, at});
            for (const ProbeText &read : found) {
                if (read.kind != ProbeText::Query
                    || m_gate.answer(from.address, quint16(from.port), at)
                           != SourceGate::Verdict::Answer)
                    continue;
                const QString answer
                    = ProbeTextOf(ProbeText::Response, read.seq, read.size, read.token);
                const qint64 sentAt = MonotonicUs();
                socket->SendData(EncodeForSending(answer));
                ++m_answered;
                emit dataSent({{socket->LocalIP(), socket->LocalPort()},
                               answer,
                               answer.endsWith(u'\n'),
                               {},
                               sentAt});
            }
        },
        [&](const RuntimeError &e) {
            dropClient(socket, {ClientEnd::Kind::Failed, e.number, e.description, 0});
        });
}

void Responder::dropClient(Winsock *socket, const ClientEnd &end)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto &c) { return c->socket.get() == socket; });
    if (it == m_clients.end())
        return;
    const Endpoint client{socket->RemoteHostIP(), socket->RemotePort()};
    // The first bytes of a character that never came whole are shown.
    if ((*it)->text.holding())
        emit dataArrived({client, (*it)->text.flush(), true, {}, MonotonicUs()});
    emit clientEnded(client, end);
    // Not from inside its own event: the socket goes after the handler.
    (*it)->socket.release()->deleteLater();
    m_clients.erase(it);
}

// Clients that stayed silent too long are closed: they hold a descriptor and
// a place under the caps.
void Responder::closeIdleClients()
{
    const qint64 now = MonotonicUs();
    std::vector<Winsock *> idle;
    for (const auto &client : m_clients)
        if (now - client->heardUs > qint64(m_limits.clientIdleMs) * 1000)
            idle.push_back(client->socket.get());
    for (Winsock *socket : idle) {
        socket->Close();
        dropClient(socket, {ClientEnd::Kind::Silent, 0, {}, m_limits.clientIdleMs / 1000});
    }
    if (m_clients.empty())
        m_idleSweep.stop();
}

bool Responder::evictSilentClient()
{
    const auto silent
        = std::min_element(m_clients.begin(), m_clients.end(),
                           [](const auto &a, const auto &b) { return a->heardUs < b->heardUs; });
    if (silent == m_clients.end()
        || MonotonicUs() - (*silent)->heardUs < qint64(m_limits.evictAfterMs) * 1000)
        return false;
    Winsock *socket = (*silent)->socket.get();
    socket->Close();
    dropClient(socket,
               {ClientEnd::Kind::Evicted, 0, {}, (MonotonicUs() - (*silent)->heardUs) / 1'000'000});
    return true;
}
