// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "autoping/probetexts.h"
#include "base/msgsink.h"
#include "jsonsummary.h"
#include "session/session.h"
#include "terminalface.h"

#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTextStream>

namespace {

Prober::Options proberOptions(const Command &command)
{
    const Prober::Kind kind = command.connectOnly ? Prober::Kind::Connects
                              : command.tcp       ? Prober::Kind::Stream
                                                  : Prober::Kind::Datagrams;
    return {command.count,
            command.intervalMs,
            command.timeoutMs,
            command.deadlineMs,
            command.quiet || command.json,
            kind};
}

} // namespace

HeadlessRun::HeadlessRun(const Command &command, const NameTables &tables,
                         const AddressRules &rules, MsgSink &lines, TerminalFace &face,
                         QTextStream &out)
    : m_command(command),
      m_lines(lines),
      m_face(face),
      m_out(out),
      m_session(std::make_unique<Session>(tables, rules, lines)),
      m_prober(
          proberOptions(command),
          [this](int seq, bool numbered) {
              return m_command.connectOnly ? connectOnce(seq) : sendQuery(seq, numbered);
          },
          out)
{
    if (probing())
        face.show(command.quiet || command.json ? TerminalFace::Shown::Complaints
                                                : TerminalFace::Shown::NoData);
    connect(m_session.get(), &Session::stateShown, this, &HeadlessRun::onStateShown);
    connect(m_session.get(), &Session::probeAnswered, &m_prober, &Prober::answerArrived);
    connect(&m_prober, &Prober::done, this,
            [this](bool failed) { end(failed ? 2 : probeStatus()); });
    m_reopen.setSingleShot(true);
    m_reopen.setInterval(command.intervalMs);
    connect(&m_reopen, &QTimer::timeout, this, &HeadlessRun::open);
    m_session->startStateWatch();
}

HeadlessRun::~HeadlessRun() = default;

int HeadlessRun::start()
{
    Session::Config config;
    config.transport = m_command.tcp ? Session::Transport::Tcp : Session::Transport::Udp;
    config.framed = true;
    if (m_command.tls) {
        config.transport = Session::Transport::Tls;
        config.tls = {m_command.insecure, m_command.cacert, m_command.cert, m_command.key,
                      m_command.folder};
    }
    if (m_command.kind == Command::Respond) {
        config.role = Session::Role::Server;
        config.ends.localAddress = m_command.local;
        config.ends.localPort = m_command.port;
    } else {
        config.ends.localAddress = m_command.source;
        config.ends.localPort = m_command.localPort;
        config.ends.remoteAddress = m_command.host;
        config.ends.remotePort = m_command.port;
        config.source = m_command.source;
    }
    if (!m_session->CheckEnds(config)) {
        end(2);
        return 2;
    }
    if (m_command.connectOnly) {
        startConnects();
        return -1;
    }
    m_session->OpenIt(config);
    // A socket that could not be opened has said why.
    if (GroupOf(m_session->state()) == StateGroup::Idle) {
        end(2);
        return 2;
    }
    // The probe starts when the state watch has told the socket ready.
    return -1;
}

// Opens the session again as it was configured: a responder after a
// failure, a probe that keeps going after its connection ended.
void HeadlessRun::open()
{
    m_session->closeIfOpen();
    m_session->OpenIt(m_session->config());
}

Prober::Sent HeadlessRun::sendQuery(int seq, bool numbered)
{
    if (GroupOf(m_session->state()) != StateGroup::Ready)
        return Prober::Sent::NotConnected;
    const QString text
        = ProbeTextOf(ProbeText::Query, numbered ? std::optional(seq) : std::nullopt);
    return m_session->Send(text) ? Prober::Sent::Sent : Prober::Sent::Failed;
}

// --connect: the host is looked up once (an IPv4 address first), then each
// query is a connection of its own.
void HeadlessRun::startConnects()
{
    QHostInfo::lookupHost(m_command.host, this, [this](const QHostInfo &info) {
        const QList<QHostAddress> found = info.addresses();
        const auto ipv4 = std::find_if(found.begin(), found.end(), [](const QHostAddress &a) {
            return a.protocol() == QAbstractSocket::IPv4Protocol;
        });
        if (found.isEmpty()) {
            m_lines.AddToMsgsBox(QStringLiteral("AutoPing Error"),
                                 QStringLiteral("Host not found: ") + m_command.host + CRLF);
            end(2);
            return;
        }
        m_target = (ipv4 != found.end() ? *ipv4 : found.first()).toString();
        m_prober.start((m_target.contains(u':') ? u'[' + m_target + u']' : m_target) + u':'
                       + m_command.port);
    });
}

// Each query a connection: made (TCP), or made and its TLS handshake done
// and verified (--tls) is the answer, timed from the start.
Prober::Sent HeadlessRun::connectOnce(int seq)
{
    auto *connection = m_command.tls ? new QSslSocket(this) : new QTcpSocket(this);
    const auto answered = [this, connection, seq] {
        m_prober.answerArrived(seq);
        connection->abort();
        connection->deleteLater();
    };
    if (auto *tls = qobject_cast<QSslSocket *>(connection)) {
        QSslConfiguration setup = tls->sslConfiguration();
        if (!m_command.cacert.isEmpty())
            setup.setCaCertificates(QSslCertificate::fromPath(m_command.cacert));
        setup.setPeerVerifyMode(m_command.insecure ? QSslSocket::VerifyNone
                                                   : QSslSocket::VerifyPeer);
        tls->setSslConfiguration(setup);
        connect(tls, &QSslSocket::encrypted, this, answered);
        connect(tls, &QSslSocket::sslErrors, this,
                [this, tls, seq](const QList<QSslError> &errors) {
                    m_prober.refused(seq, errors.value(0).errorString());
                    tls->abort();
                    tls->deleteLater();
                });
    } else {
        connect(connection, &QAbstractSocket::connected, this, answered);
    }
    connect(connection, &QAbstractSocket::errorOccurred, this, [this, connection, seq] {
        m_prober.refused(seq, connection->errorString());
        connection->deleteLater();
    });
    // Given up at the timeout: the query is lost then, not left to the
    // system's much longer connect timeout.
    QTimer::singleShot(m_command.timeoutMs, connection, [connection] {
        connection->abort();
        connection->deleteLater();
    });
    if (!m_command.source.isEmpty())
        connection->bind(QHostAddress(m_command.source));
    const auto port = quint16(m_command.port.toUInt());
    if (auto *tls = qobject_cast<QSslSocket *>(connection))
        tls->connectToHostEncrypted(m_target, port, m_command.host);
    else
        connection->connectToHost(m_target, port);
    return Prober::Sent::Sent;
}

void HeadlessRun::onStateShown()
{
    if (m_ended)
        return;
    const StateGroup group = GroupOf(m_session->state());
    if (!probing()) {
        // A failure closed it: open it again, so the responder stays up.
        if (group == StateGroup::Idle) {
            open();
            if (m_session->state() != SocketState::Listening)
                end(2);
        }
        return;
    }
    if (group == StateGroup::Ready && !m_prober.isRunning())
        m_prober.start(m_session->peer());
    else if (group == StateGroup::Ready && m_command.tcp)
        m_prober.reconnected();
    else if (group == StateGroup::Idle)
        connectionEnded();
}

// The connection failed, or the peer closed or reset it.
void HeadlessRun::connectionEnded()
{
    if (!m_prober.isRunning() && m_face.sawFailure()) {
        end(2); // it never came about: the lines have said why
        return;
    }
    if (m_command.keepGoing && m_prober.isRunning()) {
        m_reopen.start();
        return;
    }
    const PingStats &stats = m_prober.stats();
    m_lines.AddToMsgsBox(QStringLiteral("AutoPing Error"),
                         QStringLiteral("The connection to %1 ended after %2 of %3 queries")
                                 .arg(stats.peer().isEmpty() ? m_session->peer() : stats.peer())
                                 .arg(stats.sent())
                                 .arg(m_command.count > 0 ? QString::number(m_command.count)
                                                          : QStringLiteral("unlimited"))
                             + CRLF);
    end(2);
}

int HeadlessRun::probeStatus() const
{
    const PingStats &stats = m_prober.stats();
    return stats.sent() > 0 && stats.lost() == 0 ? 0 : 1;
}

void HeadlessRun::stop()
{
    end(probing() ? probeStatus() : 0);
}

void HeadlessRun::end(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_reopen.stop();
    if (probing()) {
        m_prober.finish();
        status = status == 2 ? 2 : probeStatus();
        const PingStats &stats = m_prober.stats();
        const QString target
            = stats.peer().isEmpty() ? m_command.host + u':' + m_command.port : stats.peer();
        if (m_command.json)
            m_out << JsonSummary({{target, &stats, m_face.failures()}}, status);
        else
            m_out << "--- " << target << " AutoPing statistics ---\n"
                  << stats.pingSummary() << '\n';
        m_out.flush();
    }
    m_session->finish();
    emit finished(status);
}
