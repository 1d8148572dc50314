// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "diagnose.h"

#include "base/clock.h"
#include "hopsweep.h"
#include "icmpwords.h"
#include "knock.h"
#include "pathmtu.h"
#include "routelookup.h"
#include "socket/localaddress.h"
#include "socket/systemsocket.h"

#include <QHostInfo>
#include <QNetworkInterface>

#include <cerrno>
#include <cstring>

#include <poll.h>

namespace {

// Hop limits sent at once on a path that answers at its end.
constexpr int SweepWave = 3;
// How long the system looks for a neighbour on the link before it says
// that it found none (three tries a second apart).
constexpr qint64 NeighbourMs = 3500;

// Step 1: the addresses, and the one tried.  False when there is none.
bool lookUp(PathVerdict &verdict)
{
    QHostAddress literal;
    if (ParseAddress(verdict.host, &literal)) {
        verdict.addresses = {AddressText(literal)};
        verdict.address = verdict.addresses.first();
        verdict.why = QStringLiteral("given as an address: nothing to look up");
        return true;
    }
    const qint64 startUs = MonotonicUs();
    const QHostInfo info = QHostInfo::fromName(verdict.host);
    verdict.lookupUs = MonotonicUs() - startUs;
    QList<QHostAddress> found;
    for (const QHostAddress &address : info.addresses())
        if (!found.contains(address))
            found.append(address);
    for (const QHostAddress &address : found)
        verdict.addresses.append(AddressText(address));
    const QHostAddress chosen = PickAddress(found, true, true);
    if (chosen.isNull()) {
        verdict.outcome = Outcome::NameNotFound;
        verdict.lookupError = info.error() != QHostInfo::NoError
                                  ? info.errorString()
                                  : QStringLiteral("no address of either family");
        return false;
    }
    verdict.address = AddressText(chosen);
    const bool ipv4 = chosen.protocol() == QAbstractSocket::IPv4Protocol;
    if (found.size() == 1)
        verdict.why = QStringLiteral("the only address");
    else if (ipv4)
        verdict.why = QStringLiteral(
            "the first IPv4 address: IPv4 is tried before IPv6, as every connection goes");
    else
        verdict.why = QStringLiteral("the first address: the name has no IPv4 address");
    return true;
}

bool isLocalAddress(const QString &address)
{
    for (const QHostAddress &own : QNetworkInterface::allAddresses())
        if (AddressText(own) == address)
            return true;
    return false;
}

QString noNeighbour(const PathVerdict &verdict)
{
    return QStringLiteral("This machine found no neighbour answering for %1 on its link%2 (no "
                          "ARP or neighbour discovery answer): the host or the next hop is down "
                          "or not there.")
        .arg(verdict.gateway.isEmpty() ? verdict.address : verdict.gateway,
             verdict.interface.isEmpty() ? QString() : QStringLiteral(" ") + verdict.interface);
}

void noteRoute(PathVerdict &verdict, const RouteFound &route)
{
    verdict.interface = route.interface;
    verdict.gateway = route.gateway;
    verdict.routeType = route.type;
}

// Step 2's outcome from what came back to the attempt.
void classify(PathVerdict &verdict, const Knock &knock)
{
    verdict.error = knock.error();
    if (knock.answered()) {
        verdict.outcome = Outcome::Open;
        verdict.connectUs = knock.rttUs();
        return;
    }
    ClassifyFailure(verdict, knock.error(), knock.icmp());
}

// Waits for one knock's answer, at most timeoutMs.
void await(Knock &knock, int timeoutMs, const std::atomic<bool> &stop)
{
    const qint64 endUs = MonotonicUs() + qint64(timeoutMs) * 1000;
    while (!knock.decided() && !stop) {
        const qint64 leftUs = endUs - MonotonicUs();
        if (leftUs <= 0)
            return;
        pollfd ready{knock.fd(), knock.events(), 0};
        if (::poll(&ready, 1, int(std::min<qint64>(leftUs / 1000 + 1, 50))) > 0)
            knock.settle(ready.revents);
    }
}

// Silence for TCP with not even the first hop answering: when a UDP
// datagram to the same port leaves and is answered by the first hop, or
// the system will not send it either, the TCP packets most likely never
// left this machine.
void checkLocalDrop(PathVerdict &verdict, const QHostAddress &to, const std::atomic<bool> &stop)
{
    const Sweep udp = SweepHops(false, to, verdict.port, 1, verdict.timeoutMs, stop);
    if (udp.error == EPERM || udp.error == EACCES) {
        verdict.outcome = Outcome::Blocked;
        verdict.error = udp.error;
        verdict.notes.append(QStringLiteral(
            "The system would not send a UDP datagram to the same address either: this "
            "machine's firewall drops what goes there."));
        return;
    }
    if (udp.lastHop != 1)
        return;
    verdict.outcome = Outcome::Blocked;
    verdict.notes.append(
        QStringLiteral("Not even the first hop answered a TCP packet, while %1 answered a UDP "
                       "datagram to the same port: the TCP packets most likely never left "
                       "this machine (its firewall drops them; the system does not tell a "
                       "connect so), or the first hop drops them before it counts the hop. "
                       "Reading this machine's firewall rules needs root (nft list ruleset).")
            .arg(udp.hops.first().address));
}

void addNotes(PathVerdict &verdict)
{
    const bool udp = verdict.transport == Transport::Udp;
    if (verdict.outcome == Outcome::Filtered) {
        verdict.notes.append(QStringLiteral(
            "Past the last hop that answers, a router that drops the packets, the host's own "
            "firewall and a host that is down look alike from here."));
        if (udp)
            verdict.notes.append(QStringLiteral(
                "A UDP service may also keep silent to a datagram it does not understand: "
                "silence does not prove a firewall."));
    }
}

} // namespace

PathVerdict Diagnose(const Question &question,
                     const std::function<void(Step, const PathVerdict &)> &progress,
                     const std::atomic<bool> &stop)
{
    PathVerdict verdict;
    verdict.transport = question.transport;
    verdict.host = question.host;
    verdict.port = question.port;
    verdict.timeoutMs = question.timeoutMs;
    const bool found = lookUp(verdict);
    progress(Step::LookedUp, verdict);
    if (!found || stop)
        return verdict;

    QHostAddress to;
    ParseAddress(verdict.address, &to);
    const bool tcp = question.transport != Transport::Udp;
    const RouteFound route = LookUpRoute(to);
    noteRoute(verdict, route);
    Knock knock(tcp, to, question.port);
    const qint64 triedUs = MonotonicUs();
    if (knock.send())
        await(knock, question.timeoutMs, stop);
    classify(verdict, knock);
    progress(Step::Tried, verdict);
    if (stop)
        return verdict;

    if (verdict.outcome != Outcome::Open || question.hops) {
        if (verdict.outcome != Outcome::NoRoute && verdict.outcome != Outcome::Blocked) {
            // A silent path all at once; one answered at its end in short
            // waves, within the routers' ICMP allowance.
            const Sweep sweep
                = SweepHops(tcp, to, question.port, question.maxHops, question.timeoutMs, stop,
                            verdict.outcome == Outcome::Filtered ? 0 : SweepWave);
            verdict.hops = sweep.hops;
            verdict.lastHop = sweep.lastHop;
            // The attempt met silence, but a later packet of the sweep was
            // answered at the path's end: that answer tells the class.
            if (verdict.outcome == Outcome::Filtered && !sweep.hops.isEmpty()
                && (sweep.hops.last().reached || sweep.hops.last().icmp.present)) {
                const Hop &end = sweep.hops.last();
                verdict.icmp = end.icmp;
                if (end.icmp.present && !isLocalAddress(end.icmp.from))
                    verdict.outcome = end.reached
                                              && IcmpPortUnreachable(end.icmp.ipv6, end.icmp.type,
                                                                     end.icmp.code)
                                          ? Outcome::Refused
                                          : Outcome::Rejected;
                else if (end.said == QLatin1String("reset"))
                    verdict.outcome = Outcome::Refused;
                else if (end.reached) {
                    verdict.outcome = Outcome::Open;
                    verdict.connectUs = end.rttUs;
                }
                if (verdict.outcome != Outcome::Filtered)
                    verdict.notes.append(
                        QStringLiteral("The first attempt had no answer within %1 s, a later "
                                       "packet had one: the path loses packets, or a router "
                                       "limits its ICMP messages.")
                            .arg(question.timeoutMs / 1000.0));
            }
            // This machine itself said that nobody answered on its link
            // (slower than the attempt's wait: the neighbour look-up takes
            // three seconds).
            for (const Hop &hop : sweep.hops)
                if (verdict.outcome == Outcome::Filtered && isLocalAddress(hop.address)) {
                    verdict.outcome = Outcome::NoRoute;
                    verdict.notes.append(noNeighbour(verdict));
                }
            // Nothing answered, not even the first hop: the neighbour on
            // the link may be missing, which the system tells only after
            // its look-up gave up (NeighbourMs); the attempt is still
            // waiting for that.
            if (verdict.outcome == Outcome::Filtered && sweep.lastHop == 0 && !stop) {
                await(knock, int(NeighbourMs - (MonotonicUs() - triedUs) / 1000), stop);
                if (knock.decided())
                    classify(verdict, knock);
            }
            if (verdict.outcome == Outcome::Filtered && tcp && sweep.lastHop == 0 && !stop)
                checkLocalDrop(verdict, to, stop);
            progress(Step::Swept, verdict);
        }
    }
    if (verdict.outcome == Outcome::Open && question.transport == Transport::Tls && !stop)
        CheckTls(verdict, stop);
    if ((verdict.outcome == Outcome::Open || verdict.outcome == Outcome::Refused) && !stop)
        MeasurePathMtu(verdict, to, stop);
    addNotes(verdict);
    return verdict;
}

Outcome IcmpOutcome(const IcmpSeen &icmp, const QString &address)
{
    if (isLocalAddress(icmp.from))
        return Outcome::NoRoute;
    if (icmp.from == address && IcmpPortUnreachable(icmp.ipv6, icmp.type, icmp.code))
        return Outcome::Refused;
    return Outcome::Rejected;
}

void ClassifyFailure(PathVerdict &verdict, int error, const IcmpSeen &icmp)
{
    const bool tcp = verdict.transport != Transport::Udp;
    verdict.error = error;
    if (icmp.present) {
        verdict.icmp = icmp;
        verdict.outcome = IcmpOutcome(icmp, verdict.address);
        if (verdict.outcome == Outcome::NoRoute)
            verdict.notes.append(noNeighbour(verdict));
        return;
    }
    switch (error) {
    case ECONNREFUSED:
        verdict.outcome = Outcome::Refused;
        if (tcp)
            verdict.notes.append(QStringLiteral(
                "A reset looks the same whether the host sent it or a firewall on the way "
                "forged it: telling them apart needs the reset's hop count, which only a packet "
                "capture shows (root)."));
        return;
    case EPERM:
    case EACCES: verdict.outcome = Outcome::Blocked; return;
    case ENETUNREACH:
    case EHOSTUNREACH: verdict.outcome = Outcome::NoRoute; return;
    case 0: verdict.outcome = Outcome::Filtered; return;
    default: verdict.outcome = Outcome::Rejected; return;
    }
}
