// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "jsonstream.h"

#include "base/clock.h"
#include "base/nametables.h"
#include "jsonsummary.h"
#include "peers/probetarget.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

QJsonValue milliseconds(qint64 us)
{
    return us < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(us) / 1000.0);
}

} // namespace

JsonStream::JsonStream(QTextStream &out, const Clock &clock, const NameTables &tables)
    : m_out(out), m_clock(clock), m_tables(tables)
{}

void JsonStream::follow(const ProbeTarget &target)
{
    m_minutes[&target];
    // A target a reload removed leaves the stream (its summary said the rest).
    connect(&target, &QObject::destroyed, this, [this, key = &target] {
        m_minutes.erase(key);
        m_failures.erase(key);
    });
    connect(&target, &ProbeTarget::happened, this,
            [this, &target](const ProbeEngine::Events &events) { tell(target, events); });
    const Session &session = target.session();
    connect(&session, &Session::socketFailed, this, [this, &target](const SocketFailure &f) {
        m_failures[&target] = QString::number(f.number) + u' ' + f.description;
    });
    connect(&session, &Session::stateSeen, this, [this, &target](const StateSeen &seen) {
        write(QStringLiteral("state"), target.name(),
              {{QStringLiteral("state"), m_tables.States.name(int(seen.state))},
               {QStringLiteral("reason"), std::exchange(m_failures[&target], {})}});
    });
}

QString JsonStream::wallTime(qint64 monotonicUs) const
{
    const qint64 agoMs = (MonotonicUs() - monotonicUs) / 1000;
    return m_clock.now().toUTC().addMSecs(-agoMs).toString(Qt::ISODateWithMs);
}

void JsonStream::tell(const ProbeTarget &target, const ProbeEngine::Events &events)
{
    using Kind = ProbeEngine::Event::Kind;
    QueryMinute &minute = m_minutes[&target];
    for (const ProbeEngine::Event &e : events) {
        minute.count(e);
        static const std::map<Kind, QString> outcomes
            = {{Kind::Answered, QStringLiteral("answered")},
               {Kind::Late, QStringLiteral("late")},
               {Kind::Lost, QStringLiteral("lost")},
               {Kind::Refused, QStringLiteral("refused")},
               {Kind::Failed, QStringLiteral("not sent")},
               {Kind::Stray, QStringLiteral("stray")}};
        const auto outcome = outcomes.find(e.kind);
        if (outcome == outcomes.end())
            continue;
        QJsonObject query{{QStringLiteral("seq"), e.seq},
                          {QStringLiteral("sent"), e.sentUs < 0 ? QJsonValue(QJsonValue::Null)
                                                                : QJsonValue(wallTime(e.sentUs))},
                          {QStringLiteral("outcome"), outcome->second},
                          {QStringLiteral("rtt_ms"), milliseconds(e.rttUs)}};
        if (e.kind == Kind::Refused || e.kind == Kind::Failed)
            query.insert(QStringLiteral("reason"), e.reason);
        write(QStringLiteral("query"), target.name(), query);
    }
}

void JsonStream::tellMinute()
{
    for (auto &[target, minute] : m_minutes) {
        const QueryMinute m = std::exchange(minute, QueryMinute());
        if (m.empty())
            continue;
        const QJsonValue rtt = m.answered == 0
                                   ? QJsonValue(QJsonValue::Null)
                                   : QJsonObject{{QStringLiteral("min"), milliseconds(m.rttMinUs)},
                                                 {QStringLiteral("avg"),
                                                  milliseconds(m.rttSumUs / qint64(m.answered))},
                                                 {QStringLiteral("max"), milliseconds(m.rttMaxUs)}};
        write(QStringLiteral("minute"), target->name(),
              {{QStringLiteral("answered"), qint64(m.answered)},
               {QStringLiteral("late"), qint64(m.late)},
               {QStringLiteral("lost"), qint64(m.lost)},
               {QStringLiteral("not_sent"), qint64(m.notSent)},
               {QStringLiteral("stray"), qint64(m.stray)},
               {QStringLiteral("rtt_ms"), rtt}});
    }
}

void JsonStream::tellSummary(const TargetSummary &summary)
{
    QJsonObject object = TargetJson(summary);
    object.remove(QStringLiteral("target"));
    write(QStringLiteral("summary"), summary.target, object);
}

void JsonStream::write(const QString &type, const QString &target, QJsonObject object)
{
    object.insert(QStringLiteral("v"), Version);
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("time"), m_clock.now().toUTC().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("target"), target);
    m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    m_out.flush();
}
