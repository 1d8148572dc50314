// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadrun.h"

#include "base/clock.h"
#include "base/hostport.h"
#include "base/msgsink.h"
#include "base/numbertext.h"
#include "peers/loadpath.h"
#include "terminalface.h"
#include "wording/loadlines.h"
#include "wording/sessionlines.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

const QString Speaker = QStringLiteral("Load");
const QString ErrorSpeakerText = QStringLiteral("Load Error");

// The complaints of the run, kept for the JSON's errors, on their way to
// the transcript.
class KeptComplaints final : public MsgSink
{
public:
    KeptComplaints(MsgSink &lines, QStringList &errors) : m_lines(lines), m_errors(errors) {}
    void addLine(LineKind kind, const QString &speaker, const QString &sentence) override
    {
        if (kind == LineKind::Complaint && m_errors.size() < 32)
            m_errors.append((speaker + QStringLiteral(": ") + sentence).simplified());
        m_lines.addLine(kind, speaker, sentence);
    }
    void ClearMsgsBox() override { m_lines.ClearMsgsBox(); }

private:
    MsgSink &m_lines;
    QStringList &m_errors;
};

QJsonValue ms(qint64 ns)
{
    return double(ns) / 1e6;
}

// The far end's count of the whole run, as the JSON's top level has it.
QJsonObject tallyJson(const LoadTally &t)
{
    return {
        {QStringLiteral("sent"), qint64(t.expected)},
        {QStringLiteral("received"), qint64(t.received)},
        {QStringLiteral("lost"), qint64(t.lost())},
        {QStringLiteral("loss_percent"), t.lossPercent()},
        {QStringLiteral("out_of_order"), qint64(t.outOfOrder)},
        {QStringLiteral("duplicates"), qint64(t.duplicates)},
        {QStringLiteral("jitter_ms"), ms(t.jitterNs)},
        {QStringLiteral("goodput_bps"), qint64(t.goodputBps)},
        {QStringLiteral("bytes"), qint64(t.bytes)},
        {QStringLiteral("delay_variation_ms"),
         QJsonObject{{QStringLiteral("mean"), ms(t.delayVarAvgNs)},
                     {QStringLiteral("max"), ms(t.delayVarMaxNs)}}},
        {QStringLiteral("warm_up_received"), qint64(t.warmUp)},
        {QStringLiteral("seconds"), double(t.elapsedUs) / 1e6},
    };
}

// What the command asks of the path.
LoadPath::Setup setupOf(const Command &command)
{
    LoadPath::Setup setup;
    setup.host = command.host;
    setup.port = command.port;
    setup.config.transport = command.tls   ? Session::Transport::Tls
                             : command.tcp ? Session::Transport::Tcp
                                           : Session::Transport::Udp;
    setup.config.tls
        = {command.insecure, command.cacert, command.cert, command.key, command.folder};
    setup.config.source = command.source;
    setup.config.socket.family = command.family;
    setup.size = command.loadSize;
    setup.perSecond
        = LoadRate{command.loadRate, command.loadRateBits}.piecesPerSecond(command.loadSize);
    setup.burst = command.loadBurst;
    setup.count = quint64(std::max(0, command.count));
    setup.durationUs = qint64(command.loadTimeMs) * 1000;
    setup.warmUpUs = qint64(command.loadWarmUpMs) * 1000;
    return setup;
}

} // namespace

LoadRun::LoadRun(const Command &command, const NameTables &tables, const AddressRules &rules,
                 MsgSink &lines, TerminalFace &face, QTextStream &out)
    : m_command(command), m_lines(lines, HostAndPort(command.host, command.port)), m_out(out)
{
    face.show(command.json    ? TerminalFace::Shown::Complaints
              : command.quiet ? TerminalFace::Shown::Quiet
                              : TerminalFace::Shown::NoData);
    m_path = std::make_unique<LoadPath>(setupOf(command), tables, rules);
    m_kept = std::make_unique<KeptComplaints>(m_lines, m_errors);
    m_sessionLines = std::make_unique<SessionLines>(m_path->session(), tables, *m_kept);

    m_second.setInterval(1000);
    m_second.setTimerType(Qt::PreciseTimer);
    connect(&m_second, &QTimer::timeout, this, [this] { onSecond(); });
    m_late.setSingleShot(true);
    connect(&m_late, &QTimer::timeout, this, [this] {
        while (!m_pending.isEmpty())
            tellSecond(false);
    });
    connect(m_path.get(), &LoadPath::doneSending, this, [this] {
        m_second.stop();
        if (m_startedUs >= 0 && m_path->sent().pieces > m_lastPieces)
            onSecond(true);
    });
    connect(m_path.get(), &LoadPath::sending, this, [this](qint64 atUs) {
        m_startedUs = atUs;
        m_lastSecondUs = atUs;
        m_second.start();
        say(sendingLine());
    });
    connect(m_path.get(), &LoadPath::reported, this, &LoadRun::onReport);
    connect(m_path.get(), &LoadPath::refused, this, [this] {
        m_kept->AddComplaint(ErrorSpeakerText,
                             QStringLiteral("The datagrams to %1 find no one listening there (port "
                                            "unreachable)")
                                     .arg(m_path->peerName())
                                 + CRLF);
    });
    connect(m_path.get(), &LoadPath::failed, this, [this](const QString &why) {
        m_failed = true;
        m_kept->AddComplaint(ErrorSpeakerText,
                             m_path->peerName() + QStringLiteral(": ") + why + CRLF);
    });
    connect(m_path.get(), &LoadPath::finished, this, &LoadRun::onFinished);
}

// "sending to 10.0.0.1:7010: datagrams of 1400 bytes, 1000 a second (11.2
// Mbit/s), for 10 s (id 1a2b3c4d)"
QString LoadRun::sendingLine() const
{
    const double perSecond
        = LoadRate{m_command.loadRate, m_command.loadRateBits}.piecesPerSecond(m_command.loadSize);
    return QStringLiteral("sending to %1: %2 of %3 bytes, %4, for %5 (id %6)")
        .arg(m_path->peerName(), unit(), QString::number(m_command.loadSize),
             m_command.loadRate > 0 ? QStringLiteral("%1 a second (%2)")
                                          .arg(QString::number(perSecond, 'g', 6),
                                               BitRateText(perSecond * 8.0 * m_command.loadSize))
                                    : QStringLiteral("as fast as the path takes them"),
             m_command.count > 0 ? QString::number(m_command.count) + u' ' + unit()
                                 : QString::number(m_command.loadTimeMs / 1000.0) + " s")
        .arg(m_path->id(), 8, 16, QChar(u'0'));
}

// The far end's report of a second (or its final count).
void LoadRun::onReport(const LoadTally &tally, bool final)
{
    ++m_reports;
    m_latest = std::make_unique<LoadTally>(tally);
    if (final)
        m_final = std::make_unique<LoadTally>(tally);
    // The far end's second: the line of the sender's same second.
    if (!m_pending.isEmpty()) {
        tellSecond(true);
        if (m_pending.isEmpty())
            m_late.stop();
    } else if (!final) {
        m_unclaimedUs = MonotonicUs();
    }
}

LoadRun::~LoadRun() = default;

QString LoadRun::unit() const
{
    return m_command.tcp ? QStringLiteral("pieces") : QStringLiteral("datagrams");
}

void LoadRun::say(const QString &line)
{
    m_lines.addLine(LineKind::Probe, Speaker, line + CRLF);
}

int LoadRun::start()
{
    if (!m_path->start()) {
        m_failed = true;
        onFinished(false);
        return status();
    }
    return -1;
}

void LoadRun::stop()
{
    m_path->stop();
}

void LoadRun::onSecond(bool partial)
{
    const LoadPath::Sent &sent = m_path->sent();
    const qint64 now = MonotonicUs();
    Second second{++m_seconds, sent.pieces - m_lastPieces, sent.bytes - m_lastBytes, 1};
    // The far end reports a second after its first piece, when a piece
    // ends: over a stream, once a piece was acknowledged a second after the
    // first one, a report is owed (on a slow path a piece takes seconds).
    if (m_firstAckedUs < 0 && sent.pieces > 0)
        m_firstAckedUs = now;
    else if (m_firstAckedUs >= 0 && sent.pieces > m_lastPieces && now - m_firstAckedUs >= 1'000'000)
        m_reportOwed = true;
    if (partial)
        second.seconds = double(std::max<qint64>(now - m_lastSecondUs, 1)) / 1e6;
    m_lastSecondUs = partial ? now : m_lastSecondUs + 1'000'000;
    m_lastPieces = sent.pieces;
    m_lastBytes = sent.bytes;
    m_pending.append(second);
    // The far end's report of this second came a moment before its end
    // here (the two clocks' seconds are not the same).
    if (m_unclaimedUs >= 0 && now - m_unclaimedUs < LateMs * 1000 && m_pending.size() == 1) {
        m_unclaimedUs = -1;
        tellSecond(true);
        return;
    }
    m_unclaimedUs = -1;
    if (!m_late.isActive())
        m_late.start(LateMs);
}

void LoadRun::tellSecond(bool withReport)
{
    if (m_pending.isEmpty())
        return;
    const Second second = m_pending.takeFirst();
    QString line
        = QStringLiteral("second %1%2: sent %3 (%4)")
              .arg(second.number)
              .arg(second.seconds < 0.995 ? QStringLiteral(" (%1 s)").arg(second.seconds, 0, 'f', 2)
                                          : QString())
              .arg(second.pieces)
              .arg(BitRateText(double(second.bytes) * 8 / second.seconds));
    QJsonObject json{
        {QStringLiteral("second"), second.number},
        {QStringLiteral("seconds"), second.seconds},
        {QStringLiteral("sent"), qint64(second.pieces)},
        {QStringLiteral("sent_bps"), qint64(double(second.bytes) * 8 / second.seconds)}};
    if (withReport && m_latest) {
        line += QStringLiteral("; far end: ") + LoadIntervalText(*m_latest, m_command.tcp);
        const LoadTally &t = *m_latest;
        json.insert(QStringLiteral("far_end"),
                    QJsonObject{{QStringLiteral("received"), qint64(t.intervalReceived)},
                                {QStringLiteral("lost"), t.intervalLost},
                                {QStringLiteral("out_of_order"), qint64(t.outOfOrder)},
                                {QStringLiteral("duplicates"), qint64(t.duplicates)},
                                {QStringLiteral("jitter_ms"), ms(t.jitterNs)},
                                {QStringLiteral("goodput_bps"),
                                 t.intervalUs > 0
                                     ? qint64(double(t.intervalBytes) * 8e6 / double(t.intervalUs))
                                     : 0}});
    } else {
        line += QStringLiteral("; far end: no report");
        if (m_reports == 0 && (m_command.tcp ? m_reportOwed : second.number >= 2)
            && !m_silenceTold) {
            m_silenceTold = true;
            m_kept->AddComplaint(ErrorSpeakerText,
                                 QStringLiteral("%1 sends no count: only `selmarin respond` "
                                                "counts a load (a window in server mode shows "
                                                "what arrives)")
                                         .arg(m_path->peerName())
                                     + CRLF);
        }
    }
    m_secondsJson.append(json);
    say(line);
}

int LoadRun::status() const
{
    if (m_failed)
        return 2;
    if (!m_final)
        return 1;
    return m_final->lost() == 0 ? 0 : 1;
}

void LoadRun::onFinished(bool)
{
    m_second.stop();
    m_late.stop();
    while (!m_pending.isEmpty())
        tellSecond(false);
    const LoadPath::Sent &sent = m_path->sent();
    const qint64 spanUs
        = sent.startedUs >= 0 && sent.endedUs > sent.startedUs ? sent.endedUs - sent.startedUs : 0;
    // The sender's rate over its sending time: a stream's bytes flow from
    // the first piece to the last one's acknowledgement; paced datagrams
    // get one piece's interval added (n pieces at a rate take (n - 1)
    // intervals).
    const double seconds
        = spanUs > 0 && m_command.tcp ? double(spanUs) / 1e6
          : spanUs > 0 && sent.pieces > 1
              ? double(spanUs) / 1e6 * double(sent.pieces) / double(sent.pieces - 1)
              : 0;
    const double sentBps = seconds > 0 ? double(sent.bytes) * 8 / seconds : 0;
    const int exitStatus = status();

    QString sender = QStringLiteral("sent: %1 %2 of %3 bytes in %4 s, %5")
                         .arg(sent.pieces)
                         .arg(unit())
                         .arg(m_command.loadSize)
                         .arg(QString::number(seconds, 'f', 2), BitRateText(sentBps));
    if (sent.warmUp > 0)
        sender += QStringLiteral(", after %1 of warm-up").arg(sent.warmUp);
    if (sent.failures > 0)
        sender += QStringLiteral(", %1 refused by the system").arg(sent.failures);
    if (!m_command.tcp)
        sender += QStringLiteral(", pace lag max %1").arg(Milliseconds(double(sent.lagMaxUs), 3));
    if (sent.retransmits >= 0)
        sender += QStringLiteral(", %1 retransmissions").arg(sent.retransmits);
    const QString farEnd
        = m_final
              ? QStringLiteral("far end: ") + LoadWholeText(*m_final, true, m_command.tcp)
              : QStringLiteral("far end: no count came (only `selmarin respond` counts a load)");
    for (const QString &line :
         {QStringLiteral("--- %1 load statistics ---").arg(m_path->peerName()), sender, farEnd})
        m_lines.addLine(LineKind::Summary, Speaker, line + CRLF);

    if (m_command.json) {
        QJsonObject document{
            {QStringLiteral("target"), m_path->peerName()},
            {QStringLiteral("protocol"), m_command.tls   ? QStringLiteral("tls")
                                         : m_command.tcp ? QStringLiteral("tcp")
                                                         : QStringLiteral("udp")},
            {QStringLiteral("size"), m_command.loadSize},
            {QStringLiteral("rate_per_second"),
             LoadRate{m_command.loadRate, m_command.loadRateBits}.piecesPerSecond(
                 m_command.loadSize)},
            {QStringLiteral("burst"), m_command.loadBurst},
        };
        const QJsonObject whole = m_final ? tallyJson(*m_final) : QJsonObject();
        for (const char *key : {"sent", "received", "lost", "loss_percent", "out_of_order",
                                "duplicates", "jitter_ms", "goodput_bps", "delay_variation_ms"})
            document.insert(QLatin1String(key),
                            m_final ? whole.value(QLatin1String(key)) : QJsonValue());
        document.insert(QStringLiteral("far_end"), m_final ? QJsonValue(whole) : QJsonValue());
        QJsonObject senderJson{{QStringLiteral("sent"), qint64(sent.pieces)},
                               {QStringLiteral("bytes"), qint64(sent.bytes)},
                               {QStringLiteral("warm_up"), qint64(sent.warmUp)},
                               {QStringLiteral("refused_by_system"), qint64(sent.failures)},
                               {QStringLiteral("seconds"), seconds},
                               {QStringLiteral("rate_bps"), qint64(sentBps)},
                               {QStringLiteral("pace_lag_max_ms"), ms(sent.lagMaxUs * 1000)}};
        senderJson.insert(QStringLiteral("retransmissions"),
                          sent.retransmits >= 0 ? QJsonValue(qint64(sent.retransmits))
                                                : QJsonValue());
        document.insert(QStringLiteral("sender"), senderJson);
        document.insert(QStringLiteral("seconds"), m_secondsJson);
        document.insert(QStringLiteral("errors"), QJsonArray::fromStringList(m_errors));
        document.insert(QStringLiteral("exit_status"), exitStatus);
        m_out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        m_out.flush();
    }
    emit finished(exitStatus);
}
