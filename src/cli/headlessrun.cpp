// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "base/dialogs.h"
#include "base/failure.h"
#include "session/session.h"

namespace {

// Lines the user must not miss go to standard error: failures and refusals.
bool isComplaint(const QString &speaker)
{
    return speaker.startsWith(QLatin1String("**")) || speaker == QLatin1String("++ PEBKAC")
           || speaker == QLatin1String("Winsock Error");
}

} // namespace

// The one message box of start-up ("I can't find an active network
// connection; ..."), printed.  Nothing asks for input without a window.
class HeadlessRun::PrintedDialogs final : public Dialogs
{
public:
    explicit PrintedDialogs(QTextStream &err) : m_err(err) {}
    void MsgBox(const QString &prompt) override { m_err << prompt << Qt::endl; }
    QString InputBox(const QString &, const QString &) override { return {}; }

private:
    QTextStream &m_err;
};

HeadlessRun::HeadlessRun(const Command &command, const Environment &env, const Clock &clock,
                         const AdapterSource &adapters, QTextStream &out, QTextStream &err)
    : m_command(command),
      m_out(out),
      m_err(err),
      m_log(env, clock),
      m_dialogs(std::make_unique<PrintedDialogs>(err)),
      m_adapters(adapters, *m_dialogs, *this),
      m_rules(env, m_adapters, *this)
{
    m_lastAnswer.setSingleShot(true);
    m_lastAnswer.setTimerType(Qt::PreciseTimer);
    m_lastAnswer.setInterval(AutoPing::Interval);
    connect(&m_lastAnswer, &QTimer::timeout, this, [this] { end(probeStatus()); });
}

HeadlessRun::~HeadlessRun() = default;

void HeadlessRun::AddToMsgsBox(const QString &speaker, const QString &sentence)
{
    if (speaker == QLatin1String("cls"))
        return;
    const QString label = m_session ? m_session->label(speaker) : speaker;
    const QString line = label + u':' + u'\t' + sentence;
    if (isComplaint(speaker))
        m_failed = m_failed || speaker != QLatin1String("++ PEBKAC");

    print(isComplaint(speaker) ? m_err : m_out, line);
    RuntimeError failure;
    if (!m_log.LogWrite(line, &failure) && failure.number != 0)
        print(m_err, RunLog::FailedWriteLine(failure));
}

// On the terminal a line ends with LF, and every line ends.
void HeadlessRun::print(QTextStream &stream, QString line)
{
    line.replace(CRLF, QStringLiteral("\n"));
    if (!line.endsWith(u'\n'))
        line += u'\n';
    stream << line;
    stream.flush();
}

int HeadlessRun::start()
{
    // The window's start-up steps that matter without a window.
    for (const QString &name : ProtocolNames())
        m_tables.Protocol.append(name);
    for (const QString &name : StateNames())
        m_tables.States.append(name);
    if (!m_log.LogOpen(*this)) {
        AddToMsgsBox(ErrorSpeaker(rt::ProgramError),
                     QStringLiteral(" in mdlMain.Main; Couldn't open the log file") + CRLF);
        return 2;
    }
    if (!m_adapters.CheckConnected()) {
        m_log.LogClose(*this);
        return 2;
    }

    m_session = std::make_unique<Session>(m_tables, m_rules, *this);
    connect(m_session.get(), &Session::stateShown, this, &HeadlessRun::onStateShown);
    connect(&m_session->probe(), &AutoPing::querySent, this, &HeadlessRun::onQuerySent);
    m_session->startStateWatch();
    m_session->ServerMode = m_command.kind == Command::Respond;
    m_session->UseTCP = m_command.tcp;

    Session::Ends ends;
    if (m_session->ServerMode) {
        ends.localAddress = m_command.local;
        ends.localPort = m_command.port;
    } else {
        ends.localPort = m_command.localPort;
        ends.remoteAddress = m_command.host;
        ends.remotePort = m_command.port;
    }
    if (!m_session->CheckEnds(ends)) {
        end(2);
        return 2;
    }
    m_session->OpenIt(ends);
    // A socket that could not be opened has said why.
    const qint16 state = m_session->socket().State();
    if (state == Winsock::sckClosed || state == Winsock::sckError) {
        end(2);
        return 2;
    }
    // A UDP socket is open at once; a TCP probe waits to be connected.
    if (!m_session->ServerMode && !m_session->UseTCP)
        onStateShown();
    return -1;
}

void HeadlessRun::onStateShown()
{
    if (m_ended)
        return;
    const qint16 state = m_session->socket().State();
    const StateGroup group = GroupOf(m_session->stateName());
    if (m_session->ServerMode) {
        // The client has gone: listen for the next one.
        if (m_session->UseTCP && group == StateGroup::Idle) {
            m_session->closeIfOpen();
            Session::Ends ends{m_command.local, m_command.port, {}, {}};
            m_session->OpenIt(ends);
            if (m_session->socket().State() != Winsock::sckListening)
                end(2);
        }
        return;
    }
    if (group == StateGroup::Ready && !m_probing) {
        m_probing = true;
        m_session->probe().start(m_session->peer());
    } else if (group == StateGroup::Idle && state != Winsock::sckOpen) {
        // The connection failed or the peer went: the probe cannot go on.
        end(m_probing && !m_failed ? probeStatus() : 2);
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
    return m_session
                   && m_session->probe().stats().answered() + m_session->probe().stats().late() > 0
               ? 0
               : 1;
}

void HeadlessRun::stop()
{
    if (m_command.kind == Command::Respond)
        end(0);
    else
        end(m_session ? probeStatus() : 2);
}

void HeadlessRun::end(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_lastAnswer.stop();
    if (m_session) {
        if (m_probing) {
            m_session->probe().judgeLast();
            status = status == 2 ? 2 : probeStatus();
            const PingStats &stats = m_session->probe().stats();
            m_out << "--- " << stats.peer() << " AutoPing statistics ---\n"
                  << stats.pingSummary() << Qt::endl;
        }
        m_session->finish();
    }
    m_log.LogClose(*this);
    emit finished(status);
}
