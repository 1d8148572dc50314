// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "responder.h"

#include "socket/winsock.h"

Responder::Responder(const NameTables &tables, const AddressRules &rules,
                     const ResponderLimits &limits, QObject *parent)
    : QObject(parent),
      m_limits(limits),
      m_gate(limits),
      m_session(tables, rules),
      m_turnedAway(60'000,
                   [this](quint64 count) { emit clientsTurnedAway(count, m_turnedAwayWhy); }),
      m_loadsTurnedAway(60'000, [this](quint64 count) { emit loadsTurnedAway(count); })
{
    m_session.setAcceptor([this](std::unique_ptr<Winsock> socket) { serve(std::move(socket)); });
    m_session.setDatagramTaker([this](Winsock &socket, const QByteArray &bytes, qint64 atUs) {
        return takeDatagram(socket, bytes, atUs);
    });
    // With no descriptor left, room for the next connection.
    connect(&m_session, &Session::descriptorShort, this, [this] { evictSilentClient(); });
    m_idleSweep.setInterval(std::max(1, m_limits.clientIdleMs / 8));
    connect(&m_idleSweep, &QTimer::timeout, this, &Responder::closeIdleClients);
    m_loadSweep.setInterval(1000);
    connect(&m_loadSweep, &QTimer::timeout, this, &Responder::sweepLoads);
}

void Responder::setLimits(const ResponderLimits &limits)
{
    m_limits.allow = limits.allow;
    m_limits.perSource = limits.perSource;
    m_limits.total = limits.total;
    m_gate.setLimits(limits);
}

Responder::~Responder()
{
    finish();
}

Session::Config Responder::configured(Session::Config config, ReadyWatch *readyWatch)
{
    config.role = Session::Role::Server;
    config.reading = Session::Reading::Free;
    config.socket.batches = true;
    config.socket.quickStates = true;
    config.socket.readyWatch = readyWatch;
    return config;
}

void Responder::open(const Session::Config &config)
{
    m_clients.clear();
    m_idleSweep.stop();
    m_session.OpenIt(config);
}

void Responder::finish()
{
    m_loadSweep.stop();
    m_idleSweep.stop();
    m_session.finish();
    m_clients.clear();
}
