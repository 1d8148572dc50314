// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "metricspage.h"

#include "probe/probefigures.h"
#include "stamp/stampfigures.h"

#include <utility>

namespace {

// A label value as the text format wants it.
QString quoted(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'"', QStringLiteral("\\\""))
        .replace(u'\n', QStringLiteral("\\n"));
    return u'"' + value + u'"';
}

// A target's labels: its name, then its own.
QString labelsOf(const TargetFigures &target)
{
    QString labels = QStringLiteral("target=") + quoted(target.target);
    for (const auto &[name, value] : target.labels)
        labels += u',' + name + u'=' + quoted(value);
    return labels;
}

void family(QString &page, const QString &name, const char *type, const char *help)
{
    page += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                .arg(name, QLatin1String(help), QLatin1String(type));
}

QString seconds(double us)
{
    return QString::number(us / 1e6, 'g', 12);
}

// The families that count, one figure a target each.
const struct
{
    const char *name;
    const char *type;
    const char *help;
    quint64 (ProbeFigures::*count)() const;
} Counts[] = {
    {"selmarin_probe_queries_total", "counter", "AutoPing queries due to the target, sent or not.",
     &ProbeFigures::queries},
    {"selmarin_probe_answered_total", "counter", "Queries answered in time.",
     &ProbeFigures::answered},
    {"selmarin_probe_late_total", "counter", "Queries answered after the timeout.",
     &ProbeFigures::late},
    {"selmarin_probe_lost_total", "counter",
     "Queries not answered at all, or not sent (the target could not be reached).",
     &ProbeFigures::lost},
    {"selmarin_probe_in_flight", "gauge", "Queries sent and neither answered nor lost yet.",
     &ProbeFigures::inFlight},
    {"selmarin_probe_stray_answers_total", "counter",
     "Answers that came while no query waited (duplicates, echoes).", &ProbeFigures::strays},
    {"selmarin_probe_foreign_datagrams_total", "counter",
     "Datagrams from anyone but the target, and answers without its token, ignored.",
     &ProbeFigures::foreign},
};

// The families of timed steps: how many and their sum.
const struct
{
    const char *name;
    const char *help;
    const ProbeFigures::Times &(ProbeFigures::*times)() const;
} Summaries[] = {
    {"selmarin_probe_connect_seconds", "Connections made to the target, and their time.",
     &ProbeFigures::connectTimes},
    {"selmarin_probe_tls_handshake_seconds", "TLS handshakes done, and their time.",
     &ProbeFigures::handshakeTimes},
};

void addCounts(QString &page, const QList<TargetFigures> &targets)
{
    for (const auto &count : Counts) {
        family(page, QLatin1String(count.name), count.type, count.help);
        for (const TargetFigures &target : targets)
            page += QStringLiteral("%1{%2} %3\n")
                        .arg(QLatin1String(count.name), labelsOf(target))
                        .arg((target.figures->*count.count)());
    }
}

void addFailures(QString &page, const QList<TargetFigures> &targets)
{
    const QString failures = QStringLiteral("selmarin_probe_failed_attempts_total");
    family(page, failures, "counter", "Queries lost for a known reason, by the reason.");
    for (const TargetFigures &target : targets) {
        const auto &byReason = target.figures->failures();
        for (auto it = byReason.cbegin(); it != byReason.cend(); ++it)
            page += QStringLiteral("%1{%2,reason=%3} %4\n")
                        .arg(failures, labelsOf(target), quoted(it.key()))
                        .arg(it.value());
    }
}

// One series of a histogram: its buckets counted up to each bound, its
// sum and count; labels: the series' own (labelsOf).
void addHistogram(QString &page, const QString &name, const QString &labels,
                  const ProbeFigures::Buckets &buckets, double sumUs, quint64 count)
{
    quint64 below = 0;
    for (size_t i = 0; i <= ProbeFigures::BucketUs.size(); ++i) {
        below += buckets[i];
        const QString le = i < ProbeFigures::BucketUs.size()
                               ? QString::number(ProbeFigures::BucketUs[i] / 1e6, 'g', 6)
                               : QStringLiteral("+Inf");
        page += QStringLiteral("%1_bucket{%2,le=\"%3\"} %4\n").arg(name, labels, le).arg(below);
    }
    page += QStringLiteral("%1_sum{%2} %3\n%1_count{%2} %4\n")
                .arg(name, labels, seconds(sumUs))
                .arg(count);
}

void addRoundTrips(QString &page, const QList<TargetFigures> &targets)
{
    const QString rtt = QStringLiteral("selmarin_probe_rtt_seconds");
    family(page, rtt, "histogram", "Round trips of the answered queries.");
    for (const TargetFigures &target : targets) {
        const ProbeFigures &figures = *target.figures;
        addHistogram(page, rtt, labelsOf(target), figures.rttBuckets(), double(figures.rttSumUs()),
                     figures.answered());
    }
}

void addSummaries(QString &page, const QList<TargetFigures> &targets)
{
    for (const auto &summary : Summaries) {
        const QString name = QLatin1String(summary.name);
        family(page, name, "summary", summary.help);
        for (const TargetFigures &target : targets) {
            const ProbeFigures::Times &times = (target.figures->*summary.times)();
            page += QStringLiteral("%1_sum{%2} %3\n%1_count{%2} %4\n")
                        .arg(name, labelsOf(target), seconds(double(times.sumUs)))
                        .arg(times.count);
        }
    }
}

// A reflector's targets: the loss of each direction, as its numbers tell.
void addStampLoss(QString &page, const QList<TargetFigures> &targets)
{
    const QString lost = QStringLiteral("selmarin_stamp_lost_total");
    bool said = false;
    for (const TargetFigures &target : targets) {
        if (!target.stamp)
            continue;
        if (!std::exchange(said, true))
            family(page, lost, "counter",
                   "Test packets lost, by the direction the reflector's own numbers tell.");
        const StampFigures::Loss loss = target.stamp->loss();
        page += QStringLiteral("%1{%2,direction=\"forward\"} %3\n"
                               "%1{%2,direction=\"backward\"} %4\n")
                    .arg(lost, labelsOf(target))
                    .arg(loss.forward)
                    .arg(loss.backward);
    }
}

// A reflector's targets: the delay of each direction, from the answers
// whose one-way delays are valid (both clocks synchronized).
void addStampDelays(QString &page, const QList<TargetFigures> &targets)
{
    const QString delay = QStringLiteral("selmarin_stamp_delay_seconds");
    bool said = false;
    for (const TargetFigures &target : targets) {
        if (!target.stamp)
            continue;
        if (!std::exchange(said, true))
            family(page, delay, "histogram",
                   "One-way delays of the answered test packets, by direction, when both ends' "
                   "clocks are synchronized.");
        for (const auto &[direction, spread] : {std::pair{"forward", &target.stamp->forward()},
                                                {"backward", &target.stamp->backward()}})
            addHistogram(page, delay,
                         QStringLiteral("%1,direction=\"%2\"")
                             .arg(labelsOf(target), QLatin1String(direction)),
                         spread->buckets, double(spread->sumNs) / 1000.0, spread->count);
    }
}

} // namespace

QString ProbeMetrics(const QList<TargetFigures> &targets)
{
    QString page;
    addCounts(page, targets);
    addFailures(page, targets);
    addRoundTrips(page, targets);
    addSummaries(page, targets);
    addStampLoss(page, targets);
    addStampDelays(page, targets);
    family(page, QStringLiteral("selmarin_probe_up"), "gauge",
           "1 when the newest query whose timeout passed had its answer, else 0.");
    for (const TargetFigures &target : targets)
        page += QStringLiteral("selmarin_probe_up{%1} %2\n")
                    .arg(labelsOf(target))
                    .arg(target.figures->up() ? 1 : 0);
    return page;
}

QString ResponderMetrics(const QList<ResponderFigures> &ports)
{
    QString page;
    const auto series = [&](const char *name, const char *help, quint64 ResponderFigures::*value) {
        family(page, QLatin1String(name), "counter", help);
        for (const ResponderFigures &port : ports)
            page += QStringLiteral("%1{port=%2,protocol=%3} %4\n")
                        .arg(QLatin1String(name), quoted(QString::number(port.port)),
                             quoted(port.protocol))
                        .arg(port.*value);
    };
    series("selmarin_responder_answered_total", "AutoPing queries answered.",
           &ResponderFigures::answered);
    series("selmarin_responder_datagrams_dropped_total",
           "Datagrams that arrived and were dropped: the queue was full.",
           &ResponderFigures::dropped);
    return page;
}

QString CertExpiryMetrics(const QList<CertExpiry> &certificates)
{
    QString page;
    if (certificates.isEmpty())
        return page;
    family(page, QStringLiteral("selmarin_tls_cert_expiry_seconds"), "gauge",
           "When a TLS endpoint's own certificate expires, in Unix seconds.");
    for (const CertExpiry &one : certificates)
        page += QStringLiteral("selmarin_tls_cert_expiry_seconds{endpoint=%1,port=%2,file=%3} %4\n")
                    .arg(quoted(one.endpoint), quoted(QString::number(one.port)), quoted(one.file))
                    .arg(one.expiry);
    return page;
}
