// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "jsonsummary.h"

#include "autoping/pingstats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject counts(qint64 sent, qint64 answered, qint64 late, qint64 lost)
{
    const qint64 judged = answered + late + lost;
    return {{QStringLiteral("sent"), sent},
            {QStringLiteral("answered"), answered},
            {QStringLiteral("late"), late},
            {QStringLiteral("lost"), lost},
            {QStringLiteral("loss_percent"), judged == 0 ? 0.0 : 100.0 * lost / judged}};
}

} // namespace

QByteArray JsonSummary(const QList<TargetSummary> &targets, int exitStatus)
{
    QJsonArray each;
    qint64 sent = 0, answered = 0, late = 0, lost = 0;
    for (const TargetSummary &target : targets) {
        const PingStats &stats = *target.stats;
        QJsonObject one = counts(stats.sent(), stats.answered(), stats.late(), stats.lost());
        one.insert(QStringLiteral("target"), target.target);
        one.insert(QStringLiteral("rtt_ms"),
                   stats.hasRtt() ? QJsonValue(
                       QJsonObject{{QStringLiteral("min"), stats.rttMinUs() / 1000.0},
                                   {QStringLiteral("avg"), stats.rttAvgUs() / 1000.0},
                                   {QStringLiteral("max"), stats.rttMaxUs() / 1000.0},
                                   {QStringLiteral("mdev"), stats.rttMdevUs() / 1000.0}})
                                  : QJsonValue(QJsonValue::Null));
        one.insert(QStringLiteral("errors"), QJsonArray::fromStringList(target.errors));
        each.append(one);
        sent += stats.sent();
        answered += stats.answered();
        late += stats.late();
        lost += stats.lost();
    }
    const QJsonObject document{{QStringLiteral("targets"), each},
                               {QStringLiteral("total"), counts(sent, answered, late, lost)},
                               {QStringLiteral("exit_status"), exitStatus}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
