// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The figures of a run as a metrics scraper reads them: the Prometheus text
// format, served at /metrics (metricsendpoint.h).
//
// A probe's page, one series per target (label target="NAME", HOST:PORT
// unless named, and the target's own labels after it), from
// the same figures as its summary and JSON (probe/probefigures.h), so that
// at every scrape queries = answered + late + lost + in flight, and every
// counter only grows:
//   selmarin_probe_queries_total          queries due, sent or not       (counter)
//   selmarin_probe_answered_total         answered in time               (counter)
//   selmarin_probe_late_total             answered after the timeout     (counter)
//   selmarin_probe_lost_total             not answered at all, or not
//                                         sent (failed attempts)         (counter)
//   selmarin_probe_in_flight              sent, neither answered nor lost yet (gauge)
//   selmarin_probe_failed_attempts_total  queries lost for a known reason,
//                                         label reason="refused" ...     (counter)
//   selmarin_probe_stray_answers_total    answers with no query waiting  (counter)
//   selmarin_probe_foreign_datagrams_total  datagrams from anyone but the target (counter)
//   selmarin_probe_rtt_seconds            round trips of the answered ones (histogram)
//   selmarin_probe_connect_seconds        connections made, and their time (summary)
//   selmarin_probe_tls_handshake_seconds  TLS handshakes done, and their time (summary)
//   selmarin_probe_up                     1 when the newest query whose timeout
//                                         passed had its answer, else 0 (gauge)
// and for a reflector's target (probe --stamp), label direction="forward"
// or "backward" beside the target:
//   selmarin_stamp_lost_total             test packets lost that way, as the
//                                         reflector's numbers tell   (counter)
//   selmarin_stamp_delay_seconds          one-way delays, from the answers whose
//                                         clocks were both synchronized, with the
//                                         round trips' buckets       (histogram)
// A responder's page (labels port="PORT" and protocol="udp" ..., a series
// for each of its ports):
//   selmarin_responder_answered_total            queries answered
//   selmarin_responder_datagrams_dropped_total   datagrams it had to drop
// Each TLS endpoint's own certificate (labels endpoint="metrics" or
// "respond", port="PORT" and file="CERT_FILE"):
//   selmarin_tls_cert_expiry_seconds   when its certificate expires, Unix seconds (gauge)

#include <QList>
#include <QString>

#include <utility>

class ProbeFigures;
class StampFigures;

struct TargetFigures
{
    QString target;
    const ProbeFigures *figures = nullptr;
    const StampFigures *stamp = nullptr;       // a reflector's target: its loss by direction
    QList<std::pair<QString, QString>> labels; // its own labels, after target
};

// One port of a responder.
struct ResponderFigures
{
    quint16 port = 0;
    QString protocol; // tcp, udp, tls or stamp
    quint64 answered = 0;
    quint64 dropped = 0;
};

QString ProbeMetrics(const QList<TargetFigures> &targets);
QString ResponderMetrics(const QList<ResponderFigures> &ports);
// A TLS endpoint's certificate.
struct CertExpiry
{
    QString endpoint; // metrics, respond
    quint16 port = 0;
    QString file;
    qint64 expiry = 0; // Unix seconds
};
QString CertExpiryMetrics(const QList<CertExpiry> &certificates);
