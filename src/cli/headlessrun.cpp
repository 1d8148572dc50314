// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "headlessrun.h"

#include "base/clock.h"
#include "base/msgsink.h"
#include "jsonstream.h"
#include "jsonsummary.h"
#include "metricsendpoint.h"
#include "metricspage.h"
#include "peers/probetarget.h"
#include "peers/responder.h"
#include "peers/stampreflector.h"
#include "probe/probeclock.h"
#include "probe/probefigures.h"
#include "probe/probetexts.h"
#include "stamp/stampfigures.h"
#include "terminalface.h"
#include "tls/certexpiry.h"
#include "udp/readywatch.h"
#include "wording/respondlines.h"
#include "wording/stamplines.h"
#include "wording/targetlines.h"

#include <QFileInfo>

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

ProbeTarget::Setup targetSetup(const Command &command, const QString &host, quint16 port,
                               const QString &name = {})
{
    ProbeTarget::Setup setup;
    setup.host = host;
    setup.name = name;
    setup.port = port;
    setup.config = transportConfig(command);
    // The command line reads every AutoPing text, talks to its target only,
    // times what arrives on a stream by the system's stamps and does not
    // hold the states for a watch.
    setup.config.reading = Session::Reading::Free;
    setup.config.socket.onePeer = true;
    setup.config.socket.streamStamps = true;
    setup.config.socket.quickStates = true;
    setup.config.source = command.source;
    // A connect that hangs is given up at the timeout the queries have.
    setup.config.connectTimeoutMs = command.timeoutMs;
    setup.config.ends.localAddress = command.source;
    setup.config.ends.localPort = command.localPort;
    setup.config.socket.family = command.family;
    setup.config.socket.tos = command.tos;
    setup.config.socket.device = command.device;
    setup.size = command.payloadSize;
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
    if (setup.path == ProbeTarget::Path::Datagrams) {
        probe.tokens = true;
        probe.numberedAsks = command.requireToken ? 0 : 3;
    }
    // A far end known to echo the token is not asked whether it reads
    // numbers: a plain answer is as foreign as a forged one.  On a stream
    // the token is carried by padded queries (their line feed ends it).
    if (command.requireToken) {
        probe.tokens = probe.requireToken = true;
        if (setup.path == ProbeTarget::Path::Datagrams)
            probe.matching = ProbeEngine::Matching::Numbered;
        else
            setup.size = std::max(setup.size, SmallestPadded(true));
    }
    setup.keepTrying
        = command.keepGoing || command.targets.size() > 1 || !command.metrics.isEmpty();
    return setup;
}

// A responder's protocol as its lines and its metrics name it.
QString protocolWord(const Command &c)
{
    return c.stamp ? QStringLiteral("stamp")
           : c.tls ? QStringLiteral("tls")
           : c.tcp ? QStringLiteral("tcp")
                   : QStringLiteral("udp");
}

// A responder's name on its lines: "udp :7".
QString responderName(const Command &c)
{
    return protocolWord(c) + QStringLiteral(" :") + QString::number(c.port);
}

} // namespace

struct HeadlessRun::Running
{
    PlannedTarget planned;
    std::unique_ptr<ProbeTarget> target;
    std::unique_ptr<NamedLines> named;  // its lines, named by it
    std::unique_ptr<TargetLines> lines; // gone before its target
};

struct HeadlessRun::Serving
{
    PlannedResponder planned;
    std::unique_ptr<Responder> responder;
    std::unique_ptr<RespondLines> lines;
    std::unique_ptr<StampReflector> stamp; // --stamp, instead of the responder
    std::unique_ptr<NamedLines> stampNamed;
    std::unique_ptr<StampLines> stampLines;
    std::unique_ptr<CertExpiryWatch> certificate; // a TLS responder's own

    // What was answered since the last minute's lines is not lost.
    void close(QObject *watcher)
    {
        if (stamp) {
            stampLines->tellMinute();
            stamp->close();
            return;
        }
        QObject::disconnect(&responder->session(), nullptr, watcher, nullptr);
        lines->tellMinute();
        responder->finish();
    }
};

HeadlessRun::HeadlessRun(const Command &command, const NameTables &tables,
                         const AddressRules &rules, const Clock &clock, MsgSink &lines,
                         TerminalFace &face, QTextStream &out)
    : m_command(command),
      m_tables(tables),
      m_rules(rules),
      m_wallClock(clock),
      m_face(face),
      m_out(out),
      m_lines(lines),
      m_readyWatch(std::make_unique<ReadyWatch>()),
      m_clock(std::make_unique<ProbeClock>()),
      m_minute(new QTimer(this))
{
    m_minute->start(60'000);
}

HeadlessRun::~HeadlessRun() = default;

void HeadlessRun::streamJson(const Clock &clock)
{
    if (!probing())
        return;
    m_jsonStream = std::make_unique<JsonStream>(m_out, clock, m_tables);
    connect(m_minute, &QTimer::timeout, m_jsonStream.get(), &JsonStream::tellMinute);
}

// The targets or ports of the run: its configuration file's, or the command
// line's own; false, each fault said, when the file has faults.
bool HeadlessRun::makePlan(ServicePlan *plan)
{
    if (m_command.configFile.isEmpty()) {
        for (const auto &[host, port] : m_command.targets) {
            Command command = m_command;
            command.host = host;
            command.port = port;
            plan->targets.append({{DefaultTargetName(host, port), host, port, {}}, command});
        }
        plan->responders.append({{{}, m_command.port, m_command.local}, m_command});
        plan->metrics = m_command.metrics;
        plan->webConfig = m_command.webConfig;
        return true;
    }
    QStringList faults;
    const ServiceConfig config = ConfigOfCommand(m_command, &faults);
    if (faults.isEmpty())
        *plan = PlanOf(config, m_command, &faults);
    for (const QString &fault : faults)
        m_lines.AddComplaint(QStringLiteral("Config Error"), fault + CRLF);
    return faults.isEmpty();
}

bool HeadlessRun::serveMetrics(QString *why)
{
    if (m_command.metrics.isEmpty())
        return true;
    WebConfig web;
    if (!m_command.webConfig.isEmpty() && !ReadWebConfig(m_command.webConfig, &web, why))
        return false;
    QList<CertExpiry> own;
    if (web.tls()) {
        quint16 port = 0;
        MetricsAddress(m_command.metrics, &port);
        own.append(
            {QStringLiteral("metrics"), port, web.certFile, web.certExpiry.toSecsSinceEpoch()});
    }
    const auto page = [this, own] {
        QList<CertExpiry> certificates = own;
        for (const auto &serving : m_serving)
            if (const CertExpiryWatch *watch = serving->certificate.get())
                certificates.append({QStringLiteral("respond"), serving->planned.command.port,
                                     watch->file(), watch->expiry().toSecsSinceEpoch()});
        return CertExpiryMetrics(certificates);
    };
    auto metrics = std::make_unique<MetricsEndpoint>(
        [this, page] {
            if (!probing()) {
                QList<ResponderFigures> ports;
                for (const auto &serving : m_serving) {
                    const Command &c = serving->planned.command;
                    ports.append(
                        {c.port, protocolWord(c),
                         serving->stamp ? serving->stamp->answeredTotal()
                                        : serving->responder->answeredQueries(),
                         serving->stamp ? 0 : serving->responder->session().droppedDatagrams()});
                }
                return ResponderMetrics(ports) + page();
            }
            QList<TargetFigures> figures;
            for (const auto &running : m_running) {
                const ProbeTarget &target = *running->target;
                figures.append({target.name(), &target.figures(), target.stampFigures(),
                                running->planned.entry.settings.labels});
            }
            return ProbeMetrics(figures) + page();
        },
        [this] { return m_wallClock.now(); });
    connect(metrics.get(), &MetricsEndpoint::notice, this, [this](const QString &line) {
        m_lines.AddComplaint(QStringLiteral("** Metrics Warning"), line + CRLF);
    });
    WebConfig locked = web;
    if (!metrics->listen(m_command.metrics, why, std::move(web)))
        return false;
    m_web = std::move(locked);
    m_metrics = std::move(metrics);
    return true;
}

// A target of the run, in its group's slots.
void HeadlessRun::addTarget(const PlannedTarget &planned, int groups, qint64 origin)
{
    const Command &command = planned.command;
    auto running = std::make_unique<Running>();
    running->planned = planned;
    ProbeTarget::Setup setup = targetSetup(command, command.host, command.port, planned.entry.name);
    if (m_several)
        setup.slotsFromUs
            = origin
              + qint64(m_running.size() % size_t(groups)) * command.intervalMs * 1000 / groups;
    setup.config.socket.readyWatch = m_readyWatch.get();
    setup.clock = m_clock.get();
    running->target = std::make_unique<ProbeTarget>(setup, m_tables, m_rules);
    running->named = std::make_unique<NamedLines>(m_lines, running->target->name());
    running->lines = std::make_unique<TargetLines>(*running->target, m_tables, *running->named);
    if (m_jsonStream)
        m_jsonStream->follow(*running->target);
    // A single target keeps a line per query, as ping does.
    if (m_several && !command.everyQuery) {
        running->lines->setEveryQuery(false);
        connect(m_minute, &QTimer::timeout, running->lines.get(), &TargetLines::tellMinute);
    }
    connect(running->target.get(), &ProbeTarget::done, this, &HeadlessRun::targetDone);
    m_running.push_back(std::move(running));
}

int HeadlessRun::start()
{
    ServicePlan plan;
    if (!makePlan(&plan))
        return 2;
    m_command.metrics = plan.metrics;
    m_command.webConfig = plan.webConfig;
    if (QString why; !serveMetrics(&why)) {
        m_lines.AddComplaint(QStringLiteral("** Metrics Error"), why + CRLF);
        return 2;
    }
    if (!probing() && plan.responders.isEmpty()) {
        m_lines.AddComplaint(
            QStringLiteral("Config Error"),
            QStringLiteral("No ports to respond on in %1").arg(m_command.configFile) + CRLF);
        return 2;
    }
    if (!probing()) {
        for (const PlannedResponder &planned : std::as_const(plan.responders))
            if (!openServing(planned))
                return 2;
        return -1;
    }
    if (plan.targets.isEmpty()) {
        m_lines.AddComplaint(QStringLiteral("AutoPing Error"),
                             (m_command.configFile.isEmpty()
                                  ? QStringLiteral("No targets: the saved server list is empty")
                                  : QStringLiteral("No targets in %1").arg(m_command.configFile))
                                 + CRLF);
        return 2;
    }
    m_several = plan.targets.size() > 1 || !m_command.configFile.isEmpty();
    // Under --json-stream the lines go to standard error (with -q none
    // but the complaints): standard output is the stream's.
    m_face.allToErr(m_command.jsonStream);
    m_face.show(m_command.json                            ? TerminalFace::Shown::Complaints
                : m_command.quiet && m_command.jsonStream ? TerminalFace::Shown::Complaints
                : m_command.quiet                         ? TerminalFace::Shown::Quiet
                : m_several                               ? TerminalFace::Shown::ProbeLines
                                                          : TerminalFace::Shown::NoData);
    // The targets share their slots in groups of about 50, spread over the
    // interval (at least 10 ms apart): a run of a thousand wakes 20 times an
    // interval to send, not a thousand times, and no answer waits behind a
    // thousand queries sent in one turn.
    const qint64 origin = MonotonicUs();
    const int groups = std::clamp(int(plan.targets.size()) / TargetsPerSlot, 1,
                                  std::max(1, m_command.intervalMs / 10));
    for (const PlannedTarget &planned : std::as_const(plan.targets))
        addTarget(planned, groups, origin);
    // The deadline counts from now, not from each target's connection.
    if (m_command.deadlineMs > 0)
        QTimer::singleShot(m_command.deadlineMs, this, [this] { end(); });
    bool any = false;
    for (const auto &running : m_running)
        any = running->target->start() || any;
    if (!any) {
        end();
        return status();
    }
    return -1;
}

bool HeadlessRun::openServing(const PlannedResponder &planned)
{
    auto serving = std::make_unique<Serving>();
    serving->planned = planned;
    const Command &command = planned.command;
    if (command.stamp) {
        serving->stamp = std::make_unique<StampReflector>(nullptr, StampReflector::MaxSessions,
                                                          ::setsockopt, command.limits);
        serving->stampNamed = std::make_unique<NamedLines>(m_lines, responderName(command));
        serving->stampLines = std::make_unique<StampLines>(*serving->stamp, *serving->stampNamed);
        connect(m_minute, &QTimer::timeout, serving->stampLines.get(), &StampLines::tellMinute);
        int number = 0;
        QString why;
        if (!serving->stamp->open(command.local, command.port, &number, &why)) {
            serving->stampLines->tellOpenFailed(command.local, command.port, number, why);
            return false;
        }
        serving->stampLines->tellOpened(command.local);
        m_serving.push_back(std::move(serving));
        return true;
    }
    serving->responder = std::make_unique<Responder>(m_tables, m_rules, command.limits);
    serving->lines = std::make_unique<RespondLines>(*serving->responder, m_tables, m_lines,
                                                    responderName(command), command.everyQuery);
    Session &session = serving->responder->session();
    connect(&session, &Session::stateShown, this,
            [this, raw = serving.get()] { servingDown(*raw); });
    session.startStateWatch();
    // With --every-query too: what was refused is told once a minute.
    connect(m_minute, &QTimer::timeout, serving->lines.get(), &RespondLines::tellMinute);
    // A TLS responder's certificate, as read at every opening, is told
    // when it has expired or soon will.
    connect(&session, &Session::tlsSetUp, this,
            [this, raw = serving.get(), name = responderName(command)](const TlsUsed &used) {
                if (used.own.isNull())
                    return;
                raw->certificate = std::make_unique<CertExpiryWatch>(
                    QStringLiteral("The responder's certificate"), used.ownCertFile,
                    used.own.expiryDate(), [this] { return m_wallClock.now(); });
                connect(raw->certificate.get(), &CertExpiryWatch::notice, this,
                        [this, name](const QString &line) {
                            NamedLines(m_lines, name)
                                .AddComplaint(QStringLiteral("** TLS Warning"), line + CRLF);
                        });
                raw->certificate->start();
            });
    Session::Config config = Responder::configured(transportConfig(command), m_readyWatch.get());
    config.ends.localAddress = command.local;
    config.ends.localPort = command.port;
    config.socket.tos = command.tos;
    if (!session.CheckEnds(config))
        return false;
    serving->responder->open(config);
    // A socket that could not be opened has said why.
    if (GroupOf(session.state()) == StateGroup::Idle)
        return false;
    m_serving.push_back(std::move(serving));
    return true;
}

// A failure closed a responder's port: open it again, so that it stays up.
void HeadlessRun::servingDown(Serving &serving)
{
    const Session &session = serving.responder->session();
    if (m_ended || GroupOf(session.state()) != StateGroup::Idle)
        return;
    serving.responder->reopen();
    if (session.state() != SocketState::Listening && session.state() != SocketState::Open) {
        m_ended = true;
        emit finished(2);
    }
}

void HeadlessRun::reload()
{
    emit reloading();
    const QString file = m_command.configFile;
    const QString config = QStringLiteral("Config");
    if (file.isEmpty()) {
        m_lines.addLine(LineKind::Probe, config,
                        QStringLiteral("No configuration file to read again (--config): "
                                       "nothing changes")
                            + CRLF);
        emit reloaded(true);
        return;
    }
    ServicePlan plan;
    if (m_ended || !makePlan(&plan)) {
        m_lines.AddComplaint(config, m_ended ? QStringLiteral("The run has ended: %1 is not "
                                                              "read again")
                                                   .arg(file)
                                             : QStringLiteral("The configuration stays as it "
                                                              "was: %1 has faults")
                                                       .arg(file)
                                                   + CRLF);
        emit reloaded(false);
        return;
    }
    // The metrics endpoint first, at a new address or locked anew (its web
    // configuration read again: a renewed certificate is taken); one that
    // cannot be served keeps the old.
    WebConfig web;
    QString why;
    const bool moved = plan.metrics != m_command.metrics;
    if (moved || plan.webConfig != m_command.webConfig
        || (!plan.webConfig.isEmpty()
            && !(ReadWebConfig(plan.webConfig, &web, &why) && web == m_web))) {
        // At the same address the old one gives its port up: not for a
        // web configuration that cannot be read.
        if (!moved && !plan.webConfig.isEmpty() && !ReadWebConfig(plan.webConfig, &web, &why)) {
            m_lines.AddComplaint(QStringLiteral("** Metrics Error"),
                                 why + QStringLiteral(": still at %1").arg(m_command.metrics)
                                     + CRLF);
            emit reloaded(false);
            return;
        }
        const Command old = m_command;
        m_command.metrics = plan.metrics;
        m_command.webConfig = plan.webConfig;
        std::unique_ptr<MetricsEndpoint> serving = std::move(m_metrics);
        if (!moved)
            serving.reset(); // its port, for the new one
        if (!serveMetrics(&why)) {
            m_lines.AddComplaint(QStringLiteral("** Metrics Error"),
                                 why + QStringLiteral(": still at %1").arg(old.metrics) + CRLF);
            m_command.metrics = old.metrics;
            m_command.webConfig = old.webConfig;
            if (serving)
                m_metrics = std::move(serving);
            else
                serveMetrics(&why);
        }
    }
    if (probing())
        applyTargets(plan);
    else
        applyResponders(plan);
    emit reloaded(true);
}

// The targets of plan: the same name and settings go on as they were.
void HeadlessRun::applyTargets(const ServicePlan &plan)
{
    std::vector<std::unique_ptr<Running>> old = std::move(m_running);
    m_running.clear();
    QList<Running *> started;
    const qint64 origin = MonotonicUs();
    const int groups = std::clamp(int(plan.targets.size()) / TargetsPerSlot, 1,
                                  std::max(1, m_command.intervalMs / 10));
    for (const PlannedTarget &planned : plan.targets) {
        const auto same = std::find_if(old.begin(), old.end(), [&](const auto &running) {
            return running && running->planned.entry.sameAs(planned.entry);
        });
        if (same != old.end()) {
            m_running.push_back(std::move(*same));
            continue;
        }
        addTarget(planned, groups, origin);
        started.append(m_running.back().get());
    }
    int stopped = 0;
    for (auto &running : old) {
        if (!running)
            continue;
        ++stopped;
        disconnect(running->target.get(), nullptr, this, nullptr);
        running->target->stop();
        summarize(*running);
        running.reset();
    }
    for (Running *running : std::as_const(started))
        running->target->start();
    // A line the terminal shows whatever else it leaves out.
    m_lines.addLine(LineKind::Probe, QStringLiteral("Config"),
                    QStringLiteral("%1 read again: %2 targets kept, %3 started, %4 stopped")
                            .arg(m_command.configFile)
                            .arg(m_running.size() - size_t(started.size()))
                            .arg(started.size())
                            .arg(stopped)
                        + CRLF);
}

// The ports of plan: the same protocol, port and address keep their socket.
void HeadlessRun::applyResponders(const ServicePlan &plan)
{
    std::vector<std::unique_ptr<Serving>> old = std::move(m_serving);
    m_serving.clear();
    int opened = 0, failed = 0, closed = 0, relimited = 0;
    QList<const PlannedResponder *> fresh;
    for (const PlannedResponder &planned : plan.responders) {
        const auto same = std::find_if(old.begin(), old.end(), [&](const auto &serving) {
            return serving && serving->planned.entry.sameAs(planned.entry);
        });
        if (same != old.end()) {
            // Only whom it answers, and how much: the socket stays.
            Serving &kept = **same;
            if (!(kept.planned.command.limits == planned.command.limits)) {
                ++relimited;
                if (kept.stamp)
                    kept.stamp->setLimits(planned.command.limits);
                else
                    kept.responder->setLimits(planned.command.limits);
                kept.planned = planned;
            }
            m_serving.push_back(std::move(*same));
        } else
            fresh.append(&planned);
    }
    // The ports given up first, so that one moved to another address can open.
    for (auto &serving : old)
        if (serving) {
            ++closed;
            serving->close(this);
            serving.reset();
        }
    for (const PlannedResponder *planned : std::as_const(fresh))
        ++(openServing(*planned) ? opened : failed);
    m_lines.addLine(
        LineKind::Probe, QStringLiteral("Config"),
        QStringLiteral("%1 read again: %2 ports kept%3, %4 opened, %5 closed%6")
                .arg(m_command.configFile)
                .arg(m_serving.size() - size_t(opened))
                .arg(relimited ? QStringLiteral(" (%1 with new limits)").arg(relimited) : QString())
                .arg(opened)
                .arg(closed)
                .arg(failed ? QStringLiteral(", %1 could not be opened").arg(failed) : QString())
            + CRLF);
}

void HeadlessRun::targetDone()
{
    if (std::all_of(m_running.begin(), m_running.end(),
                    [](const auto &running) { return running->target->isDone(); }))
        end();
}

// The worst of the targets': 2 over 1 over 0.
int HeadlessRun::status() const
{
    int worst = 0;
    for (const auto &running : m_running)
        worst = std::max(worst, running->target->status());
    return worst;
}

void HeadlessRun::stop()
{
    if (!probing()) {
        m_ended = true;
        for (const auto &serving : m_serving)
            serving->close(this);
        emit finished(0);
        return;
    }
    end();
    // With a metrics endpoint the end does not finish the run: this does.
    if (m_metrics)
        emit finished(m_status);
}

// To the terminal (unless it gets JSON) and to the log, a record a line.
void HeadlessRun::summarize(const Running &running)
{
    const ProbeTarget &target = *running.target;
    QString summary = QStringLiteral("--- ") + target.name()
                      + QStringLiteral(" AutoPing statistics ---\n")
                      + target.figures().pingSummary();
    if (const StampFigures *stamp = target.stampFigures())
        for (const QString &line : stamp->summaryLines())
            summary += QStringLiteral("\n") + line;
    if (const QueryClock::Use *use = target.datagramStamps(); use && use->answered > 0)
        summary += QStringLiteral("\n") + SystemStampsLine(*use);
    for (const QString &line : summary.split(u'\n'))
        running.named->addLine(LineKind::Summary, QStringLiteral("AutoPing"), line + CRLF);
    if (m_jsonStream) {
        const StampFigures *stamp = target.stampFigures();
        m_jsonStream->tellSummary({target.name(), &target.figures(), running.lines->errors(),
                                   stamp ? stamp->json() : QJsonObject()});
    }
}

void HeadlessRun::end()
{
    if (m_ended)
        return;
    m_ended = true;
    for (const auto &running : m_running)
        running->target->stop();
    const int exitStatus = status();
    // The stream's last minute is the part of one up to the end.
    if (m_jsonStream)
        m_jsonStream->tellMinute();
    QList<TargetSummary> summaries;
    quint64 sent = 0, received = 0, lost = 0;
    for (const auto &running : m_running) {
        const ProbeTarget &target = *running->target;
        const ProbeFigures &figures = target.figures();
        const StampFigures *stamp = target.stampFigures();
        summaries.append({target.name(), &figures, running->lines->errors(),
                          stamp ? stamp->json() : QJsonObject()});
        summarize(*running);
        sent += figures.sent();
        received += figures.answered() + figures.late();
        lost += figures.lost();
    }
    if (m_running.size() > 1)
        m_lines.addLine(LineKind::Summary, QStringLiteral("AutoPing"),
                        QStringLiteral("--- total: %1 targets, %2 packets transmitted, %3 "
                                       "received, %4 lost")
                                .arg(m_running.size())
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
