// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The configuration file of a run left going as a service, in YAML:
//
//   defaults:   the settings every target takes unless it says otherwise
//   metrics:    "ADDRESS:PORT" of the metrics endpoint
//   web_config: the file that locks it (TLS, passwords), beside metrics
//   targets:    a list; each a name (HOST:PORT unless given), host, port
//               and any of the defaults' keys; its labels are the
//               defaults' with its own over them
//   respond:    a list of the responder's ports: protocol, port, local,
//               and whom it answers, how much: allow (a list of CIDRs),
//               budget_per_source and budget ("R" or "R/B")
//
// Read into the plain values below.  Every fault is kept with its line and
// column (from 1) and a reason of one line, all of them and not only the
// first; a file with faults is not to be used.  What is written reads back
// to the same values.

#include "base/responderlimits.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// What a target is probed with.
struct ProbeSettings
{
    QString protocol = QStringLiteral("udp");  // tcp, udp, tls, connect or stamp
    int intervalMs = 1000;                     // at least 10
    int timeoutMs = 2000;                      // at least 1
    int family = 0;                            // 0: either, 4: IPv4, 6: IPv6
    int dscp = 0;                              // 0 to 63
    int size = 0;                              // the query's bytes; 0: the protocol's own
    QString source;                            // the local address to leave from
    QString interface;                         // or the interface
    QList<std::pair<QString, QString>> labels; // in the order written
    bool operator==(const ProbeSettings &) const = default;
};

struct TargetEntry
{
    QString name;
    QString host;
    quint16 port = 0;
    ProbeSettings settings; // the defaults' and its own
    int line = 0, column = 0;
    // The same target with the same settings: a reload keeps it running.
    bool sameAs(const TargetEntry &other) const
    {
        return name == other.name && host == other.host && port == other.port
               && settings == other.settings;
    }
};

struct RespondEntry
{
    QString protocol = QStringLiteral("udp"); // tcp, udp, tls or stamp
    quint16 port = 0;
    QString local = QStringLiteral("::");
    // Whom it answers and how much; nothing: the command line's.
    std::optional<QList<AddressRange>> allow = {};
    std::optional<AnswerBudget> perSource = {}, total = {};
    int line = 0, column = 0;
    // The same socket: a reload keeps it, with its limits as they are now.
    bool sameAs(const RespondEntry &other) const
    {
        return protocol == other.protocol && port == other.port && local == other.local;
    }
    // The limits of limits with this entry's own over them.
    ResponderLimits limitsOver(ResponderLimits limits) const;
};

struct ServiceConfig
{
    ProbeSettings defaults;
    QString metrics; // empty: none
    int metricsLine = 0, metricsColumn = 0;
    QString webConfig; // the file that locks the metrics endpoint; empty: none
    int webConfigLine = 0, webConfigColumn = 0;
    QList<TargetEntry> targets;
    QList<RespondEntry> respond;
};

struct ConfigFault
{
    int line = 0, column = 0;
    QString reason;
};

// The settings named in keys (the file's keys: "interval" ...) copied from
// from into to.
void CopySettings(ProbeSettings &to, const ProbeSettings &from, const QStringList &keys);

// The file's text read; *faults gets every fault (none: the values are good).
// The keys named in overKeys take over's values instead of the defaults' in
// the file (a target's own still win).
ServiceConfig ReadServiceConfig(const QByteArray &text, QList<ConfigFault> *faults,
                                const ProbeSettings &over = {}, const QStringList &overKeys = {});
// The values as a file that reads back to them.
QByteArray WriteServiceConfig(const ServiceConfig &config);
// A target's name when none is given: HOST:PORT.
QString DefaultTargetName(const QString &host, quint16 port);
