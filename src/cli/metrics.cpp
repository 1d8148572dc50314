// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "metrics.h"

#include "autoping/pingstats.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>

namespace {

// A label value as the text format wants it.
QString quoted(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'"', QStringLiteral("\\\""))
        .replace(u'\n', QStringLiteral("\\n"));
    return u'"' + value + u'"';
}

void family(QString &page, const QString &name, const char *type, const char *help)
{
    page += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                .arg(name, QLatin1String(help), QLatin1String(type));
}

} // namespace

QString ProbeMetrics(const QList<ProbeFigures> &targets)
{
    QString page;
    const struct
    {
        const char *name;
        const char *help;
        int (PingStats::*count)() const;
    } counters[] = {
        {"selmarin_probe_queries_total", "AutoPing queries sent to the target.", &PingStats::sent},
        {"selmarin_probe_answered_total", "Queries answered in time.", &PingStats::answered},
        {"selmarin_probe_late_total", "Queries answered late.", &PingStats::late},
        {"selmarin_probe_lost_total",
         "Queries not answered within the timeout (some may be answered late afterwards).",
         &PingStats::timedOut},
    };
    for (const auto &counter : counters) {
        family(page, QLatin1String(counter.name), "counter", counter.help);
        for (const ProbeFigures &target : targets)
            page += QStringLiteral("%1{target=%2} %3\n")
                        .arg(QLatin1String(counter.name), quoted(target.target))
                        .arg((target.stats->*counter.count)());
    }
    const QString rtt = QStringLiteral("selmarin_probe_rtt_seconds");
    family(page, rtt, "histogram", "Round trips of the answered queries.");
    for (const ProbeFigures &target : targets) {
        const PingStats &stats = *target.stats;
        quint64 below = 0;
        for (size_t i = 0; i <= PingStats::BucketUs.size(); ++i) {
            below += stats.rttBuckets()[i];
            const QString le = i < PingStats::BucketUs.size()
                                   ? QString::number(PingStats::BucketUs[i] / 1e6, 'g', 6)
                                   : QStringLiteral("+Inf");
            page += QStringLiteral("%1_bucket{target=%2,le=\"%3\"} %4\n")
                        .arg(rtt, quoted(target.target), le)
                        .arg(below);
        }
        page += QStringLiteral("%1_sum{target=%2} %3\n%1_count{target=%2} %4\n")
                    .arg(rtt, quoted(target.target))
                    .arg(QString::number(stats.rttSumUs() / 1e6, 'g', 12))
                    .arg(stats.answered());
    }
    family(page, QStringLiteral("selmarin_probe_up"), "gauge",
           "1 when the target's last judged query was answered, else 0.");
    for (const ProbeFigures &target : targets) {
        const auto last = target.stats->lastOutcome();
        page += QStringLiteral("selmarin_probe_up{target=%1} %2\n")
                    .arg(quoted(target.target))
                    .arg(last && *last != PingStats::Outcome::Lost ? 1 : 0);
    }
    return page;
}

QString ResponderMetrics(const QString &port, quint64 answered, quint64 dropped)
{
    QString page;
    family(page, QStringLiteral("selmarin_responder_answered_total"), "counter",
           "AutoPing queries answered.");
    page += QStringLiteral("selmarin_responder_answered_total{port=%1} %2\n")
                .arg(quoted(port))
                .arg(answered);
    family(page, QStringLiteral("selmarin_responder_datagrams_dropped_total"), "counter",
           "Datagrams that arrived and were dropped: the queue was full.");
    page += QStringLiteral("selmarin_responder_datagrams_dropped_total{port=%1} %2\n")
                .arg(quoted(port))
                .arg(dropped);
    return page;
}

MetricsEndpoint::MetricsEndpoint(std::function<QString()> page, QObject *parent)
    : QObject(parent), m_page(std::move(page))
{}

MetricsEndpoint::~MetricsEndpoint() = default;

QHostAddress MetricsAddress(const QString &where, quint16 *port)
{
    const qsizetype colon = where.lastIndexOf(u':');
    QString host = where.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    bool numeric = false;
    const uint number = where.mid(colon + 1).toUInt(&numeric);
    QHostAddress address;
    if (colon < 0 || !numeric || number == 0 || number > 65535 || !address.setAddress(host))
        return QHostAddress();
    *port = quint16(number);
    return address;
}

bool IsMetricsAddress(const QString &where)
{
    quint16 port = 0;
    return !MetricsAddress(where, &port).isNull();
}

bool MetricsEndpoint::listen(const QString &where, QString *why)
{
    quint16 port = 0;
    const QHostAddress address = MetricsAddress(where, &port);
    m_server = std::make_unique<QHttpServer>();
    m_server->route(QStringLiteral("/metrics"), [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                   m_page().toUtf8());
    });
    if (m_server->listen(address, port) == 0) {
        *why = QStringLiteral("The metrics endpoint cannot listen on %1").arg(where);
        return false;
    }
    return true;
}
