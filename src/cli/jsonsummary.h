// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The summary of a probe run as one JSON document, for scripts (--json):
//
//   {"targets": [{"target": "10.213.7.1:7010",
//                 "queries": 6, "sent": 5, "answered": 4, "late": 1, "lost": 1,
//                 "in_flight": 0, "loss_percent": 16.67,
//                 "failed_attempts": {"refused": 1}, "stray": 0, "foreign": 0,
//                 "rtt_ms": {"min": 0.21, "avg": 0.35, "max": 1.2, "mdev": 0.08},
//                 "connect_ms": {"count": 1, "min": 0.1, "avg": 0.1, "max": 0.1},
//                 "handshake_ms": null,
//                 "errors": ["Winsock Error: 10061 ..."]}],
//    "total": {"queries": 6, "sent": 5, ..., "loss_percent": 16.67},
//    "exit_status": 1}
//
// The counts are the figures' (probe/probefigures.h): queries = answered +
// late + lost + in_flight, queries = sent + the failed attempts (queries
// that could not be sent; failed_attempts counts every query lost for a
// known reason, by the reason); loss_percent is lost / (answered + late +
// lost) * 100.  rtt_ms, connect_ms and handshake_ms are null while there is
// nothing to show; all times in milliseconds.  errors are the failures told
// on standard error, one line each.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class ProbeFigures;

struct TargetSummary
{
    QString target;
    const ProbeFigures *figures = nullptr;
    QStringList errors;
    QJsonObject stamp; // what a reflector's answers told; empty for other probes
};

// One target's object of the document.
QJsonObject TargetJson(const TargetSummary &target);
QByteArray JsonSummary(const QList<TargetSummary> &targets, int exitStatus);
