// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "verdictlines.h"

#include "base/hostport.h"
#include "base/icmpseen.h"
#include "base/numbertext.h"

#include <cstring>

namespace {

QString transportName(Transport transport)
{
    return transport == Transport::Udp   ? QStringLiteral("UDP")
           : transport == Transport::Tls ? QStringLiteral("TLS")
                                         : QStringLiteral("TCP");
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString icmpEvidence(const IcmpSeen &icmp)
{
    return QStringLiteral("ICMP%1 %2 (type %3, code %4)")
        .arg(icmp.ipv6 ? QStringLiteral("v6") : QString(), icmp.words)
        .arg(icmp.type)
        .arg(icmp.code);
}

QString leaves(const PathVerdict &v)
{
    if (v.interface.isEmpty())
        return {};
    return QStringLiteral("; the route leaves by %1%2")
        .arg(v.interface, v.gateway.isEmpty() ? QString() : QStringLiteral(" via ") + v.gateway);
}

// What came back to the attempt, as seen.
QString attemptLine(const PathVerdict &v)
{
    const bool udp = v.transport == Transport::Udp;
    const QString what
        = (udp ? QStringLiteral("UDP datagram to ") : QStringLiteral("TCP connect to "))
          + HostAndPort(v.address, v.port) + QStringLiteral(": ");
    if (v.connectUs >= 0)
        return what + (udp ? QStringLiteral("answered in ") : QStringLiteral("connected in "))
               + Milliseconds(double(v.connectUs), 3);
    if (v.icmp.present)
        return what + icmpEvidence(v.icmp) + QStringLiteral(" from ") + v.icmp.from;
    if (v.error == ECONNREFUSED)
        return what + (udp ? QStringLiteral("refused") : QStringLiteral("reset"));
    if (v.error != 0)
        return what + errorText(v.error) + leaves(v);
    return what + QStringLiteral("no answer within %1 s").arg(v.timeoutMs / 1000.0);
}

// afterSilence: a hop before this one gave no answer.  A router that
// rejects everything and limits its ICMP messages may then answer only a
// later hop's packet: its message is told, but not as this hop's own.
QString hopLine(const Hop &hop, bool afterSilence)
{
    const QString from = afterSilence && hop.icmp.present && !hop.reached
                             ? QStringLiteral(" (from a router at or before this hop)")
                             : QString();
    if (hop.address.isEmpty())
        return QStringLiteral("%1  no answer%2")
            .arg(hop.ttl, 2)
            .arg(hop.said.isEmpty() ? QString() : QStringLiteral(" (") + hop.said + u')');
    if (hop.sentAgain)
        return QStringLiteral("%1  %2  %3, after the SYN went again%4")
            .arg(hop.ttl, 2)
            .arg(hop.address, hop.said, from);
    return QStringLiteral("%1  %2  %3  %4%5")
        .arg(hop.ttl, 2)
        .arg(hop.address, Milliseconds(double(hop.rttUs), 3), hop.said, from);
}

} // namespace

QString OutcomeTitle(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Open: return QStringLiteral("Open");
    case Outcome::Refused: return QStringLiteral("Refused by the host");
    case Outcome::Rejected: return QStringLiteral("Rejected on the way");
    case Outcome::Filtered: return QStringLiteral("Filtered");
    case Outcome::NoRoute: return QStringLiteral("No route");
    case Outcome::Blocked: return QStringLiteral("Blocked on this machine");
    case Outcome::NameNotFound: return QStringLiteral("Name not found");
    }
    return {};
}

namespace {

// What the host's refusal was: a reset (drawn at its own hop, or not) or
// its ICMP message.
QString refusedWhy(const PathVerdict &v, const QString &port)
{
    // The host one hop away: no router on the way could have sent it.
    if (v.resetHop > 1 && v.resetHop == v.hostHop)
        return QStringLiteral("%1 answered %2 with a reset, drawn at hop %3, the host's own hop: "
                              "nothing listens there, or the router before it forged the reset "
                              "(only the reset's hop count, in a capture as root, tells them "
                              "apart)")
            .arg(v.address, port)
            .arg(v.resetHop);
    return v.icmp.present ? QStringLiteral("%1 said %2 for %3: nothing listens there")
                                .arg(v.address, icmpEvidence(v.icmp), port)
                          : QStringLiteral("%1 answered %2 with a reset: nothing listens there")
                                .arg(v.address, port);
}

// The whole sentence: one the host's own message rejected is "by the host".
QString rejectedSentence(const PathVerdict &v, const QString &title, const QString &port)
{
    if (v.resetHop > 0 && v.expiredHop >= v.resetHop)
        return title
               + QStringLiteral("a reset to %1 of %2 was sent on the way, at or before hop %3: a "
                                "SYN with hop limit %3 drew it, while a UDP datagram with hop "
                                "limit %4 ran out before the host; a listener on the host is not "
                                "ruled out")
                     .arg(port, v.address)
                     .arg(v.resetHop)
                     .arg(v.expiredHop);
    if (!v.icmp.present)
        return title + QStringLiteral("the system said %1").arg(errorText(v.error));
    if (v.icmp.from == v.address)
        return OutcomeTitle(v.outcome).replace(QStringLiteral("on the way"),
                                               QStringLiteral("by the host"))
               + QStringLiteral(": %1 answered %2 with %3")
                     .arg(v.address, port, icmpEvidence(v.icmp));
    return title
           + QStringLiteral("the router %1 answered %2 to %3 with %4")
                 .arg(v.icmp.from, port, v.address, icmpEvidence(v.icmp));
}

QString filteredWhy(const PathVerdict &v, const QString &port)
{
    QString why = QStringLiteral("no answer from %1 on %2 within %3 s: no reset, no ICMP message")
                      .arg(v.address, port)
                      .arg(v.timeoutMs / 1000.0);
    if (v.lastHop > 0) {
        const Hop &last = v.hops.at(v.lastHop - 1);
        why += QStringLiteral("; the last hop that answers is %1 (hop %2): the packets vanish "
                              "after it")
                   .arg(last.address)
                   .arg(last.ttl);
    } else if (!v.hops.isEmpty()) {
        why += QStringLiteral("; no hop answered, not even the first");
    }
    return why;
}

QString noRouteWhy(const PathVerdict &v)
{
    if (v.icmp.present || v.error == 0)
        return QStringLiteral("%1 cannot be reached on the link%2: no neighbour answers")
            .arg(v.address, leaves(v));
    return QStringLiteral("this machine has no route to %1 (%2)%3")
        .arg(v.address,
             v.routeType.isEmpty() || v.routeType == QLatin1String("unicast")
                 ? errorText(v.error)
                 : errorText(v.error) + QStringLiteral("; its table: ") + v.routeType
                       + QStringLiteral(" route"),
             leaves(v));
}

} // namespace

QString OutcomeSentence(const PathVerdict &v)
{
    const bool udp = v.transport == Transport::Udp;
    const QString title = OutcomeTitle(v.outcome) + QStringLiteral(": ");
    const QString port = QStringLiteral("%1 port %2").arg(udp ? "UDP" : "TCP").arg(v.port);
    switch (v.outcome) {
    case Outcome::Open:
        return title
               + (udp ? QStringLiteral("%1 answered on %2 in %3")
                      : QStringLiteral("%1 accepted a connection on %2 in %3"))
                     .arg(v.address, port, Milliseconds(double(v.connectUs), 3));
    case Outcome::Refused: return title + refusedWhy(v, port);
    case Outcome::Rejected: return rejectedSentence(v, title, port);
    case Outcome::Filtered: return title + filteredWhy(v, port);
    case Outcome::NoRoute: return title + noRouteWhy(v);
    case Outcome::Blocked:
        return title
               + QStringLiteral("%1 to %2 does not leave this machine%3: its firewall drops it")
                     .arg(port, v.address,
                          v.error != 0
                              ? QStringLiteral(" (the system said: %1)").arg(errorText(v.error))
                              : QString());
    case Outcome::NameNotFound:
        return title + QStringLiteral("%1 gave no address (%2)").arg(v.host, v.lookupError);
    }
    return title;
}

QStringList StepLines(Step step, const PathVerdict &v)
{
    QStringList lines;
    switch (step) {
    case Step::LookedUp:
        if (v.lookupUs < 0) {
            lines << QStringLiteral("%1 is an address: nothing to look up").arg(v.host);
            break;
        }
        lines << QStringLiteral("Looked up %1 in %2: %3")
                     .arg(v.host, Milliseconds(double(v.lookupUs), 3),
                          v.addresses.isEmpty() ? QStringLiteral("no address")
                                                : v.addresses.join(QStringLiteral(", ")));
        if (!v.address.isEmpty())
            lines << QStringLiteral("Trying %1: %2").arg(v.address, v.why);
        break;
    case Step::Tried: lines << attemptLine(v); break;
    case Step::Swept:
        lines << QStringLiteral("Hops toward %1 (%2 port %3):")
                     .arg(v.address, transportName(v.transport == Transport::Tls ? Transport::Tcp
                                                                                 : v.transport))
                     .arg(v.port);
        bool silence = false;
        for (const Hop &hop : v.hops) {
            lines << hopLine(hop, silence);
            silence = silence || hop.address.isEmpty();
        }
        break;
    }
    return lines;
}

QStringList VerdictLines(const PathVerdict &v)
{
    QStringList lines{OutcomeSentence(v)};
    if (v.transport == Transport::Tls && v.outcome == Outcome::Open) {
        if (v.tlsDone)
            lines << QStringLiteral("TLS handshake done: %1; certificate %2%3")
                         .arg(v.tlsFacts,
                              v.tlsProblems.isEmpty()
                                  ? QStringLiteral("verified")
                                  : QStringLiteral("not verified: ")
                                        + v.tlsProblems.join(QStringLiteral("; ")),
                              v.tlsProblems.isEmpty() || !v.tlsInsecure
                                  ? QString()
                                  : QStringLiteral(" (accepted: --insecure)"));
        else
            lines << QStringLiteral("TLS handshake failed: %1").arg(v.tlsFailure);
    }
    if (const PathMtu &m = v.mtu; m.measured && m.blackHole)
        lines << QStringLiteral("A black hole: packets of %1 bytes pass, of %2 bytes vanish "
                                "without a \"too big\" message (%3)")
                     .arg(m.passes)
                     .arg(m.vanishes)
                     .arg(m.how);
    else if (m.measured && !m.tooBigFrom.isEmpty())
        lines << QStringLiteral("Path MTU %1 bytes: the router %2 said \"too big\" for %3 (%4)")
                     .arg(m.pathMtu)
                     .arg(m.tooBigFrom)
                     .arg(m.linkMtu)
                     .arg(m.how);
    else if (m.measured)
        lines << QStringLiteral("Path MTU %1 bytes: full-size packets pass (%2)")
                     .arg(m.pathMtu)
                     .arg(m.how);
    else if (!m.why.isEmpty())
        lines << QStringLiteral("Path MTU not measured: %1").arg(m.why);
    lines << v.notes;
    return lines;
}
