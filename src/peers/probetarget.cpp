// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "probetarget.h"

#include "base/clock.h"
#include "failurereason.h"
#include "probe/probetexts.h"
#include "socket/localaddress.h"
#include "socket/lookup.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"
#include "stampsender.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"

#include <QRandomGenerator>

ProbeTarget::ProbeTarget(const Setup &setup, const NameTables &tables, const AddressRules &rules,
                         QObject *parent)
    : QObject(parent),
      m_setup(setup),
      m_token(TokenText(QRandomGenerator::system()->generate64())),
      m_session(std::make_unique<Session>(tables, rules)),
      m_prober(setup.probe, [this](int seq, ProbeEngine::Form form) {
          switch (m_setup.path) {
          case Path::Connects: return connectOnce(seq);
          case Path::Stamp: return sendStamp(seq);
          default: return sendQuery(seq, form);
          }
      })
{
    m_prober.setClock(setup.clock);
    Session &session = *m_session;
    // Up and down are told by the session's events, not by its states:
    // without holds a refused connection can come and go between two looks
    // of the state watch.
    connect(&session, &Session::dataArrived, this, [this](const DataSeen &data) {
        using Token = ProbeEngine::Token;
        for (const ProbeText &text : data.probeTexts)
            m_prober.answer(
                text.seq,
                m_queryClock.answered(text.seq.value_or(-1), data.atUs, data.systemStamped,
                                      [this](quint64 n) { return m_session->sentAtUs(n); }),
                !text.token              ? Token::Absent
                : *text.token == m_token ? Token::Echoed
                                         : Token::Wrong);
    });
    connect(&session, &Session::foreignDatagram, this, [this](const Endpoint &from) {
        m_prober.foreign(HostAndPort(from.address, from.port));
    });
    connect(&session, &Session::connectionCompleted, this, [this](qint64 us) {
        if (m_prober.isRunning())
            m_prober.connected(us);
        else
            m_connectUs = us;
        // A TLS stream carries queries once its handshake is done.
        if (m_setup.config.transport != Session::Transport::Tls)
            up();
    });
    connect(&session, &Session::tlsReported, this, &ProbeTarget::onTlsReported);
    const auto downLater = [this](const QString &reason) {
        // After the session's handler: the session may be closed or ended.
        QMetaObject::invokeMethod(
            this, [this, reason] { down(reason); }, Qt::QueuedConnection);
    };
    connect(&session, &Session::socketFailed, this,
            [this, downLater](const SocketFailure &failure) {
                // A router's message makes it "rejected", said with its evidence.
                const FailureTold told = TellFailure(failure.why, m_session->peerEnd().address);
                if (!told.rejection.isEmpty())
                    QMetaObject::invokeMethod(
                        this, [this, told] { down(told.reason, told.rejection); },
                        Qt::QueuedConnection);
                else
                    downLater(told.reason);
            });
    connect(&session, &Session::peerClosed, this, [downLater] { downLater(ClosedByPeer); });
    connect(&m_prober, &Prober::happened, this, [this](const ProbeEngine::Events &events) {
        for (const ProbeEngine::Event &event : events)
            if (event.kind == ProbeEngine::Event::Kind::Lost)
                dropConnection(event.seq);
        emit happened(events);
    });
    connect(&m_prober, &Prober::finished, this, [this] { end(false); });
    m_reopen.setSingleShot(true);
    connect(&m_reopen, &QTimer::timeout, this, &ProbeTarget::reopen);
    // The states it passes through are told as lines.
    session.startStateWatch();
}

ProbeTarget::~ProbeTarget() = default;

QString ProbeTarget::name() const
{
    return m_setup.name.isEmpty() ? HostAndPort(m_setup.host, m_setup.port) : m_setup.name;
}

bool ProbeTarget::start()
{
    Session::Config &config = m_setup.config;
    config.ends.remoteAddress = m_setup.host;
    config.ends.remotePort = m_setup.port;
    if (!m_session->CheckEnds(config)) {
        end(true);
        return false;
    }
    if (m_setup.path == Path::Connects) {
        lookUp();
        return !m_done;
    }
    open();
    return !m_done;
}

void ProbeTarget::reopen()
{
    if (m_done)
        return;
    m_session->closeIfOpen();
    open();
}

void ProbeTarget::open()
{
    // Datagrams go to one address, looked up first: a name that does not
    // resolve is a failed attempt, not a datagram counted as sent.
    if (QHostAddress address;
        m_setup.path != Path::Stream && !ParseAddress(m_setup.host, &address)) {
        const int family = m_setup.config.socket.family;
        LookUpHost(
            m_setup.host, this,
            [this](const LookedUp &found) {
                if (m_done)
                    return;
                if (found.error != 0)
                    down(FailureReason(found.error), SocketErrorText(found.error));
                else
                    openAt(AddressText(found.address));
            },
            family != 6, family != 4);
        return;
    }
    openAt(m_setup.host);
}

void ProbeTarget::openAt(const QString &address)
{
    if (m_setup.path == Path::Stamp) {
        openStamp(address);
        return;
    }
    Session::Config config = m_setup.config;
    config.ends.remoteAddress = address;
    RuntimeError failure;
    const QMetaObject::Connection failed
        = connect(m_session.get(), &Session::openFailed, this,
                  [&](SocketState, const RuntimeError &e) { failure = e; });
    m_session->OpenIt(config);
    disconnect(failed);
    // A socket that could not be opened has said why; a UDP socket is
    // ready at once.
    if (failure.number != 0)
        down(FailureReason(failure.number));
    else if (m_session->state() == SocketState::Open)
        up();
}

void ProbeTarget::onTlsReported(const TlsFacts &facts)
{
    if (!facts.established)
        return;
    if (m_prober.isRunning())
        m_prober.handshakeDone(facts.handshakeUs);
    else
        m_handshakeUs = facts.handshakeUs;
    up();
}

void ProbeTarget::up()
{
    if (m_ready || m_done)
        return;
    m_ready = true;
    m_downReason.clear();
    m_sentWhenUp = figures().sent();
    if (m_prober.isRunning())
        return;
    m_prober.start(m_stamp ? name() : m_session->peer(), m_setup.slotsFromUs);
    if (m_connectUs >= 0)
        m_prober.connected(std::exchange(m_connectUs, -1));
    if (m_handshakeUs >= 0)
        m_prober.handshakeDone(std::exchange(m_handshakeUs, -1));
}

void ProbeTarget::down(const QString &reason, const QString &detail)
{
    if (m_done)
        return;
    const bool wasReady = std::exchange(m_ready, false);
    m_downReason = reason.isEmpty() ? QStringLiteral("failed") : reason;
    m_downDetail = detail;
    if (!m_prober.isRunning()) {
        // It never came up: without keepTrying it ends, with why (the
        // session's lines have said it, unless it never opened).
        if (!m_setup.keepTrying) {
            if (!detail.isEmpty())
                emit cannotProbe(name() + QStringLiteral(": ") + detail);
            end(true);
            return;
        }
        m_prober.start(name(), m_setup.slotsFromUs);
    } else if (wasReady) {
        // The answers still on their way went with the connection.
        m_prober.restartStream();
        if (!m_setup.keepTrying) {
            emit connectionEnded(figures().sent(), m_setup.probe.count);
            end(true);
            return;
        }
        // A connection that carried queries is made again at once (a
        // restarted responder, a cut connection); one that did not waits
        // an interval, so that a peer that closes at once is not hammered.
        if (figures().sent() > m_sentWhenUp) {
            m_reopen.start(0);
            return;
        }
    }
    m_reopen.start(int(m_setup.probe.intervalUs / 1000));
}

Prober::Handed ProbeTarget::sendQuery(int seq, ProbeEngine::Form form)
{
    if (!m_ready)
        return {false, 0, m_downReason.isEmpty() ? QStringLiteral("failed") : m_downReason,
                m_downDetail};
    const qint64 at = MonotonicUs();
    const bool stream = m_setup.path == Path::Stream;
    const QString plain = ProbeTextOf(ProbeText::Query, std::nullopt, stream ? m_setup.size : 0);
    const QString numbered
        = ProbeTextOf(ProbeText::Query, seq, m_setup.size,
                      m_setup.probe.tokens ? std::optional(m_token) : std::nullopt);
    // The query's first datagram is the socket's next send.
    const quint64 number = m_session->nextSendNumber();
    if (!stream)
        m_queryClock.handed(seq, at, number);
    bool sent = false;
    switch (form) {
    case ProbeEngine::Form::Plain: sent = m_session->Send(plain); break;
    case ProbeEngine::Form::Numbered: sent = m_session->Send(numbered); break;
    // The numbered copy first: a responder answers it first, and the
    // answer to the plain one is then known for the echo it is.
    case ProbeEngine::Form::PlainAndNumbered:
        sent = m_session->Send(numbered) && m_session->Send(plain);
        break;
    }
    if (!sent)
        return {false, 0, QStringLiteral("failed"), {}};
    // A stream's query leaves within Send: the system's stamp of its last
    // byte, where it gave one, is when it went.
    if (const qint64 left = stream ? m_session->sentAtUs(number) : -1; left >= at)
        return {true, left, {}, {}};
    return {true, at, {}, {}};
}

int ProbeTarget::status() const
{
    // Queries this machine could not send for want of a descriptor failed
    // from here, not on the path: as a socket that could not be opened.
    if (m_failed || figures().failures().contains(FailureReason(sck::TooManyOpenFiles)))
        return 2;
    return figures().queries() > 0 && figures().lost() == 0 ? 0 : 1;
}

void ProbeTarget::stop()
{
    m_reopen.stop();
    m_prober.finish();
    m_session->finish();
    for (auto &[seq, connection] : m_connections)
        connection.release()->deleteLater();
    m_connections.clear();
    if (m_stamp)
        m_stamp->close();
}

void ProbeTarget::end(bool failed)
{
    if (m_done)
        return;
    m_failed = m_failed || failed;
    m_done = true;
    stop();
    emit done();
}

void ProbeTarget::openStamp(const QString &address)
{
    if (!m_stamp) {
        m_stamp = std::make_unique<StampSender>();
        connect(m_stamp.get(), &StampSender::answered, this,
                [this](int seq, qint64 atUs) { m_prober.answer(seq, atUs); });
        // An ICMP error (a closed port, no route) is the path's state, told
        // with the queries that meet it.
        connect(m_stamp.get(), &StampSender::failed, this,
                [this](int number) { m_downDetail = SocketErrorText(number); });
    }
    const Session::Config &config = m_setup.config;
    const PacketPath path{config.socket.tos, config.socket.device.toStdString()};
    if (int number = 0; !m_stamp->open(address, m_setup.port, config.ends.localAddress,
                                       config.ends.localPort, path, &number)) {
        down(FailureReason(number), SocketErrorText(number));
        return;
    }
    up();
}

Prober::Handed ProbeTarget::sendStamp(int seq)
{
    if (!m_ready)
        return {false, 0, m_downReason.isEmpty() ? QStringLiteral("failed") : m_downReason,
                m_downDetail};
    const qint64 at = MonotonicUs();
    if (int number = 0; !m_stamp->send(seq, &number))
        return {false, 0, FailureReason(number), SocketErrorText(number)};
    return {true, at, {}, {}};
}

const QueryClock::Use *ProbeTarget::datagramStamps() const
{
    return m_setup.path == Path::Datagrams ? &m_queryClock.use() : nullptr;
}

const StampFigures *ProbeTarget::stampFigures() const
{
    return m_stamp ? &m_stamp->figures() : nullptr;
}
