// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The figures of a run for a metrics scraper (--metrics ADDRESS:PORT): an
// HTTP endpoint, served by Qt's HTTP server on exactly the address and port
// given, whose page /metrics holds them in the Prometheus text format.
//
// A probe's page, one series per target (label target="HOST:PORT"):
//   selmarin_probe_queries_total         queries sent        (counter)
//   selmarin_probe_answered_total        answered in time    (counter)
//   selmarin_probe_late_total            answered late       (counter)
//   selmarin_probe_lost_total            not answered within the timeout
//                                        (counter: a late answer afterwards
//                                        adds to late_total, takes nothing off)
//   selmarin_probe_rtt_seconds           round trips of the answered ones (histogram)
//   selmarin_probe_up                    1 when the target's last judged query
//                                        was answered (in time or late), else 0
// A responder's page (label port="PORT"):
//   selmarin_responder_answered_total            queries answered
//   selmarin_responder_datagrams_dropped_total   datagrams it had to drop

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class PingStats;
class QHostAddress;
class QHttpServer;

struct ProbeFigures
{
    QString target;
    const PingStats *stats = nullptr;
};

// The page of a probe's targets, and of a responder.
QString ProbeMetrics(const QList<ProbeFigures> &targets);
QString ResponderMetrics(const QString &port, quint64 answered, quint64 dropped);

// ADDRESS:PORT ("[IPv6]:PORT", "localhost:PORT"): the address, or a null one.
QHostAddress MetricsAddress(const QString &where, quint16 *port);
bool IsMetricsAddress(const QString &where);

class MetricsEndpoint : public QObject
{
    Q_OBJECT
public:
    explicit MetricsEndpoint(std::function<QString()> page, QObject *parent = nullptr);
    ~MetricsEndpoint() override;
    // Listens on "ADDRESS:PORT" ("[IPv6]:PORT"); false, with why, when it
    // cannot.
    bool listen(const QString &where, QString *why);

private:
    std::function<QString()> m_page;
    std::unique_ptr<QHttpServer> m_server;
};
