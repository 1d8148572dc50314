// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "jsonsummary.h"

#include "probe/probefigures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Counts
{
    quint64 queries = 0, sent = 0, answered = 0, late = 0, lost = 0, inFlight = 0, stray = 0,
            foreign = 0;
    void add(const ProbeFigures &figures)
    {
        queries += figures.queries();
        sent += figures.sent();
        answered += figures.answered();
        late += figures.late();
        lost += figures.lost();
        inFlight += figures.inFlight();
        stray += figures.strays();
        foreign += figures.foreign();
    }
    QJsonObject json() const
    {
        const quint64 judged = answered + late + lost;
        return {{QStringLiteral("queries"), qint64(queries)},
                {QStringLiteral("sent"), qint64(sent)},
                {QStringLiteral("answered"), qint64(answered)},
                {QStringLiteral("late"), qint64(late)},
                {QStringLiteral("lost"), qint64(lost)},
                {QStringLiteral("in_flight"), qint64(inFlight)},
                {QStringLiteral("stray"), qint64(stray)},
                {QStringLiteral("foreign"), qint64(foreign)},
                {QStringLiteral("loss_percent"),
                 judged == 0 ? 0.0 : 100.0 * double(lost) / double(judged)}};
    }
};

QJsonValue milliseconds(const ProbeFigures::Times &times)
{
    if (times.count == 0)
        return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("count"), qint64(times.count)},
                       {QStringLiteral("min"), double(times.minUs) / 1000.0},
                       {QStringLiteral("avg"), times.avgUs() / 1000.0},
                       {QStringLiteral("max"), double(times.maxUs) / 1000.0}};
}

} // namespace

QJsonObject TargetJson(const TargetSummary &target)
{
    const ProbeFigures &figures = *target.figures;
    Counts counts;
    counts.add(figures);
    QJsonObject one = counts.json();
    one.insert(QStringLiteral("target"), target.target);
    QJsonObject failures;
    for (auto it = figures.failures().cbegin(); it != figures.failures().cend(); ++it)
        failures.insert(it.key(), qint64(it.value()));
    one.insert(QStringLiteral("failed_attempts"), failures);
    if (!target.stamp.isEmpty())
        one.insert(QStringLiteral("stamp"), target.stamp);
    one.insert(QStringLiteral("rtt_ms"),
               figures.hasRtt() ? QJsonValue(
                   QJsonObject{{QStringLiteral("min"), double(figures.rttMinUs()) / 1000.0},
                               {QStringLiteral("avg"), figures.rttAvgUs() / 1000.0},
                               {QStringLiteral("max"), double(figures.rttMaxUs()) / 1000.0},
                               {QStringLiteral("mdev"), figures.rttMdevUs() / 1000.0}})
                                : QJsonValue(QJsonValue::Null));
    one.insert(QStringLiteral("connect_ms"), milliseconds(figures.connectTimes()));
    one.insert(QStringLiteral("handshake_ms"), milliseconds(figures.handshakeTimes()));
    one.insert(QStringLiteral("errors"), QJsonArray::fromStringList(target.errors));
    return one;
}

QByteArray JsonSummary(const QList<TargetSummary> &targets, int exitStatus)
{
    QJsonArray each;
    Counts total;
    for (const TargetSummary &target : targets) {
        total.add(*target.figures);
        each.append(TargetJson(target));
    }
    const QJsonObject document{{QStringLiteral("targets"), each},
                               {QStringLiteral("total"), total.json()},
                               {QStringLiteral("exit_status"), exitStatus}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
