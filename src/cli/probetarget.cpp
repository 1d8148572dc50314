// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "probetarget.h"

#include "autoping/probetexts.h"
#include "session/session.h"
#include "terminalface.h"

#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

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

Session::Config TransportConfig(const Command &command)
{
    Session::Config config;
    config.transport = command.tcp ? Session::Transport::Tcp : Session::Transport::Udp;
    config.framed = true;
    if (command.tls) {
        config.transport = Session::Transport::Tls;
        config.tls = {command.insecure, command.cacert, command.cert, command.key, command.folder};
    }
    return config;
}

ProbeTarget::ProbeTarget(const Command &command, const Session::Config &base, const QString &host,
                         const QString &port, const NameTables &tables, const AddressRules &rules,
                         MsgSink &lines, QTextStream &out, bool named)
    : m_command(command),
      m_config(base),
      m_host(host),
      m_port(port),
      m_lines(lines),
      m_named(named),
      m_session(std::make_unique<Session>(tables, rules, static_cast<MsgSink &>(*this))),
      m_prober(
          proberOptions(command),
          [this](int seq, bool numbered) {
              return m_command.connectOnly ? connectOnce(seq) : sendQuery(seq, numbered);
          },
          out)
{
    connect(m_session.get(), &Session::stateShown, this, &ProbeTarget::onStateShown);
    connect(m_session.get(), &Session::probeAnswered, &m_prober, &Prober::answerArrived);
    connect(&m_prober, &Prober::done, this, [this](bool failed) { end(failed); });
    m_reopen.setSingleShot(true);
    m_reopen.setInterval(command.intervalMs);
    connect(&m_reopen, &QTimer::timeout, this, &ProbeTarget::open);
    m_session->startStateWatch();
}

ProbeTarget::~ProbeTarget() = default;

// The session's lines pass on to the transcript; failures are kept.
void ProbeTarget::addLine(LineKind kind, const QString &speaker, const QString &sentence)
{
    // A refusal of the input counts as a failure too, for a target.
    if (kind != LineKind::Complaint) {
        m_lines.addLine(kind, speaker, sentence);
        return;
    }
    // The first MaxErrors are kept (a target that stays down for days must
    // not fill the memory); the rest are counted in the last one.
    if (m_errors.size() < MaxErrors)
        m_errors.append((speaker + u':' + u' ' + sentence).simplified());
    else
        m_errors.last() = QStringLiteral("... and %1 more").arg(++m_moreErrors);
    m_lines.addLine(kind, speaker, m_named ? name() + QStringLiteral(": ") + sentence : sentence);
}

void ProbeTarget::ClearMsgsBox()
{
    m_lines.ClearMsgsBox();
}

QString ProbeTarget::name() const
{
    return (m_host.contains(u':') ? u'[' + m_host + u']' : m_host) + u':' + m_port;
}

bool ProbeTarget::start()
{
    Session::Config config = m_config;
    config.ends = {m_command.source, m_command.localPort, m_host, m_port};
    config.source = m_command.source;
    if (!m_session->CheckEnds(config)) {
        end(true);
        return false;
    }
    if (m_command.connectOnly) {
        startConnects();
        return true;
    }
    m_session->OpenIt(config);
    // A socket that could not be opened has said why.
    if (GroupOf(m_session->state()) == StateGroup::Idle) {
        end(true);
        return false;
    }
    // The probe starts when the state watch has told the socket ready.
    return true;
}

void ProbeTarget::open()
{
    m_session->closeIfOpen();
    m_session->OpenIt(m_session->config());
}

Prober::Sent ProbeTarget::sendQuery(int seq, bool numbered)
{
    if (GroupOf(m_session->state()) != StateGroup::Ready)
        return Prober::Sent::NotConnected;
    const QString text
        = ProbeTextOf(ProbeText::Query, numbered ? std::optional(seq) : std::nullopt);
    return m_session->Send(text) ? Prober::Sent::Sent : Prober::Sent::Failed;
}

// --connect: the host is looked up once (an IPv4 address first), then each
// query is a connection of its own.
void ProbeTarget::startConnects()
{
    // --tls: the trust made once, not at every query (it would be timed).
    if (m_command.tls) {
        m_tlsSetup = QSslConfiguration::defaultConfiguration();
        if (!m_command.cacert.isEmpty()) {
            const auto trusted = QSslCertificate::fromPath(m_command.cacert);
            if (trusted.isEmpty()) {
                AddComplaint(QStringLiteral("AutoPing Error"),
                             QStringLiteral("No certificate in ") + m_command.cacert + CRLF);
                end(true);
                return;
            }
            m_tlsSetup.setCaCertificates(trusted);
        }
        m_tlsSetup.setPeerVerifyMode(m_command.insecure ? QSslSocket::VerifyNone
                                                        : QSslSocket::VerifyPeer);
    }
    QHostInfo::lookupHost(m_host, this, [this](const QHostInfo &info) {
        const QList<QHostAddress> found = info.addresses();
        const auto ipv4 = std::find_if(found.begin(), found.end(), [](const QHostAddress &a) {
            return a.protocol() == QAbstractSocket::IPv4Protocol;
        });
        if (found.isEmpty()) {
            AddComplaint(QStringLiteral("AutoPing Error"),
                         QStringLiteral("Host not found: ") + m_host + CRLF);
            end(true);
            return;
        }
        m_target = (ipv4 != found.end() ? *ipv4 : found.first()).toString();
        m_prober.start((m_target.contains(u':') ? u'[' + m_target + u']' : m_target) + u':'
                       + m_port);
    });
}

// Each query a connection: made (TCP), or made and its TLS handshake done
// and verified (--tls) is the answer, timed from the start.
Prober::Sent ProbeTarget::connectOnce(int seq)
{
    auto *connection = m_command.tls ? new QSslSocket(this) : new QTcpSocket(this);
    const auto answered = [this, connection, seq] {
        m_prober.answerArrived(seq);
        connection->abort();
        connection->deleteLater();
    };
    if (auto *tls = qobject_cast<QSslSocket *>(connection)) {
        tls->setSslConfiguration(m_tlsSetup);
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
    const auto port = quint16(m_port.toUInt());
    if (auto *tls = qobject_cast<QSslSocket *>(connection))
        tls->connectToHostEncrypted(m_target, port, m_host);
    else
        connection->connectToHost(m_target, port);
    return Prober::Sent::Sent;
}

void ProbeTarget::onStateShown()
{
    if (m_done)
        return;
    const StateGroup group = GroupOf(m_session->state());
    if (group == StateGroup::Ready && !m_prober.isRunning())
        m_prober.start(m_session->peer());
    else if (group == StateGroup::Ready && m_command.tcp)
        m_prober.reconnected();
    else if (group == StateGroup::Idle)
        connectionEnded();
}

// The connection failed, or the peer closed or reset it.
void ProbeTarget::connectionEnded()
{
    if (!m_prober.isRunning() && !m_errors.isEmpty()) {
        end(true); // it never came about: the lines have said why
        return;
    }
    if (m_command.keepGoing && m_prober.isRunning()) {
        m_reopen.start();
        return;
    }
    AddComplaint(QStringLiteral("AutoPing Error"),
                 QStringLiteral("The connection to %1 ended after %2 of %3 queries")
                         .arg(name())
                         .arg(stats().sent())
                         .arg(m_command.count > 0 ? QString::number(m_command.count)
                                                  : QStringLiteral("unlimited"))
                     + CRLF);
    end(true);
}

int ProbeTarget::status() const
{
    if (m_failed)
        return 2;
    return stats().sent() > 0 && stats().lost() == 0 ? 0 : 1;
}

void ProbeTarget::stop()
{
    m_reopen.stop();
    m_prober.finish();
    m_session->finish();
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
