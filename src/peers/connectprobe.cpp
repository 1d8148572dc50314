// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A probe whose queries are connections: the host is looked up once (an
// IPv4 address first, as every connection of the program chooses), the TLS
// setup made once, and each query is a connection of its own through the
// socket, answered when it is made (TCP), or when its handshake is done
// and its certificate verified (TLS).  Its round trip is the system's time
// to connect, and the handshake's.

#include "probetarget.h"

#include "base/clock.h"
#include "base/failure.h"
#include "failurereason.h"
#include "socket/localaddress.h"
#include "socket/lookup.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"

#include <algorithm>

void ProbeTarget::lookUp()
{
    if (m_tls == nullptr && m_setup.config.transport == Session::Transport::Tls) {
        TlsSetup setup;
        RuntimeError failure;
        if (!TryRun([&] { setup = MakeTlsSetup(m_setup.config.tls, false); },
                    [&](const RuntimeError &e) { failure = e; })) {
            emit cannotProbe(failure.description);
            end(true);
            return;
        }
        setup.peerName = m_setup.host;
        m_tls = std::make_shared<const TlsSetup>(setup);
    }
    if (QHostAddress address; ParseAddress(m_setup.host, &address)) {
        m_address = AddressText(address);
        m_prober.start(HostAndPort(m_address, m_setup.port), m_setup.slotsFromUs);
        return;
    }
    const int family = m_setup.config.socket.family;
    LookUpHost(
        m_setup.host, this,
        [this](const LookedUp &found) {
            if (m_done)
                return;
            if (found.error == 0) {
                m_address = AddressText(found.address);
                m_downReason.clear();
                if (!m_prober.isRunning())
                    m_prober.start(HostAndPort(m_address, m_setup.port), m_setup.slotsFromUs);
                return;
            }
            m_downReason = FailureReason(found.error);
            m_downDetail = SocketErrorText(found.error);
            if (!m_setup.keepTrying) {
                emit cannotProbe(QStringLiteral("Host not found: ") + m_setup.host);
                end(true);
                return;
            }
            // Looked up again at the next query.
            if (!m_prober.isRunning())
                m_prober.start(name(), m_setup.slotsFromUs);
        },
        family != 6, family != 4);
}

Prober::Handed ProbeTarget::connectOnce(int seq)
{
    if (m_address.isEmpty()) {
        lookUp();
        return {false, 0, m_downReason, m_downDetail};
    }
    const bool tls = m_setup.config.transport == Session::Transport::Tls;
    auto owned = std::make_unique<Winsock>();
    Winsock *connection = owned.get();
    const qint64 sentAt = MonotonicUs();
    const bool opened = TryRun(
        [&] {
            connection->setProtocol(tls ? Winsock::sckTLSProtocol : Winsock::sckTCPProtocol);
            connection->setStateHolds(false);
            // A connect with no answer by the timeout is a failure, for that
            // reason: given up a little before the query is overdue, so that
            // a run that ends at its last query's timeout has heard why.
            connection->setConnectTimeoutMs(
                int(std::max<qint64>(1, m_setup.probe.timeoutUs / 1000 - 50)));
            if (m_tls)
                connection->setTls(*m_tls);
            connection->setRemoteHost(m_address);
            connection->setRemotePort(m_setup.port);
            connection->setLocalHost(m_setup.config.source);
            const Session::SocketOptions &options = m_setup.config.socket;
            connection->setPacketPath(options.tos, options.device);
            connection->Connect();
        },
        [&](const RuntimeError &e) {
            m_prober.refused(seq, FailureReason(e.number), e.description);
        });
    if (!opened)
        return {true, sentAt, {}, {}};
    // Made (TCP), or made and its handshake done and verified (TLS): the
    // answer, at the time the system's work took.
    connect(connection, &Winsock::ConnectEvent, this, [this, connection, seq, sentAt, tls] {
        m_prober.connected(connection->ConnectTimeUs());
        if (tls)
            return;
        m_prober.answer(seq, sentAt + connection->ConnectTimeUs());
        dropConnection(seq);
    });
    connect(connection, &Winsock::TlsReport, this,
            [this, connection, seq, sentAt](const TlsFacts &facts) {
                if (facts.established && (facts.problems.isEmpty() || facts.problemsAccepted)) {
                    m_prober.handshakeDone(facts.handshakeUs);
                    m_prober.answer(seq, sentAt + connection->ConnectTimeUs() + facts.handshakeUs);
                } else if (!facts.problems.isEmpty()) {
                    m_prober.refused(seq, FailureReason(sck::TlsCertificateRefused),
                                     facts.problems.first());
                } else {
                    m_prober.refused(seq, FailureReason(sck::TlsHandshakeFailed), facts.failure);
                }
                dropConnection(seq);
            });
    connect(connection, &Winsock::Error, this,
            [this, seq, connection](qint16, const QString &description) {
                const FailureTold told = TellFailure(connection->LastFailure(), m_address);
                m_prober.refused(seq, told.reason,
                                 told.rejection.isEmpty()
                                     ? description
                                     : told.rejection + QStringLiteral("; ") + description);
                dropConnection(seq);
            });
    m_connections[seq] = std::move(owned);
    return {true, sentAt, {}, {}};
}

// A connection whose query was judged goes (not from inside its own event).
void ProbeTarget::dropConnection(int seq)
{
    const auto it = m_connections.find(seq);
    if (it == m_connections.end())
        return;
    it->second->Close();
    it->second.release()->deleteLater();
    m_connections.erase(it);
}
