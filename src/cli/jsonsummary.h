// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The summary of a probe run as one JSON document, for scripts (--json):
//
//   {"targets": [{"target": "10.213.7.1:7010",
//                 "sent": 5, "answered": 4, "late": 1, "lost": 0,
//                 "loss_percent": 0,
//                 "rtt_ms": {"min": 0.21, "avg": 0.35, "max": 1.2, "mdev": 0.08},
//                 "errors": ["Winsock Error: 10054 ..."]}],
//    "total": {"sent": 5, "answered": 4, "late": 1, "lost": 0, "loss_percent": 0},
//    "exit_status": 0}
//
// sent counts every query; answered, late and lost what became of them (late:
// answered after its timeout, or not matched for sure; its time unused);
// loss_percent is lost / (answered + late + lost) * 100; rtt_ms is null while
// no query was answered; errors are the failures told on standard error, one
// line each.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class PingStats;

struct TargetSummary
{
    QString target;
    const PingStats *stats = nullptr;
    QStringList errors;
};

QByteArray JsonSummary(const QList<TargetSummary> &targets, int exitStatus);
