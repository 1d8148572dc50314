// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The lines of a responder (peers/responder.h): its session's lines
// (sessionlines.h) and its clients', and
// instead of a line for every query and answer (unless everyQuery), a line
// a minute for each client address that sent anything (the port it sent
// from, or how many ports when there were several, as a probe of many
// targets sends from one port each): the queries answered, and
// what it sent that was no query, counted and its first characters shown,
// never written whole.  A responder that answers a thousand probes for
// weeks keeps every connection, failure and change, in a log of a
// reasonable size, and a client that sends a flood of anything cannot fill
// the disk.  What a stream client did since the last minute line is told
// when it leaves, and what all did when the responder stops, in the same
// words: nothing answered goes untold.
//
// Each line is named (NamedLines, base/msgsink.h) by the responder, or by
// the client it is about:
//
//   [udp :7] Winsock: Open
//   [tcp :7 from 10.0.0.5:40123] Winsock: 10.0.0.5:40123 in the last minute: 60 queries answered
//   [udp :7 from 10.0.0.7] Winsock: 10.0.0.7 (1000 ports) in the last minute: 60000 queries
//   answered [tcp :7 from 192.0.2.9:5555] Winsock: 192.0.2.9:5555 in the last minute: 0 queries
//   answered,
//            300000 characters that were no query (first: "GET / HTTP/1.1\r\nHo...")
//
// and what its gate refused (peers/sourcegate.h), in one line a minute:
//
//   Winsock: in the last minute, not answered: 3 from outside the allowed
//            addresses (e.g. 192.0.2.9, 2001:db8::7), 120 over the budget of
//            answers (e.g. 10.0.0.5)

#include "base/msgsink.h"
#include "peers/sourcegate.h"
#include "session/sessionevents.h"
#include "sessionlines.h"

#include <QObject>

#include <map>

struct ClientEnd;

// How a responder's client ended, as its line says it: "closed", "ended:
// 10054 ...", "closed: silent for 120 s" ...
QString ClientEndText(const ClientEnd &end);

// What a gate refused, in the words of the minute's line: "3 from outside
// the allowed addresses (e.g. 192.0.2.9)" ...; nothing for what it did not.
QStringList RefusedTexts(const SourceGate::Minute &minute);

class Responder;
struct NameTables;

class RespondLines : public QObject
{
    Q_OBJECT
public:
    // Clients kept apart in a minute; the rest are told together.
    static constexpr int MaxClients = 4096;
    static constexpr int SampleCharacters = 48;

    // name: the responder's, as its lines are named ("udp :7").
    RespondLines(Responder &responder, const NameTables &tables, MsgSink &lines,
                 const QString &name, bool everyQuery, QObject *parent = nullptr);

    // The minute's figures since the last call, a line for each client.
    void tellMinute();

private:
    struct Client
    {
        quint64 queries = 0;
        quint64 other = 0;                // characters that were no query
        QString sample;                   // the first of them
        std::map<quint16, quint64> ports; // the queries from each
    };
    void tell(const QString &who, const Client &client);
    void tellLeaving(const Endpoint &peer);
    void count(const DataSeen &data);
    Responder &m_responder;
    // The lines of one client (who: an address, or an address and port).
    MsgSink &client(const QString &who);

    QString m_name;
    NamedLines m_own;         // the responder's lines
    NamedLines m_clientLines; // a client's, named for each line
    SessionLines m_sessionLines;
    std::map<QString, Client> m_clients;
};
