// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "autoping/pingstats.h"
#include "jsonsummary.h"
#include "metrics.h"
#include "probetarget.h"
#include "session/session.h"
#include "terminalface.h"

#include <QTextStream>
#include <QTimer>

#include "base/msgsink.h"

HeadlessRun::HeadlessRun(const Command &command, const NameTables &tables,
                         const AddressRules &rules, MsgSink &lines, TerminalFace &face,
                         QTextStream &out)
    : m_command(command), m_out(out), m_lines(lines)
{
    if (!probing()) {
        m_session = std::make_unique<Session>(tables, rules, lines);
        connect(m_session.get(), &Session::stateShown, this, &HeadlessRun::onStateShown);
        m_session->startStateWatch();
        return;
    }
    const bool several = command.targets.size() > 1;
    face.show(command.quiet || command.json || several ? TerminalFace::Shown::Complaints
                                                       : TerminalFace::Shown::NoData);
    for (const auto &[host, port] : command.targets) {
        m_targets.push_back(std::make_unique<ProbeTarget>(
            m_command, TransportConfig(m_command), host, port, tables, rules, lines, out, several));
        connect(m_targets.back().get(), &ProbeTarget::done, this, &HeadlessRun::targetDone);
    }
}

HeadlessRun::~HeadlessRun() = default;

bool HeadlessRun::serveMetrics(QString *why)
{
    if (m_command.metrics.isEmpty())
        return true;
    m_metrics = std::make_unique<MetricsEndpoint>([this] {
        if (!probing())
            return ResponderMetrics(m_command.port, m_session->answeredQueries(),
                                    m_session->droppedDatagrams());
        QList<ProbeFigures> figures;
        for (const auto &target : m_targets)
            figures.append({target->name(), &target->stats()});
        return ProbeMetrics(figures);
    });
    return m_metrics->listen(m_command.metrics, why);
}

int HeadlessRun::start()
{
    if (QString why; !serveMetrics(&why)) {
        m_lines.AddComplaint(QStringLiteral("** Metrics Error"), why + CRLF);
        return 2;
    }
    if (probing() && m_targets.empty()) {
        m_lines.AddComplaint(QStringLiteral("AutoPing Error"),
                             QStringLiteral("No targets: the saved server list is empty") + CRLF);
        return 2;
    }
    if (probing()) {
        // The deadline counts from now, not from each target's connection.
        if (m_command.deadlineMs > 0)
            QTimer::singleShot(m_command.deadlineMs, this, [this] { end(); });
        bool any = false;
        for (const auto &target : m_targets)
            any = target->start() || any;
        if (!any) {
            end();
            return status();
        }
        return -1;
    }
    Session::Config config = TransportConfig(m_command);
    config.role = Session::Role::Server;
    config.ends.localAddress = m_command.local;
    config.ends.localPort = m_command.port;
    if (!m_session->CheckEnds(config))
        return 2;
    m_session->OpenIt(config);
    // A socket that could not be opened has said why.
    return GroupOf(m_session->state()) == StateGroup::Idle ? 2 : -1;
}

// A failure closed the responder: open it again, so that it stays up.
void HeadlessRun::onStateShown()
{
    if (m_ended || GroupOf(m_session->state()) != StateGroup::Idle)
        return;
    m_session->closeIfOpen();
    m_session->OpenIt(m_session->config());
    if (m_session->state() != SocketState::Listening && m_session->state() != SocketState::Open) {
        m_ended = true;
        emit finished(2);
    }
}

void HeadlessRun::targetDone()
{
    if (std::all_of(m_targets.begin(), m_targets.end(),
                    [](const auto &target) { return target->isDone(); }))
        end();
}

// The worst of the targets': 2 over 1 over 0.
int HeadlessRun::status() const
{
    int worst = 0;
    for (const auto &target : m_targets)
        worst = std::max(worst, target->status());
    return worst;
}

void HeadlessRun::stop()
{
    if (!probing()) {
        m_ended = true;
        m_session->finish();
        emit finished(0);
        return;
    }
    end();
    // With a metrics endpoint the end does not finish the run: this does.
    if (m_metrics)
        emit finished(m_status);
}

void HeadlessRun::end()
{
    if (m_ended)
        return;
    m_ended = true;
    for (const auto &target : m_targets)
        target->stop();
    const int exitStatus = status();
    QList<TargetSummary> summaries;
    qint64 sent = 0, received = 0, lost = 0;
    for (const auto &target : m_targets) {
        const PingStats &stats = target->stats();
        summaries.append({target->name(), &stats, target->errors()});
        if (!m_command.json)
            m_out << "--- " << target->name() << " AutoPing statistics ---\n"
                  << stats.pingSummary() << '\n';
        sent += stats.sent();
        received += stats.answered() + stats.late();
        lost += stats.lost();
    }
    if (m_command.json)
        m_out << JsonSummary(summaries, exitStatus);
    else if (m_targets.size() > 1)
        m_out << "--- total: " << m_targets.size() << " targets, " << sent
              << " packets transmitted, " << received << " received, " << lost << " lost\n";
    m_out.flush();
    m_status = exitStatus;
    // A scraper may still want the final figures: served until stopped.
    if (!m_metrics)
        emit finished(exitStatus);
}
