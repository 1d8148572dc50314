// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "base/clock.h"
#include "base/msgsink.h"
#include "jsonsummary.h"
#include "metricsendpoint.h"
#include "metricspage.h"
#include "peers/probetarget.h"
#include "peers/responder.h"
#include "peers/stampreflector.h"
#include "probe/probeclock.h"
#include "probe/probefigures.h"
#include "stamp/stampfigures.h"
#include "terminalface.h"
#include "udp/readywatch.h"
#include "wording/respondlines.h"
#include "wording/stamplines.h"
#include "wording/targetlines.h"

#include <QTextStream>
#include <QTimer>

#include <algorithm>

namespace {

// The transport as the command line chose it, with its TLS choices; the
// ends are left to fill.
Session::Config transportConfig(const Command &command)
{
    Session::Config config;
    config.transport = command.tls   ? Session::Transport::Tls
                       : command.tcp ? Session::Transport::Tcp
                                     : Session::Transport::Udp;
    config.tls = {command.insecure, command.cacert, command.cert, command.key, command.folder};
    return config;
}

ProbeTarget::Setup targetSetup(const Command &command, const QString &host, quint16 port)
{
    ProbeTarget::Setup setup;
    setup.host = host;
    setup.port = port;
    setup.config = transportConfig(command);
    // The command line reads every AutoPing text, talks to its target only
    // and does not hold the states for a watch.
    setup.config.reading = Session::Reading::Free;
    setup.config.socket.onePeer = true;
    setup.config.socket.quickStates = true;
    setup.config.source = command.source;
    // A connect that hangs is given up at the timeout the queries have.
    setup.config.connectTimeoutMs = command.timeoutMs;
    setup.config.ends.localAddress = command.source;
    setup.config.ends.localPort = command.localPort;
    setup.path = command.stamp         ? ProbeTarget::Path::Stamp
                 : command.connectOnly ? ProbeTarget::Path::Connects
                 : command.tcp         ? ProbeTarget::Path::Stream
                                       : ProbeTarget::Path::Datagrams;
    ProbeEngine::Options &probe = setup.probe;
    probe.count = command.count;
    probe.intervalUs = qint64(command.intervalMs) * 1000;
    probe.timeoutUs = qint64(command.timeoutMs) * 1000;
    // A late answer is taken for another timeout's length.
    probe.lateUs = 2 * probe.timeoutUs;
    static constexpr ProbeEngine::Matching matching[]
        = {ProbeEngine::Matching::Ordered, ProbeEngine::Matching::Plain,
           ProbeEngine::Matching::Numbered, ProbeEngine::Matching::Numbered};
    probe.matching = matching[int(setup.path)];
    if (setup.path == ProbeTarget::Path::Datagrams)
        probe.numberedAsks = 3;
    setup.keepTrying
        = command.keepGoing || command.targets.size() > 1 || !command.metrics.isEmpty();
    return setup;
}

} // namespace

HeadlessRun::HeadlessRun(const Command &command, const NameTables &tables,
                         const AddressRules &rules, MsgSink &lines, TerminalFace &face,
                         QTextStream &out)
    : m_command(command),
      m_out(out),
      m_lines(lines),
      m_readyWatch(std::make_unique<ReadyWatch>()),
      m_clock(std::make_unique<ProbeClock>()),
      m_minute(new QTimer(this))
{
    m_minute->start(60'000);
    if (!probing() && command.stamp) {
        m_stamp = std::make_unique<StampReflector>();
        m_stampLines = std::make_unique<StampLines>(*m_stamp, lines);
        connect(m_minute, &QTimer::timeout, m_stampLines.get(), &StampLines::tellMinute);
        return;
    }
    if (!probing()) {
        m_responder = std::make_unique<Responder>(tables, rules);
        m_respondLines
            = std::make_unique<RespondLines>(*m_responder, tables, lines, command.everyQuery);
        connect(&m_responder->session(), &Session::stateShown, this, &HeadlessRun::onStateShown);
        m_responder->session().startStateWatch();
        if (!command.everyQuery)
            connect(m_minute, &QTimer::timeout, m_respondLines.get(), &RespondLines::tellMinute);
        return;
    }
    const bool several = command.targets.size() > 1;
    face.show(command.json    ? TerminalFace::Shown::Complaints
              : command.quiet ? TerminalFace::Shown::Quiet
              : several       ? TerminalFace::Shown::ProbeLines
                              : TerminalFace::Shown::NoData);
    // The targets share their slots in groups of about 50, spread over the
    // interval (at least 10 ms apart): a run of a thousand wakes 20 times an
    // interval to send, not a thousand times, and no answer waits behind a
    // thousand queries sent in one turn.
    const qint64 origin = MonotonicUs();
    const int groups = std::clamp(int(command.targets.size()) / TargetsPerSlot, 1,
                                  std::max(1, command.intervalMs / 10));
    int index = 0;
    for (const auto &[host, port] : command.targets) {
        ProbeTarget::Setup setup = targetSetup(command, host, port);
        if (several)
            setup.slotsFromUs
                = origin + qint64(index++ % groups) * command.intervalMs * 1000 / groups;
        setup.config.socket.readyWatch = m_readyWatch.get();
        setup.clock = m_clock.get();
        auto target = std::make_unique<ProbeTarget>(setup, tables, rules);
        m_targetLines.push_back(std::make_unique<TargetLines>(*target, tables, lines, several));
        // A single target keeps a line per query, as ping does.
        if (several && !command.everyQuery) {
            m_targetLines.back()->setEveryQuery(false);
            connect(m_minute, &QTimer::timeout, m_targetLines.back().get(),
                    &TargetLines::tellMinute);
        }
        connect(target.get(), &ProbeTarget::done, this, &HeadlessRun::targetDone);
        m_targets.push_back(std::move(target));
    }
}

HeadlessRun::~HeadlessRun() = default;

bool HeadlessRun::serveMetrics(QString *why)
{
    if (m_command.metrics.isEmpty())
        return true;
    m_metrics = std::make_unique<MetricsEndpoint>([this] {
        if (m_stamp)
            return ResponderMetrics(m_command.port, m_stamp->answeredTotal(), 0);
        if (!probing())
            return ResponderMetrics(m_command.port, m_responder->answeredQueries(),
                                    m_responder->session().droppedDatagrams());
        QList<TargetFigures> figures;
        for (const auto &target : m_targets)
            figures.append({target->name(), &target->figures(), target->stampFigures()});
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
    if (m_stamp) {
        int number = 0;
        QString why;
        if (!m_stamp->open(m_command.local, m_command.port, &number, &why)) {
            m_stampLines->tellOpenFailed(m_command.local, m_command.port, number, why);
            return 2;
        }
        m_stampLines->tellOpened(m_command.local);
        return -1;
    }
    Session::Config config = Responder::configured(transportConfig(m_command), m_readyWatch.get());
    config.ends.localAddress = m_command.local;
    config.ends.localPort = m_command.port;
    Session &session = m_responder->session();
    if (!session.CheckEnds(config))
        return 2;
    m_responder->open(config);
    // A socket that could not be opened has said why.
    return GroupOf(session.state()) == StateGroup::Idle ? 2 : -1;
}

// A failure closed the responder: open it again, so that it stays up.
void HeadlessRun::onStateShown()
{
    const Session &session = m_responder->session();
    if (m_ended || GroupOf(session.state()) != StateGroup::Idle)
        return;
    m_responder->reopen();
    if (session.state() != SocketState::Listening && session.state() != SocketState::Open) {
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
    if (m_stamp) {
        m_ended = true;
        m_stampLines->tellMinute();
        m_stamp->close();
        emit finished(0);
        return;
    }
    if (!probing()) {
        m_ended = true;
        // What was answered since the last minute's lines is not lost.
        m_respondLines->tellMinute();
        m_responder->finish();
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
    quint64 sent = 0, received = 0, lost = 0;
    for (size_t i = 0; i < m_targets.size(); ++i) {
        const ProbeTarget &target = *m_targets[i];
        const ProbeFigures &figures = target.figures();
        const StampFigures *stamp = target.stampFigures();
        summaries.append({target.name(), &figures, m_targetLines[i]->errors(),
                          stamp ? stamp->json() : QJsonObject()});
        // To the terminal (unless it gets JSON) and to the log, a record a line.
        QString summary = QStringLiteral("--- ") + target.name()
                          + QStringLiteral(" AutoPing statistics ---\n") + figures.pingSummary();
        if (const StampFigures *stamp = target.stampFigures())
            for (const QString &line : stamp->summaryLines())
                summary += QStringLiteral("\n") + line;
        for (const QString &line : summary.split(u'\n'))
            m_lines.addLine(LineKind::Summary, QStringLiteral("AutoPing"), line + CRLF);
        sent += figures.sent();
        received += figures.answered() + figures.late();
        lost += figures.lost();
    }
    if (m_targets.size() > 1)
        m_lines.addLine(LineKind::Summary, QStringLiteral("AutoPing"),
                        QStringLiteral("--- total: %1 targets, %2 packets transmitted, %3 "
                                       "received, %4 lost")
                                .arg(m_targets.size())
                                .arg(sent)
                                .arg(received)
                                .arg(lost)
                            + CRLF);
    if (m_command.json) {
        m_out << JsonSummary(summaries, exitStatus);
        m_out.flush();
    }
    m_status = exitStatus;
    // A scraper may still want the final figures: served until stopped.
    if (!m_metrics)
        emit finished(exitStatus);
}
