// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "diagnosejson.h"

#include "diagnose/pathverdict.h"
#include "wording/verdictlines.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace {

QJsonValue milliseconds(qint64 us)
{
    return us < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(double(us) / 1000.0);
}

QJsonValue text(const QString &value)
{
    return value.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

} // namespace

QByteArray DiagnosisJson(const PathVerdict &v)
{
    static const char *const protocols[] = {"tcp", "udp", "tls"};
    QJsonArray hops;
    for (const Hop &hop : v.hops)
        hops.append(
            QJsonObject{{QStringLiteral("hop"), hop.ttl},
                        {QStringLiteral("address"), text(hop.address)},
                        {QStringLiteral("rtt_ms"), milliseconds(hop.sentAgain ? -1 : hop.rttUs)},
                        {QStringLiteral("sent_again"), hop.sentAgain},
                        {QStringLiteral("said"), text(hop.said)},
                        {QStringLiteral("host"), hop.reached}});
    const QJsonValue icmp = v.icmp.present
                                ? QJsonValue(QJsonObject{{QStringLiteral("type"), v.icmp.type},
                                                         {QStringLiteral("code"), v.icmp.code},
                                                         {QStringLiteral("ipv6"), v.icmp.ipv6},
                                                         {QStringLiteral("words"), v.icmp.words},
                                                         {QStringLiteral("from"), v.icmp.from}})
                                : QJsonValue(QJsonValue::Null);
    const bool tls = v.transport == Transport::Tls && v.outcome == Outcome::Open;
    const QJsonValue handshake
        = tls ? QJsonValue(
              QJsonObject{{QStringLiteral("done"), v.tlsDone},
                          {QStringLiteral("facts"), text(v.tlsFacts)},
                          {QStringLiteral("problems"), QJsonArray::fromStringList(v.tlsProblems)},
                          {QStringLiteral("failure"), text(v.tlsFailure)},
                          {QStringLiteral("insecure"), v.tlsInsecure}})
              : QJsonValue(QJsonValue::Null);
    const QJsonObject document{
        {QStringLiteral("protocol"), QLatin1String(protocols[int(v.transport)])},
        {QStringLiteral("host"), v.host},
        {QStringLiteral("port"), v.port},
        {QStringLiteral("addresses"), QJsonArray::fromStringList(v.addresses)},
        {QStringLiteral("lookup_ms"), milliseconds(v.lookupUs)},
        {QStringLiteral("tried"), text(v.address)},
        {QStringLiteral("why"), text(v.why)},
        {QStringLiteral("outcome"), OutcomeWord(v.outcome)},
        {QStringLiteral("sentence"), OutcomeSentence(v)},
        {QStringLiteral("connect_ms"), milliseconds(v.connectUs)},
        {QStringLiteral("error"), v.error == 0
                                      ? QJsonValue(QJsonValue::Null)
                                      : QJsonValue(QString::fromLocal8Bit(std::strerror(v.error)))},
        {QStringLiteral("icmp"), icmp},
        {QStringLiteral("route"), QJsonObject{{QStringLiteral("interface"), text(v.interface)},
                                              {QStringLiteral("gateway"), text(v.gateway)},
                                              {QStringLiteral("type"), text(v.routeType)}}},
        {QStringLiteral("tls"), handshake},
        {QStringLiteral("hops"), hops},
        {QStringLiteral("mtu"),
         v.mtu.measured ? QJsonValue(QJsonObject{
             {QStringLiteral("how"), v.mtu.how},
             {QStringLiteral("link"), v.mtu.linkMtu},
             {QStringLiteral("path"),
              v.mtu.pathMtu == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(v.mtu.pathMtu)},
             {QStringLiteral("too_big_from"), text(v.mtu.tooBigFrom)},
             {QStringLiteral("black_hole"), v.mtu.blackHole},
             {QStringLiteral("passes"),
              v.mtu.passes == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(v.mtu.passes)},
             {QStringLiteral("vanishes"),
              v.mtu.vanishes == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(v.mtu.vanishes)}})
                        : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("last_hop"), v.lastHop == 0 ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(v.hops.at(v.lastHop - 1).address)},
        {QStringLiteral("reset_hop"),
         v.resetHop == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(v.resetHop)},
        {QStringLiteral("host_hop"),
         v.hostHop == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(v.hostHop)},
        {QStringLiteral("notes"), QJsonArray::fromStringList(v.notes)},
        {QStringLiteral("exit_status"), v.exitStatus()}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}
