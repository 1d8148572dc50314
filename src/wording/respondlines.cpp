// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "respondlines.h"

#include "base/hostport.h"
#include "base/msgsink.h"
#include "loadlines.h"
#include "peers/responder.h"
#include "probe/probetexts.h"

namespace {
const QString OtherClients = QStringLiteral("other clients");
} // namespace

QString ClientEndText(const ClientEnd &end)
{
    switch (end.kind) {
    case ClientEnd::Kind::Closed: return QStringLiteral("closed");
    case ClientEnd::Kind::Ended:
        return QStringLiteral("ended: %1 %2").arg(end.number).arg(end.description);
    case ClientEnd::Kind::Failed:
        return QStringLiteral("failed: 0x") + Hex(end.number) + u' ' + end.description;
    case ClientEnd::Kind::NotALoad: return QStringLiteral("closed: not a load's stream");
    case ClientEnd::Kind::Silent: return QStringLiteral("closed: silent for %1 s").arg(end.seconds);
    case ClientEnd::Kind::Evicted:
        return QStringLiteral("closed: silent for %1 s, and its place was needed").arg(end.seconds);
    }
    return {};
}

QStringList RefusedTexts(const SourceGate::Minute &minute)
{
    QStringList texts;
    const auto add = [&](const SourceGate::Refused &refused, const char *what) {
        if (refused.count > 0)
            texts << QStringLiteral("%1 %2 (e.g. %3)")
                         .arg(refused.count)
                         .arg(QLatin1String(what), refused.examples.join(QStringLiteral(", ")));
    };
    add(minute.badSource, "from port 0 or a broadcast or multicast address");
    add(minute.outside, "from outside the allowed addresses");
    add(minute.overBudget, "over the budget of answers");
    return texts;
}

RespondLines::RespondLines(Responder &responder, const NameTables &tables, MsgSink &lines,
                           const QString &name, bool everyQuery, QObject *parent)
    : QObject(parent),
      m_responder(responder),
      m_name(name),
      m_own(lines, name),
      m_clientLines(lines, name),
      m_sessionLines(responder.session(), tables, m_own)
{
    // Its clients' lines are the session's, named by the client.
    const auto asClient = [this](const Endpoint &peer, const auto &tell) {
        m_own.setName(m_name + QStringLiteral(" from ") + HostAndPort(peer.address, peer.port));
        tell();
        m_own.setName(m_name);
    };
    connect(&responder, &Responder::accepted, this,
            [this, asClient](const Endpoint &from, const Endpoint &to) {
                asClient(from, [&] { m_sessionLines.tellAccepted(from, to); });
            });
    connect(&responder, &Responder::dataArrived, this, [this, asClient](const DataSeen &data) {
        asClient(data.peer, [&] { m_sessionLines.tellData(data); });
    });
    connect(&responder, &Responder::dataSent, this, [this, asClient](const DataSeen &data) {
        asClient(data.peer, [&] { m_sessionLines.tellData(data); });
    });
    connect(&responder, &Responder::clientEnded, this,
            [this](const Endpoint &peer, const ClientEnd &end) {
                const QString who = HostAndPort(peer.address, peer.port);
                client(who).AddToMsgsBox(QStringLiteral("Winsock"),
                                         QStringLiteral("Connection from ") + who + u' '
                                             + ClientEndText(end) + CRLF);
            });
    connect(&responder, &Responder::clientsTurnedAway, this,
            [this](quint64 count, const TurnedAway &last) {
                const QString why
                    = last.perAddress
                          ? QStringLiteral("%1 from %2 already").arg(last.count).arg(last.address)
                          : QStringLiteral("%1 clients already, none silent for %2 s")
                                .arg(last.count)
                                .arg(last.seconds);
                m_own.AddComplaint(
                    QStringLiteral("Winsock"),
                    QStringLiteral("%1 turned away: %2 (at most %3 at once, %4 from one "
                                   "address)")
                            .arg(count == 1 ? QStringLiteral("A client was")
                                            : QStringLiteral("%1 clients were").arg(count),
                                 why)
                            .arg(m_responder.limits().maxClients)
                            .arg(m_responder.limits().maxClientsPerAddress)
                        + CRLF);
            });
    // A load: a line a second per load, and its end, whatever everyQuery says.
    connect(&responder, &Responder::loadTold, this, [this](const LoadReceiver::Told &told) {
        m_own.AddToMsgsBox(QStringLiteral("Load"), LoadToldLine(told) + CRLF);
    });
    connect(&responder, &Responder::loadsTurnedAway, this, [this](quint64 count) {
        m_own.AddToMsgsBox(QStringLiteral("Load"),
                           QStringLiteral("%1 pieces of new loads ignored: %2 loads are counted "
                                          "already")
                                   .arg(count)
                                   .arg(LoadReceiver::MaxLoads)
                               + CRLF);
    });
    if (everyQuery)
        return;
    m_sessionLines.setDataShown(false);
    connect(&responder, &Responder::clientEnded, this,
            [this](const Endpoint &peer, const ClientEnd &) { tellLeaving(peer); });
    connect(&responder.session(), &Session::dataArrived, this, &RespondLines::count);
    connect(&responder, &Responder::dataArrived, this, &RespondLines::count);
}

// What a client sent, counted for its minute's line.
void RespondLines::count(const DataSeen &data)
{
    QString key = BracketedHost(data.peer.address);
    if (m_clients.size() >= size_t(MaxClients) && !m_clients.count(key))
        key = OtherClients;
    Client &client = m_clients[key];
    quint64 &fromPort = client.ports[data.peer.port];
    for (const ProbeText &text : data.probeTexts)
        if (text.kind == ProbeText::Query) {
            ++client.queries;
            ++fromPort;
        }
    // What is no query: the text without its AutoPing texts.
    const QString rest = data.probeTexts.isEmpty() ? data.text : WithoutProbeTexts(data.text);
    client.other += quint64(rest.size());
    if (client.sample.size() < SampleCharacters)
        client.sample += rest.left(SampleCharacters - client.sample.size());
}

void RespondLines::tellMinute()
{
    if (const QStringList refused = RefusedTexts(m_responder.refusedMinute()); !refused.isEmpty())
        m_own.AddToMsgsBox(QStringLiteral("Winsock"),
                           QStringLiteral("in the last minute, not answered: ")
                               + refused.join(QStringLiteral(", ")) + CRLF);
    for (const auto &[who, client] : std::exchange(m_clients, {}))
        tell(who, client);
}

// A client that leaves takes its figures with it: alone from its address,
// all of them; with others from there, its queries (the rest stay for the
// minute's line).
void RespondLines::tellLeaving(const Endpoint &peer)
{
    const auto it = m_clients.find(BracketedHost(peer.address));
    if (it == m_clients.end() || !it->second.ports.count(peer.port))
        return;
    Client &client = it->second;
    if (client.ports.size() == 1) {
        tell(it->first, client);
        m_clients.erase(it);
        return;
    }
    Client alone;
    alone.queries = client.ports.at(peer.port);
    alone.ports[peer.port] = alone.queries;
    client.queries -= alone.queries;
    client.ports.erase(peer.port);
    if (alone.queries > 0)
        tell(it->first, alone);
}

void RespondLines::tell(const QString &who, const Client &client)
{
    const QString from = client.ports.size() == 1 && who != OtherClients
                             ? HostAndPort(who, client.ports.begin()->first)
                             : QStringLiteral("%1 (%2 ports)").arg(who).arg(client.ports.size());
    QString line = QStringLiteral("%1 in the last minute: %2 queries answered")
                       .arg(from)
                       .arg(client.queries);
    if (client.other > 0) {
        QString sample = client.sample;
        sample.replace(u'\\', QStringLiteral("\\\\"))
            .replace(u'\r', QStringLiteral("\\r"))
            .replace(u'\n', QStringLiteral("\\n"))
            .replace(u'"', QStringLiteral("\\\""));
        line
            += QStringLiteral(", %1 characters that were no query (first: \"%2%3\")")
                   .arg(client.other)
                   .arg(sample, client.other > quint64(client.sample.size()) ? QStringLiteral("...")
                                                                             : QString());
    }
    this->client(client.ports.size() == 1 && who != OtherClients ? from : who)
        .AddToMsgsBox(QStringLiteral("Winsock"), line + CRLF);
}

MsgSink &RespondLines::client(const QString &who)
{
    m_clientLines.setName(m_name + QStringLiteral(" from ") + who);
    return m_clientLines;
}
