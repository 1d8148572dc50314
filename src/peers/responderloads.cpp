// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The loads a responder counts: the pieces of `selmarin load`, per sender,
// instead of text; the reports back in band, on the socket the piece came
// by (a UDP answer goes to the sender from the address it sent to); the
// loads that fall silent ended once a second.

#include "responder.h"

#include "base/clock.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"

// A load's datagram is counted, not shown (one that only looks like one is
// shown as anything else is).  A datagram the gate refuses is taken too:
// neither shown nor answered.  Every other one counts against the budget
// of answers, whether it is a query or not, so that a flood of anything
// costs the responder little.
bool Responder::takeDatagram(Winsock &socket, const QByteArray &bytes, qint64 atUs)
{
    const QString source = socket.RemoteHostIP();
    const auto port = quint16(socket.RemotePort());
    if (!LoadWire::IsLoad(bytes))
        return m_gate.answer(source, port, atUs) != SourceGate::Verdict::Answer;
    if (m_gate.admit(source, port) != SourceGate::Verdict::Answer)
        return true;
    const auto header = LoadWire::ReadHeader(bytes.constData(), bytes.size());
    if (!header)
        return false;
    countLoad(socket, HostAndPort(socket.RemoteHostIP(), socket.RemotePort()), *header,
              quint64(bytes.size()), atUs);
    return true;
}

void Responder::countLoad(Winsock &socket, const QString &from, const LoadHeader &header,
                          quint64 bytes, qint64 atUs, const StreamRead &stream)
{
    const LoadReceiver::Outcome outcome = m_loads.take(from, header, bytes, atUs, stream);
    if (outcome.full) {
        m_loadsTurnedAway.note();
        return;
    }
    if (!outcome.reply.isEmpty())
        socket.SendData(outcome.reply);
    if (!m_loadSweep.isActive())
        m_loadSweep.start();
    if (outcome.told)
        emit loadTold(*outcome.told);
}

void Responder::sweepLoads()
{
    for (const LoadReceiver::Told &told : m_loads.expire(MonotonicUs()))
        emit loadTold(told);
    if (m_loads.active() == 0)
        m_loadSweep.stop();
}
