// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampfigures.h"

#include "probe/queryclock.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <tuple>
#include <utility>

void StampFigures::Spread::add(qint64 ns)
{
    minNs = count == 0 ? ns : std::min(minNs, ns);
    maxNs = count == 0 ? ns : std::max(maxNs, ns);
    sumNs += ns;
    ++count;
    const auto &bounds = ProbeFigures::BucketUs;
    // Up to its bound: a delay of exactly 500 us is in the first bucket.
    const qint64 us = (ns + 999) / 1000;
    ++buckets[size_t(std::lower_bound(bounds.begin(), bounds.end(), us) - bounds.begin())];
}

namespace {

// The unanswered queries between two answers, and those the reflector
// counted (their answers lost on the way back).
std::pair<quint64, quint64> gap(qint64 sender, qint64 reflector, quint32 senderSeq,
                                quint32 reflectorSeq)
{
    const qint64 unanswered = qint64(senderSeq) - sender - 1;
    // A reflector that reorders may number backwards: no loss there.
    const qint64 counted = std::clamp(qint64(reflectorSeq) - reflector - 1, qint64(0), unanswered);
    return {quint64(unanswered), quint64(counted)};
}

} // namespace

bool StampFigures::add(const Answer &answer)
{
    const auto [at, added] = m_answers.emplace(answer.senderSeq, answer.reflectorSeq);
    if (!added)
        return false;
    m_highestReflectorSeq = std::max(m_highestReflectorSeq, answer.reflectorSeq);
    const qint64 reflectorNs = answer.t3Ns - answer.t2Ns;
    Query &q = m_last;
    q.senderSeq = answer.senderSeq;
    q.netNs = (answer.t4Ns - answer.t1Ns) - reflectorNs;
    q.oneWay = answer.bothSynchronized;
    q.forwardNs = answer.t2Ns - answer.t1Ns;
    q.backwardNs = answer.t4Ns - answer.t3Ns;
    q.ttlAtReflector = answer.ttlAtReflector;
    q.ttlHere = answer.ttlHere;
    q.numbered = numbered();
    // Since the answer before it by number (or the session's start), as the
    // summary counts them.
    const bool first = at == m_answers.begin();
    const qint64 sender = first ? -1 : qint64(std::prev(at)->first);
    const qint64 reflector = first ? -1 : qint64(std::prev(at)->second);
    q.since = sender;
    std::tie(q.unanswered, q.backward)
        = gap(sender, reflector, answer.senderSeq, answer.reflectorSeq);
    q.forward = q.unanswered - q.backward;
    m_net.add(q.netNs);
    m_reflector.add(reflectorNs);
    if (answer.bothSynchronized) {
        m_forward.add(q.forwardNs);
        m_backward.add(q.backwardNs);
        m_oneWayErrorNs = std::max(m_oneWayErrorNs, answer.errorNs);
    } else {
        ++m_unsynchronized;
        m_reflectorUnsynchronized += answer.reflectorSynchronized ? 0 : 1;
    }
    m_ttlAtReflector = answer.ttlAtReflector;
    m_ttlHere = answer.ttlHere;
    m_systemSent += answer.systemSent ? 1 : 0;
    m_systemReceived += answer.systemReceived ? 1 : 0;
    return true;
}

StampFigures::Loss StampFigures::loss() const
{
    Loss loss;
    if (!numbered()) {
        loss.unknown = m_sent > m_answers.size() ? m_sent - m_answers.size() : 0;
        return loss;
    }
    // Before the first answer the reflector's numbers start at 0.
    qint64 sender = -1, reflector = -1;
    for (const auto &[senderSeq, reflectorSeq] : m_answers) {
        const auto [unanswered, counted] = gap(sender, reflector, senderSeq, reflectorSeq);
        loss.backward += counted;
        loss.forward += unanswered - counted;
        sender = senderSeq;
        reflector = std::max(reflector, qint64(reflectorSeq));
    }
    const qint64 after = qint64(m_sent) - sender - 1;
    loss.unknown = quint64(std::max(after, qint64(0)));
    return loss;
}

QString StampFigures::oneWayLeftOut() const
{
    if (m_unsynchronized == 0)
        return m_answers.empty() ? QStringLiteral("no answer") : QString();
    return m_reflectorUnsynchronized > 0
               ? QStringLiteral("the reflector's clock is not synchronized")
               : QStringLiteral("this machine's clock is not synchronized");
}

namespace {

QString milliseconds(double ns)
{
    return QString::number(ns / 1e6, 'f', 3);
}

QString spreadText(const StampFigures::Spread &spread)
{
    return QStringLiteral("%1/%2/%3 ms")
        .arg(milliseconds(double(spread.minNs)), milliseconds(spread.avgNs()),
             milliseconds(double(spread.maxNs)));
}

QJsonValue spreadJson(const StampFigures::Spread &spread)
{
    if (spread.count == 0)
        return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("count"), qint64(spread.count)},
                       {QStringLiteral("min"), double(spread.minNs) / 1e6},
                       {QStringLiteral("avg"), spread.avgNs() / 1e6},
                       {QStringLiteral("max"), double(spread.maxNs) / 1e6}};
}

const QString LossDirectionLeftOut
    = QStringLiteral("the direction of a loss is not known: the reflector numbers every answer 0 "
                     "(TWAMP-Light, or a reflector that keeps no state)");

QString ttlText(int ttl)
{
    return ttl < 0 ? QStringLiteral("not known") : QString::number(ttl);
}

} // namespace

QStringList StampFigures::summaryLines() const
{
    const Loss lost = loss();
    QStringList lines;
    if (m_net.count > 0)
        lines << QStringLiteral("round trip less the reflector's time min/avg/max = %1, the "
                                "reflector's time avg %2 ms")
                     .arg(spreadText(m_net), milliseconds(m_reflector.avgNs()));
    lines << QStringLiteral("lost forward %1, backward %2, direction not known %3")
                 .arg(lost.forward)
                 .arg(lost.backward)
                 .arg(lost.unknown);
    if (!numbered())
        lines << LossDirectionLeftOut;
    lines << QStringLiteral("TTL seen by the reflector %1 (sent with 255), of its answers %2")
                 .arg(ttlText(m_ttlAtReflector), ttlText(m_ttlHere));
    if (const QString line = SystemStampsLine({answers(), m_systemSent, m_systemReceived});
        !line.isEmpty())
        lines << line;
    if (const QString why = oneWayLeftOut(); !why.isEmpty())
        lines << QStringLiteral("one-way delays left out: ") + why;
    else
        lines << QStringLiteral("forward delay min/avg/max = %1, backward %2, each within %3 ms "
                                "(the clocks' error estimates)")
                     .arg(spreadText(m_forward), spreadText(m_backward),
                          milliseconds(double(m_oneWayErrorNs)));
    return lines;
}

QJsonObject StampFigures::json() const
{
    const Loss lost = loss();
    QJsonObject json{
        {QStringLiteral("answers"), qint64(answers())},
        {QStringLiteral("rtt_less_reflector_ms"), spreadJson(m_net)},
        {QStringLiteral("reflector_ms"), spreadJson(m_reflector)},
        {QStringLiteral("lost_forward"), qint64(lost.forward)},
        {QStringLiteral("lost_backward"), qint64(lost.backward)},
        {QStringLiteral("lost_direction_unknown"), qint64(lost.unknown)},
        {QStringLiteral("ttl_at_reflector"), m_ttlAtReflector},
        {QStringLiteral("ttl_here"), m_ttlHere},
        {QStringLiteral("forward_ms"), spreadJson(m_forward)},
        {QStringLiteral("backward_ms"), spreadJson(m_backward)},
        // Of the answers, those whose T1 and T4 the system stamped.
        {QStringLiteral("system_stamps_sent"), qint64(m_systemSent)},
        {QStringLiteral("system_stamps_received"), qint64(m_systemReceived)},
    };
    if (const QString why = oneWayLeftOut(); !why.isEmpty())
        json.insert(QStringLiteral("one_way_left_out"), why);
    else
        json.insert(QStringLiteral("one_way_error_ms"), double(m_oneWayErrorNs) / 1e6);
    if (!numbered())
        json.insert(QStringLiteral("loss_direction_left_out"), LossDirectionLeftOut);
    return json;
}
