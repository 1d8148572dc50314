// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stamplines.h"

#include "respondlines.h"

#include "base/hostport.h"
#include "base/msgsink.h"
#include "base/numbertext.h"
#include "peers/stampreflector.h"
#include "stamp/stampfigures.h"

#include <QStringList>

#include <cerrno>

namespace {
const QString Speaker = QStringLiteral("STAMP");

QString families(const QString &local)
{
    return local == QLatin1String("::") ? QStringLiteral(", IPv4 and IPv6")
           : local.contains(u':')       ? QStringLiteral(", IPv6")
                                        : QStringLiteral(", IPv4");
}

QString count(quint64 n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}
QString ms(qint64 ns)
{
    return Milliseconds(double(ns) / 1000.0, 3);
}
} // namespace

QString StampAnswerText(const StampFigures &figures, int seq)
{
    const StampFigures::Query &q = figures.last();
    if (figures.answers() == 0 || qint64(q.senderSeq) + 1 != seq)
        return {};
    QString text = QStringLiteral(" path=") + ms(q.netNs);
    if (q.oneWay)
        text += QStringLiteral(" forward=%1 backward=%2").arg(ms(q.forwardNs), ms(q.backwardNs));
    text += QStringLiteral(" ttl=%1/%2").arg(q.ttlAtReflector).arg(q.ttlHere);
    if (q.unanswered == 0)
        return text;
    const QString since
        = q.since < 0 ? QStringLiteral("the start") : QStringLiteral("seq=%1").arg(q.since + 1);
    if (!q.numbered)
        return text
               + QStringLiteral(" (%1 lost since %2, direction not known)")
                     .arg(q.unanswered)
                     .arg(since);
    return text
           + QStringLiteral(" (lost since %1: %2 forward, %3 backward)")
                 .arg(since)
                 .arg(q.forward)
                 .arg(q.backward);
}

StampLines::StampLines(StampReflector &reflector, MsgSink &lines, QObject *parent)
    : QObject(parent), m_reflector(reflector), m_lines(lines)
{}

void StampLines::tellOpened(const QString &local)
{
    m_lines.AddToMsgsBox(Speaker, QStringLiteral("Reflecting test packets on UDP port %1 (%2%3)")
                                          .arg(m_reflector.port())
                                          .arg(BracketedHost(local), families(local))
                                      + CRLF);
    // The answers say so too (Timestamp Information), to a sender that asks.
    if (m_reflector.arrivalStamps() == ArrivalStamps::None)
        m_lines.AddToMsgsBox(Speaker, QStringLiteral("The system stamps no arrivals here: T2 is "
                                                     "this program's clock when it reads")
                                          + CRLF);
}

void StampLines::tellOpenFailed(const QString &local, quint16 port, int number, const QString &why)
{
    QString line = QStringLiteral("Cannot reflect on UDP port %1 of %2: %3 (%4)")
                       .arg(port)
                       .arg(BracketedHost(local), why)
                       .arg(number);
    if (number == EACCES && port < 1024)
        line += QStringLiteral(". A port under 1024 needs root or the capability "
                               "CAP_NET_BIND_SERVICE; choose one from 1024 up with --port");
    m_lines.AddComplaint(QStringLiteral("STAMP Error"), line + CRLF);
}

void StampLines::tellMinute()
{
    StampReflector::Ignored ignored;
    const std::vector<StampReflector::Session> heard = m_reflector.minute(&ignored);
    quint64 others = 0;
    for (size_t i = 0; i < heard.size(); ++i) {
        const StampReflector::Session &session = heard[i];
        if (i >= size_t(MaxSessionsTold)) {
            others += session.answered;
            continue;
        }
        m_lines.AddToMsgsBox(
            Speaker, QStringLiteral("%1 (SSID %2) in the last minute: %3%4")
                             .arg(HostAndPort(session.sender.toString(), session.senderPort))
                             .arg(session.ssid)
                             .arg(count(session.answered, "packet reflected", "packets reflected"),
                                  session.systemStamps
                                      ? QString()
                                      : QStringLiteral(" (arrival timed by Selmarin's clock: the "
                                                       "system gave no time stamp)"))
                         + CRLF);
    }
    if (others > 0)
        m_lines.AddToMsgsBox(Speaker,
                             QStringLiteral("%1 in the last minute: %2")
                                     .arg(count(heard.size() - size_t(MaxSessionsTold),
                                                "other session", "other sessions"),
                                          count(others, "packet reflected", "packets reflected"))
                                 + CRLF);
    QStringList refused;
    if (ignored.tooShort)
        refused << count(ignored.tooShort, "too short for a test packet",
                         "too short for a test packet");
    refused << RefusedTexts(ignored.refused);
    if (ignored.sendFailed)
        refused << count(ignored.sendFailed, "answer the system did not take",
                         "answers the system did not take")
                       + QStringLiteral(" (error %1)").arg(ignored.lastSendError);
    if (!refused.isEmpty())
        m_lines.AddToMsgsBox(Speaker, QStringLiteral("in the last minute, not answered: ")
                                          + refused.join(QStringLiteral(", ")) + CRLF);
    if (ignored.forgotten)
        m_lines.AddToMsgsBox(Speaker, QStringLiteral("in the last minute, %1 to keep %2 at most: "
                                                     "their numbers start again from 0")
                                              .arg(count(ignored.forgotten, "session forgotten",
                                                         "sessions forgotten"))
                                              .arg(StampReflector::MaxSessions)
                                          + CRLF);
}
