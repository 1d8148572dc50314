// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "session/session.h"
#include "terminalface.h"

#include <QTextStream>

HeadlessRun::HeadlessRun(const Command &command, const NameTables &tables,
                         const AddressRules &rules, MsgSink &lines, const TerminalFace &face,
                         QTextStream &out)
    : m_command(command),
      m_face(face),
      m_out(out),
      m_session(std::make_unique<Session>(tables, rules, lines))
{
    m_lastAnswer.setSingleShot(true);
    m_lastAnswer.setTimerType(Qt::PreciseTimer);
    m_lastAnswer.setInterval(AutoPing::Interval);
    connect(&m_lastAnswer, &QTimer::timeout, this, [this] { end(probeStatus()); });
    connect(m_session.get(), &Session::stateShown, this, &HeadlessRun::onStateShown);
    connect(&m_session->probe(), &AutoPing::querySent, this, &HeadlessRun::onQuerySent);
    m_session->startStateWatch();
}

HeadlessRun::~HeadlessRun() = default;

int HeadlessRun::start()
{
    Session::Config config;
    config.transport = m_command.tcp ? Session::Transport::Tcp : Session::Transport::Udp;
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
        config.ends.localPort = m_command.localPort;
        config.ends.remoteAddress = m_command.host;
        config.ends.remotePort = m_command.port;
    }
    if (!m_session->CheckEnds(config)) {
        end(2);
        return 2;
    }
    m_session->OpenIt(config);
    // A socket that could not be opened has said why.
    if (GroupOf(m_session->state()) == StateGroup::Idle) {
        end(2);
        return 2;
    }
    // A UDP socket is open at once; a TCP probe waits to be connected.
    if (config.role == Session::Role::Client && !m_command.tcp)
        onStateShown();
    return -1;
}

// The client has gone: listen for the next one.
void HeadlessRun::listen()
{
    m_session->closeIfOpen();
    m_session->OpenIt(m_session->config());
    if (m_session->state() != SocketState::Listening)
        end(2);
}

void HeadlessRun::onStateShown()
{
    if (m_ended)
        return;
    const SocketState state = m_session->state();
    const StateGroup group = GroupOf(state);
    if (m_command.kind == Command::Respond) {
        if (m_command.tcp && group == StateGroup::Idle)
            listen();
        return;
    }
    if (group == StateGroup::Ready && !m_probing) {
        m_probing = true;
        m_session->probe().start(m_session->peer());
    } else if (group == StateGroup::Idle && state != SocketState::Open) {
        // The connection failed or the peer went: the probe cannot go on.
        end(m_probing && !m_face.sawFailure() ? probeStatus() : 2);
    }
}

void HeadlessRun::onQuerySent()
{
    ++m_sent;
    if (m_command.count > 0 && m_sent == m_command.count) {
        // The last query still has its interval to be answered.
        m_session->probe().stopQueries();
        m_lastAnswer.start();
    }
}

int HeadlessRun::probeStatus() const
{
    const PingStats &stats = m_session->probe().stats();
    return stats.answered() + stats.late() > 0 ? 0 : 1;
}

void HeadlessRun::stop()
{
    end(m_command.kind == Command::Respond ? 0 : probeStatus());
}

void HeadlessRun::end(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_lastAnswer.stop();
    if (m_probing) {
        m_session->probe().judgeLast();
        status = status == 2 ? 2 : probeStatus();
        const PingStats &stats = m_session->probe().stats();
        m_out << "--- " << stats.peer() << " AutoPing statistics ---\n"
              << stats.pingSummary() << Qt::endl;
    }
    m_session->finish();
    emit finished(status);
}
