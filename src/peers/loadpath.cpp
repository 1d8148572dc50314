// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadpath.h"

#include "base/clock.h"
#include "base/failure.h"
#include "socket/localaddress.h"
#include "socket/lookup.h"
#include "socket/socketerrors.h"
#include "socket/systemsocket.h"
#include "socket/winsock.h"
#include "tls/credentials.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"
#include "udp/batchsend.h"

#include <QRandomGenerator>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// As fast as the path takes: the most handed over in one wake-up, so that
// the event loop (the reports, Ctrl+C) has its turn.
constexpr quint64 UnlimitedBudget = 1024;
// Asked for as the sending socket's buffer: a burst waits there.
constexpr int SendBuffer = 4 * 1024 * 1024;
} // namespace

LoadPath::LoadPath(const Setup &setup, const NameTables &tables, const AddressRules &rules,
                   QObject *parent)
    : QObject(parent),
      m_setup(setup),
      m_session(std::make_unique<Session>(tables, rules)),
      m_pacer(setup.perSecond, setup.burst),
      m_id(QRandomGenerator::global()->generate())
{
    m_setup.size = std::max(m_setup.size, int(LoadWire::MinSize));
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoadPath::tick);
    m_endTimer.setInterval(EndRepeatMs);
    m_endTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        if (MonotonicUs() >= m_endWaitUs) {
            finish(m_gotFinal);
            return;
        }
        if (udp())
            sendEnd();
    });
}

LoadPath::~LoadPath()
{
    closeAll();
}

const LoadPath::Sent &LoadPath::sent()
{
    takeAcknowledged();
    return m_sent;
}

void LoadPath::takeAcknowledged()
{
    if (udp() || !m_stream || m_setup.size <= 0)
        return;
    const quint64 size = quint64(m_setup.size);
    const quint64 unacknowledged = quint64(std::max<qint64>(0, m_stream->BytesUnacknowledged()));
    const quint64 acknowledged = m_streamBytes - std::min(unacknowledged, m_streamBytes);
    const quint64 warmUp = m_sent.warmUp * size;
    // Whole pieces: the far end has every byte of them.
    const quint64 pieces
        = std::min(m_handed, (acknowledged - std::min(acknowledged, warmUp)) / size);
    if (pieces > m_sent.pieces) {
        m_sent.pieces = pieces;
        m_sent.bytes = pieces * size;
        m_sent.endedUs = MonotonicUs();
    }
}

double LoadPath::streamRate() const
{
    if (!m_stream || m_streamUs < 0)
        return 0;
    const qint64 unacknowledged = std::max<qint64>(0, m_stream->BytesUnacknowledged());
    const qint64 acknowledged = std::max<qint64>(0, qint64(m_streamBytes) - unacknowledged);
    const qint64 us = MonotonicUs() - m_streamUs;
    return us > 0 ? double(acknowledged) * 1e6 / double(us) : 0;
}

qint64 LoadPath::ahead() const
{
    return std::clamp(qint64(streamRate() * AheadMs / 1000), qint64(StreamAheadLeast),
                      qint64(StreamAhead));
}

QString LoadPath::peerName() const
{
    return m_peer.isEmpty() ? HostAndPort(m_setup.host, m_setup.port) : m_peer;
}

bool LoadPath::start()
{
    Session::Config config = m_setup.config;
    config.role = Session::Role::Client;
    config.ends.remoteAddress = m_setup.host;
    config.ends.remotePort = m_setup.port;
    if (!m_session->CheckEnds(config)) {
        m_phase = Phase::Done;
        return false;
    }
    m_phase = Phase::Connecting;
    if (QHostAddress address; ParseAddress(m_setup.host, &address)) {
        opened(AddressText(address));
    } else {
        const int family = m_setup.config.socket.family;
        LookUpHost(
            m_setup.host, this,
            [this](const LookedUp &found) {
                if (m_phase != Phase::Connecting)
                    return;
                if (found.error != 0)
                    fail(QStringLiteral("%1: %2 %3")
                             .arg(m_setup.host)
                             .arg(found.error)
                             .arg(SocketErrorText(found.error)));
                else
                    opened(AddressText(found.address));
            },
            family != 6, family != 4);
    }
    return m_phase != Phase::Done;
}

void LoadPath::opened(const QString &address)
{
    m_peer = HostAndPort(address, m_setup.port);
    if (udp())
        openUdp(address);
    else
        openStream(address);
}

void LoadPath::openUdp(const QString &address)
{
    QHostAddress target;
    ParseAddress(address, &target);
    QHostAddress source(QHostAddress::Any);
    if (!m_setup.config.source.isEmpty() && !ParseAddress(m_setup.config.source, &source)) {
        fail(QStringLiteral("-I %1: %2")
                 .arg(m_setup.config.source, SocketErrorText(sck::AddressNotAvailable)));
        return;
    }
    BoundSocket bound;
    RuntimeError failure;
    if (!TryRun([&] { bound = BindSocket(SOCK_DGRAM, source, 0); },
                [&](const RuntimeError &e) { failure = e; })) {
        fail(QStringLiteral("%1 %2").arg(failure.number).arg(failure.description));
        return;
    }
    m_fd = bound.fd;
    sockaddr_storage to{};
    const unsigned length = ToSockaddr(target, m_setup.port, bound.ipv6, &to);
    if (length == 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&to), length) != 0) {
        const int number
            = length == 0 ? int(sck::AddressFamilyNotSupported) : ConnectErrorNumber(errno);
        fail(QStringLiteral("%1 %2").arg(number).arg(SocketErrorText(number)));
        return;
    }
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &SendBuffer, sizeof SendBuffer);
    m_buffers.assign(size_t(Batch) * size_t(m_setup.size), '\0');
    m_readable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &LoadPath::readUdp);
    begin();
}

void LoadPath::openStream(const QString &address)
{
    const bool tls = m_setup.config.transport == Session::Transport::Tls;
    m_stream = std::make_unique<Winsock>();
    Winsock *stream = m_stream.get();
    const bool opened = TryRun(
        [&] {
            stream->setProtocol(tls ? Winsock::sckTLSProtocol : Winsock::sckTCPProtocol);
            stream->setStateHolds(false);
            if (tls) {
                TlsSetup setup = MakeTlsSetup(m_setup.config.tls, false);
                setup.peerName = m_setup.host;
                stream->setTls(setup);
            }
            stream->setRemoteHost(address);
            stream->setRemotePort(m_setup.port);
            stream->setLocalHost(m_setup.config.source);
            stream->Connect();
        },
        [&](const RuntimeError &e) {
            fail(QStringLiteral("%1 %2").arg(e.number).arg(e.description));
        });
    if (!opened)
        return;
    connect(stream, &Winsock::ConnectEvent, this, [this, tls] {
        if (!tls)
            begin();
    });
    connect(stream, &Winsock::TlsReport, this, [this](const TlsFacts &facts) {
        if (facts.established && (facts.problems.isEmpty() || facts.problemsAccepted))
            begin();
        else if (!facts.problems.isEmpty())
            fail(QStringLiteral("TLS: the certificate did not verify: ") + facts.problems.first());
        else
            fail(QStringLiteral("TLS: ") + facts.failure);
    });
    connect(stream, &Winsock::Error, this, [this](qint16 number, const QString &description) {
        if (m_phase == Phase::Ending && m_gotFinal) {
            finish(true);
            return;
        }
        fail(QStringLiteral("%1 %2").arg(int(quint16(number))).arg(description));
    });
    connect(stream, &Winsock::CloseEvent, this, [this] {
        if (m_gotFinal)
            finish(true);
        else
            fail(QStringLiteral("the far end closed the connection"));
    });
    connect(stream, &Winsock::DataArrival, this, &LoadPath::readStream);
    // Room again: the sending goes on at once, not at the next look.
    const auto progress = [this] {
        if (m_stream && m_waiting >= ahead()
            && (m_waiting = m_stream->BytesUnacknowledged()) < ahead()
            && (m_phase == Phase::Sending || m_phase == Phase::WarmUp)) {
            m_timer.stop();
            tick();
        }
    };
    connect(stream, &Winsock::SendProgress, this, progress);
    connect(stream, &Winsock::SendComplete, this, progress);
}

// Up: the warm-up, or the Data pieces at once.
void LoadPath::begin()
{
    if (m_phase != Phase::Connecting)
        return;
    if (!udp())
        m_piece = QByteArray(std::max<qsizetype>(1, StreamBatchBytes / m_setup.size) * m_setup.size,
                             '\0');
    m_phaseUs = MonotonicUs();
    m_phaseSent = 0;
    m_pacer.start(m_phaseUs);
    if (m_setup.warmUpUs > 0) {
        m_phase = Phase::WarmUp;
    } else {
        m_phase = Phase::Sending;
        m_sent.startedUs = m_phaseUs;
        emit sending(m_phaseUs);
    }
    tick();
}

void LoadPath::arm(qint64 atUs)
{
    const qint64 now = MonotonicUs();
    m_timer.start(int(std::clamp<qint64>((atUs - now + 999) / 1000, 0, 1000)));
}

void LoadPath::tick()
{
    qint64 now = MonotonicUs();
    if (m_phase == Phase::WarmUp && now - m_phaseUs >= m_setup.warmUpUs) {
        m_phase = Phase::Sending;
        m_phaseUs = now;
        m_phaseSent = 0;
        m_pacer.start(now);
        m_sent.startedUs = now;
        emit sending(now);
    }
    if (m_phase == Phase::Draining) {
        if (now - m_phaseUs >= DrainMs * 1000)
            sendEnd();
        else
            arm(m_phaseUs + DrainMs * 1000);
        return;
    }
    if (m_phase != Phase::WarmUp && m_phase != Phase::Sending)
        return;
    const bool data = m_phase == Phase::Sending;
    // What is due now, within the phase's end.
    const qint64 lengthUs = data ? m_setup.durationUs : m_setup.warmUpUs;
    const bool counted = data && m_setup.count > 0;
    quint64 limit = std::numeric_limits<quint64>::max();
    if (counted)
        limit = m_setup.count;
    else if (!m_pacer.unlimited())
        limit = m_pacer.dueBy(m_phaseUs + lengthUs - 1);
    const bool timeOver = !counted && now - m_phaseUs >= lengthUs;
    quint64 due = std::min(m_pacer.dueBy(now), limit);
    if (m_pacer.unlimited())
        due = std::min(timeOver ? m_phaseSent : m_phaseSent + UnlimitedBudget, limit);
    if (due > m_phaseSent) {
        handOut(data, due, now);
        if (m_phase == Phase::Done)
            return;
    }
    now = MonotonicUs();
    const bool allSent = m_phaseSent >= limit || (timeOver && m_phaseSent >= due);
    if (data && allSent) {
        emit doneSending();
        if (udp()) {
            m_phase = Phase::Draining;
            m_phaseUs = now;
            arm(now + DrainMs * 1000);
        } else {
            sendEnd();
        }
        return;
    }
    if (!data && now - m_phaseUs >= lengthUs) {
        m_timer.start(0);
        return;
    }
    if (!udp() && m_stream && (m_waiting = m_stream->BytesUnacknowledged()) >= ahead()) {
        // The socket's progress wakes it, or (the far end's acknowledgements
        // and what TLS keeps encrypted are not told) a look a millisecond
        // later.
        m_timer.start(1);
        return;
    }
    if (m_phaseSent < due || m_pacer.unlimited())
        // The system's buffer was full, or (as fast as the path takes)
        // the next pieces: a millisecond later, never at once, as the
        // event loop must get to the far end's reports (a timer of 0 kept
        // a TLS connection's reports from being read for seconds).
        m_timer.start(1);
    else
        arm(std::min(m_pacer.dueAt(m_phaseSent), m_phaseUs + lengthUs));
}

void LoadPath::handOut(bool data, quint64 due, qint64 now)
{
    const qint64 dueUs = m_pacer.unlimited() ? now : m_pacer.dueAt(m_phaseSent);
    m_sent.lagMaxUs = std::max(m_sent.lagMaxUs, now - dueUs);
    const LoadKind kind = data ? LoadKind::Data : LoadKind::WarmUp;
    const quint64 n = udp() ? sendUdp(kind, m_phaseSent, due - m_phaseSent, dueUs)
                            : sendStream(kind, m_phaseSent, due - m_phaseSent, dueUs);
    m_phaseSent += n;
    if (!data) {
        m_sent.warmUp += n;
        return;
    }
    m_handed += n;
    if (!udp()) {
        takeAcknowledged();
        return;
    }
    m_sent.pieces += n;
    m_sent.bytes += n * quint64(m_setup.size);
    if (n > 0)
        m_sent.endedUs = MonotonicUs();
}

quint64 LoadPath::sendUdp(LoadKind kind, quint64 seq, quint64 n, qint64)
{
    const size_t size = size_t(m_setup.size);
    quint64 done = 0;
    OutDatagram batch[Batch];
    int retries = 0;
    while (done < n) {
        const int k = int(std::min<quint64>(Batch, n - done));
        const qint64 stamp = MonotonicUs();
        for (int i = 0; i < k; ++i) {
            char *piece = m_buffers.data() + size_t(i) * size;
            LoadWire::WriteHeader(piece,
                                  {kind, m_id, seq + done + quint64(i), stamp, quint32(size)});
            batch[i] = {piece, size};
        }
        const int sent = SendBatch(m_fd, batch, size_t(k), MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
                break;
            if (errno == ECONNREFUSED && retries++ < 2) {
                // An earlier datagram found no one listening: said, and on.
                if (m_sent.refusals++ == 0)
                    emit refused();
                continue;
            }
            if (errno == EINTR)
                continue;
            // The system would not send this batch: counted as sent and lost.
            m_sent.failures += quint64(k);
            done += quint64(k);
            continue;
        }
        done += quint64(sent);
        if (sent < k)
            break;
    }
    return done;
}

quint64 LoadPath::sendStream(LoadKind kind, quint64 seq, quint64 n, qint64)
{
    // Several pieces go to the socket in one call (StreamBatchBytes at
    // most): a call per piece costs more than the bytes.
    const qsizetype size = m_setup.size;
    const quint64 perCall = quint64(m_piece.size() / size);
    quint64 done = 0;
    if (m_streamUs < 0)
        m_streamUs = MonotonicUs();
    qint64 room = 0;
    while (done < n && m_stream
           && (room = ahead() - (m_waiting = m_stream->BytesUnacknowledged())) > 0) {
        // What fits ahead, one piece at least.
        const quint64 k = std::min({perCall, n - done, std::max<quint64>(1, quint64(room) / size)});
        const qint64 stamp = MonotonicUs();
        for (quint64 i = 0; i < k; ++i)
            LoadWire::WriteHeader(m_piece.data() + qsizetype(i) * size,
                                  {kind, m_id, seq + done + i, stamp, quint32(size)});
        // A copy of its own: the socket keeps the bytes it was handed
        // (shared, not copied) until they are written.
        const QByteArray bytes(m_piece.constData(), qsizetype(k) * size);
        const bool ok = TryRun([&] { m_stream->SendData(bytes); },
                               [&](const RuntimeError &e) {
                                   fail(QStringLiteral("%1 %2").arg(e.number).arg(e.description));
                               });
        if (!ok)
            break;
        done += k;
        m_streamBytes += k * quint64(size);
    }
    return done;
}

void LoadPath::sendEnd()
{
    if (m_phase != Phase::Ending) {
        m_phase = Phase::Ending;
        m_timer.stop();
        m_endWaitUs = MonotonicUs() + qint64(EndWaitMs) * 1000;
        if (!udp() && m_stream) {
            // What is still queued reaches the far end at the rate it took
            // so far, before it can count the End.
            const double rate = streamRate();
            const qint64 queued = m_stream->BytesUnacknowledged();
            m_endWaitUs += rate > 0 ? std::min<qint64>(qint64(double(queued) * 1e6 / rate),
                                                       qint64(EndWaitMostMs) * 1000)
                                    : (queued > 0 ? qint64(EndWaitMostMs) * 1000 : 0);
            m_sent.retransmits = m_stream->Retransmissions();
        }
        m_endTimer.start();
    }
    const QByteArray end = LoadWire::Piece(
        {LoadKind::End, m_id, m_handed, MonotonicUs(), quint32(LoadWire::HeaderBytes)});
    if (udp()) {
        if (::send(m_fd, end.constData(), size_t(end.size()), MSG_DONTWAIT) < 0
            && errno == ECONNREFUSED && m_sent.refusals++ == 0)
            emit refused();
        return;
    }
    m_streamBytes += quint64(end.size());
    TryRun([&] { m_stream->SendData(end); },
           [&](const RuntimeError &e) {
               fail(QStringLiteral("%1 %2").arg(e.number).arg(e.description));
           });
}

void LoadPath::readUdp()
{
    char buffer[2048];
    for (int i = 0; i < 64; ++i) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == ECONNREFUSED) {
                if (m_sent.refusals++ == 0)
                    emit refused();
                continue;
            }
            return;
        }
        takeReport(buffer, got);
        if (m_fd < 0)
            return;
    }
}

void LoadPath::readStream()
{
    if (!m_stream)
        return;
    TryRun([&] { m_inbox += m_stream->GetData(); }, [](const RuntimeError &) {});
    while (m_inbox.size() >= LoadWire::HeaderBytes) {
        const auto header = LoadWire::ReadHeader(m_inbox.constData(), m_inbox.size());
        if (!header) {
            fail(QStringLiteral("the far end sent something else than its count"));
            return;
        }
        if (m_inbox.size() < qsizetype(header->length))
            return;
        const QByteArray piece = m_inbox.left(header->length);
        m_inbox.remove(0, header->length);
        takeReport(piece.constData(), piece.size());
        if (m_phase == Phase::Done)
            return;
    }
}

void LoadPath::takeReport(const char *data, qsizetype size)
{
    LoadHeader header;
    const std::optional<LoadTally> tally = LoadWire::ReadReport(data, size, &header);
    if (!tally || header.id != m_id)
        return;
    const bool final = header.kind == LoadKind::Final;
    if (final && m_phase != Phase::Ending)
        return; // an answer to an End of before: not ours now
    if (final)
        m_gotFinal = true;
    emit reported(*tally, final);
    if (final)
        finish(true);
}

void LoadPath::stop()
{
    switch (m_phase) {
    case Phase::Idle:
    case Phase::Connecting: finish(false); break;
    case Phase::WarmUp:
    case Phase::Sending:
        if (m_sent.startedUs < 0)
            m_sent.startedUs = MonotonicUs();
        emit doneSending();
        if (udp()) {
            m_phase = Phase::Draining;
            m_phaseUs = MonotonicUs();
            arm(m_phaseUs + DrainMs * 1000);
        } else {
            sendEnd();
        }
        break;
    case Phase::Draining: sendEnd(); break;
    case Phase::Ending: finish(m_gotFinal); break;
    case Phase::Done: break;
    }
}

void LoadPath::abort()
{
    finish(m_gotFinal);
}

void LoadPath::fail(const QString &why)
{
    if (m_phase == Phase::Done)
        return;
    emit failed(why);
    finish(false);
}

void LoadPath::finish(bool final)
{
    if (m_phase == Phase::Done)
        return;
    takeAcknowledged();
    if (final && m_handed > m_sent.pieces) {
        // The far end counted all: each piece came.
        m_sent.pieces = m_handed;
        m_sent.bytes = m_handed * quint64(m_setup.size);
        m_sent.endedUs = MonotonicUs();
    }
    m_phase = Phase::Done;
    if (!udp() && m_stream && m_sent.retransmits < 0)
        m_sent.retransmits = m_stream->Retransmissions();
    closeAll();
    emit finished(final);
}

void LoadPath::closeAll()
{
    m_timer.stop();
    m_endTimer.stop();
    m_readable.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_stream) {
        m_stream->disconnect(this);
        m_stream->Close();
        m_stream.release()->deleteLater();
    }
}
