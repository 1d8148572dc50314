// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// JsonStream: a probe's results as they happen, for a log shipper or jq
// (--json-stream): one JSON object a line, each written and flushed at once.
// Every object has "v" (1, the form's version), "type", "time" (when it was
// written, UTC, ISO 8601 with milliseconds) and "target" (its name):
//
//   query    one query as its outcome is decided: "seq", "sent" (when it
//            went out; a query not sent: when it was due), "outcome"
//            ("answered", "late", "lost", "refused", "not sent", "stray"),
//            "rtt_ms" (answered, and late when matched for sure; else null),
//            "reason" (refused, not sent; else absent)
//   minute   the last minute's figures: "answered", "late", "lost",
//            "not_sent", "stray", "rtt_ms" ({"min", "avg", "max"}, or null
//            when nothing was answered); only when the minute had queries
//   state    the target's socket changed its state: "state" (as its line
//            names it: "Connected", "Closed" ...), "reason" (the failure
//            told since the last state, or "")
//   summary  at the end: the target's object of the --json summary
//
// A query's "no answer yet" (its timeout passed, an answer may still come
// late) is no object: its outcome follows, late or lost.

#include <QObject>

#include <map>

#include "wording/targetlines.h"

class Clock;
class ProbeTarget;
class QJsonObject;
class QTextStream;
struct NameTables;
struct TargetSummary;

class JsonStream : public QObject
{
    Q_OBJECT
public:
    static constexpr int Version = 1;

    JsonStream(QTextStream &out, const Clock &clock, const NameTables &tables);
    // Its queries and its states, from now on, until it is gone.
    void follow(const ProbeTarget &target);
    // A minute object for each target whose minute had queries.
    void tellMinute();
    void tellSummary(const TargetSummary &summary);

private:
    void tell(const ProbeTarget &target, const ProbeEngine::Events &events);
    void write(const QString &type, const QString &target, QJsonObject object);
    QString wallTime(qint64 monotonicUs) const;

    QTextStream &m_out;
    const Clock &m_clock;
    const NameTables &m_tables;
    std::map<const ProbeTarget *, QueryMinute> m_minutes;
    std::map<const ProbeTarget *, QString> m_failures; // since the last state
};
