// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "diagnose.h"

#include "base/clock.h"
#include "base/numbertext.h"
#include "hopsweep.h"
#include "knock.h"
#include "pathmtu.h"
#include "routelookup.h"
#include "socket/icmpreport.h"
#include "socket/localaddress.h"
#include "socket/lookup.h"
#include "socket/socketerrors.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <poll.h>
#include <unistd.h>

namespace {

// Hop limits sent at once on a path that answers at its end.
constexpr int SweepWave = 3;
// How long the system looks for a neighbour on the link before it says
// that it found none (three tries a second apart).
constexpr qint64 NeighbourMs = 3500;
// A SYN the host has not answered is sent again a second after the first.
constexpr qint64 RetransmitMs = 1000;
// A pause with nothing sent toward the path, after which a router that
// limits its ICMP messages has one to give again.
constexpr qint64 QuietMs = 2100;

// Step 1: the addresses, and the one tried.  False when there is none.
bool lookUp(PathVerdict &verdict, const QHostAddress &source, int family)
{
    QHostAddress literal;
    if (ParseAddress(verdict.host, &literal)) {
        verdict.addresses = {AddressText(literal)};
        verdict.address = verdict.addresses.first();
        verdict.why = QStringLiteral("given as an address: nothing to look up");
        return true;
    }
    const qint64 startUs = MonotonicUs();
    // Leaving from a given address: an address of its family.
    const bool fromIpv6 = source.protocol() == QAbstractSocket::IPv6Protocol;
    const LookedUp found
        = LookUpHostNow(verdict.host, (source.isNull() || !fromIpv6) && family != 6,
                        (source.isNull() || fromIpv6) && family != 4);
    verdict.lookupUs = MonotonicUs() - startUs;
    for (const QHostAddress &address : found.addresses)
        verdict.addresses.append(AddressText(address));
    if (found.address.isNull()) {
        verdict.outcome = Outcome::NameNotFound;
        verdict.lookupError = found.error != sck::NoData ? found.resolverSaid
                              : family != 0 ? QStringLiteral("no IPv%1 address").arg(family)
                                            : QStringLiteral("no address of either family");
        return false;
    }
    verdict.address = AddressText(found.address);
    const bool ipv4 = found.address.protocol() == QAbstractSocket::IPv4Protocol;
    if (found.addresses.size() == 1)
        verdict.why = QStringLiteral("the only address");
    else if (family != 0)
        verdict.why = QStringLiteral("the first IPv%1 address: -%1 was asked for").arg(family);
    else if (ipv4)
        verdict.why = QStringLiteral(
            "the first IPv4 address: IPv4 is tried before IPv6, as every connection goes");
    else
        verdict.why = QStringLiteral("the first address: the name has no IPv4 address");
    return true;
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
    // Polled at least once: what came already is seen at a wait of 0.
    while (!knock.decided() && !stop) {
        const qint64 leftUs = endUs - MonotonicUs();
        pollfd ready{knock.fd(), knock.events(), 0};
        if (::poll(&ready, 1, int(std::clamp<qint64>(leftUs / 1000 + 1, 0, 50))) > 0)
            knock.settle(ready.revents);
        if (leftUs <= 0)
            return;
    }
}

// Silence for TCP with not even the first hop answering: this machine's
// firewall, or the first router before it counts the hop, drops the SYNs.
// The system tells which by its retransmission of the SYN: one that it
// counts but could not send was dropped here.  A UDP datagram to the same
// port that the first hop answers (or that the system will not send)
// completes the picture.
void checkLocalDrop(PathVerdict &verdict, const Knock &knock, qint64 triedUs,
                    const QHostAddress &to, const QHostAddress &from, const std::atomic<bool> &stop)
{
    while (knock.retransmissionLeft() < 0 && !knock.decided() && !stop
           && MonotonicUs() - triedUs < (RetransmitMs + GraceMs) * 1000)
        ::poll(nullptr, 0, 20);
    const int left = knock.retransmissionLeft();
    if (left == 0) {
        verdict.outcome = Outcome::Blocked;
        verdict.notes.append(QStringLiteral("The system could not send its retransmission of the "
                                            "SYN: this machine's firewall drops TCP to port %1.")
                                 .arg(verdict.port));
        return;
    }
    const Sweep udp = SweepHops(false, to, verdict.port, 1, verdict.timeoutMs, stop, {0, {}, from});
    if (left < 0 && (udp.error == EPERM || udp.error == EACCES)) {
        verdict.outcome = Outcome::Blocked;
        verdict.error = udp.error;
        verdict.notes.append(QStringLiteral(
            "The system would not send a UDP datagram to the same address either: this "
            "machine's firewall drops what goes there."));
        return;
    }
    if (udp.lastHop != 1)
        return;
    const QString first = udp.hops.first().address;
    verdict.notes.append(
        left > 0
            ? QStringLiteral("Not even the first hop answered a TCP packet, while %1 answered a "
                             "UDP datagram to the same port, and the SYNs left this machine "
                             "(the system sent its retransmission): the first router, %1, or "
                             "the link to it drops TCP to port %2 before the hop is counted.")
                  .arg(first)
                  .arg(verdict.port)
            : QStringLiteral("Not even the first hop answered a TCP packet, while %1 answered "
                             "a UDP datagram to the same port: this machine's firewall or "
                             "the first router, %1, drops TCP to port %2. Whether the SYNs "
                             "leave this machine is told by its firewall rules (nft list "
                             "ruleset, as root) or by a capture on its interface (root).")
                  .arg(first)
                  .arg(verdict.port));
}

// A reset came back: the sweep found the hop limit that drew it, and a UDP
// sweep to the same port tells how far the host is.  A datagram whose hop
// limit ran out on the way ("time exceeded") shows that the host lies
// beyond that hop: a SYN with a hop limit no larger cannot have reached it,
// so a device on the way sent the reset (at or before its hop).  A hop
// that stayed silent (a router's ICMP allowance used up) proves nothing.
void checkReset(PathVerdict &verdict, const QHostAddress &to, int maxHops, const SweepPlan &plan,
                const std::atomic<bool> &stop)
{
    if (verdict.hops.isEmpty() || verdict.hops.last().said != QLatin1String("reset"))
        return;
    Hop &reset = verdict.hops.last();
    verdict.resetHop = reset.ttl;
    const Sweep udp = SweepHops(false, to, verdict.port, maxHops, verdict.timeoutMs, stop, plan);
    for (const Hop &hop : udp.hops)
        if (hop.said == QLatin1String("time exceeded"))
            verdict.expiredHop = std::max(verdict.expiredHop, hop.ttl);
    // The host's hop, when the hop before it said "time exceeded".
    if (!udp.hops.isEmpty() && udp.hops.last().reached
        && udp.hops.last().ttl == verdict.expiredHop + 1)
        verdict.hostHop = udp.hops.last().ttl;
    if (verdict.hostHop == 0 && verdict.expiredHop < verdict.resetHop)
        return;
    // The reset's own note (it looks the same whoever sent it) gives way
    // to what the hops tell.
    verdict.notes.removeIf([](const QString &note) { return note.startsWith(u"A reset looks"); });
    if (verdict.expiredHop < verdict.resetHop)
        return;
    verdict.outcome = Outcome::Rejected;
    reset.reached = false;
    reset.said = QStringLiteral("reset, sent on the way");
}

// The note for an answer that came only to a later packet of the sweep:
// what the answer itself shows, nothing more.
QString lateAnswer(const PathVerdict &verdict, const Hop &end)
{
    if (end.icmp.present && IcmpHostUnreachable(end.icmp.ipv6, end.icmp.type, end.icmp.code))
        return QStringLiteral(
                   "The router %1 said so only after the attempt's wait of %2 s: a router says "
                   "it once its look-up of the host on its own link (ARP or neighbour "
                   "discovery, about 3 s) found nobody.")
            .arg(end.icmp.from)
            .arg(verdict.timeoutMs / 1000.0);
    return QStringLiteral("The attempt had no answer within %1 s; a later packet of the hop "
                          "sweep had one, in %2.")
        .arg(verdict.timeoutMs / 1000.0)
        .arg(Milliseconds(double(end.rttUs), 3));
}

// The attempt sent again after a pause, before silence is called so.  TCP
// waits for the SYN's own retransmissions, up to NeighbourMs after the
// first (a router that looks for the host on its own link says that it
// found nobody only then).  Still nothing: a router that limits its ICMP
// messages answers again only after a pause in which nothing reached it
// (Linux refills its allowance by one message a second, and an error of
// its own routes costs two; the system sends an unanswered SYN again every
// second at first), so the attempt is quieted, and after QuietMs the
// attempt goes once more, on a socket of its own, waited for as long as a
// router's look-up of its neighbour takes.  An answer now, where the first
// packets had none, fits such a router.
void retryAfterPause(PathVerdict &verdict, Knock &knock, qint64 triedUs, const QHostAddress &from,
                     const std::atomic<bool> &stop)
{
    QHostAddress to;
    ParseAddress(verdict.address, &to);
    await(knock, int(std::max<qint64>(NeighbourMs - (MonotonicUs() - triedUs) / 1000, 0)), stop);
    std::unique_ptr<Knock> again;
    Knock *waited = &knock;
    // Not when this machine's own firewall kept the SYN's retransmission in
    // (a missing neighbour on its link would have been told by now).
    if (!knock.decided() && !stop && knock.retransmissionLeft() != 0) {
        knock.quiet();
        await(knock, int(QuietMs), stop); // the quieted knock hears nothing: the pause
        again = std::make_unique<Knock>(verdict.transport != Transport::Udp, to, verdict.port, 0,
                                        from);
        waited = again.get();
        if (!stop && again->send())
            await(*again, int(std::max<qint64>(verdict.timeoutMs, NeighbourMs)), stop);
    }
    if (!waited->decided())
        return;
    classify(verdict, *waited);
    const bool neighbour
        = verdict.outcome == Outcome::NoRoute
          || (verdict.icmp.present
              && IcmpHostUnreachable(verdict.icmp.ipv6, verdict.icmp.type, verdict.icmp.code));
    if (neighbour && verdict.outcome == Outcome::Rejected)
        verdict.notes.append(
            QStringLiteral("The router %1 said so %2 after the first packet: a router says it "
                           "once its look-up of the host on its own link (ARP or neighbour "
                           "discovery, about 3 s) found nobody.")
                .arg(verdict.icmp.from, QString::number(double(waited->rttUs()) / 1e6, 'f', 1)
                                            + QStringLiteral(" s")));
    else if (verdict.outcome != Outcome::Filtered && !neighbour)
        verdict.notes.append(QStringLiteral(
            "The first packets had no answer, the attempt sent again after a pause had one: "
            "answers that stop and come again fit a router that limits its ICMP messages "
            "(Linux: six at once, then one a second to one sender, one every two seconds "
            "for an error of its own routes)."));
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

// The attempt met silence, but a later packet of the sweep was answered at
// the path's end: that answer tells the class.
void classifyLateAnswer(PathVerdict &verdict, const Sweep &sweep)
{
    if (verdict.outcome == Outcome::Filtered && !sweep.hops.isEmpty()
        && (sweep.hops.last().reached || sweep.hops.last().icmp.present)) {
        const Hop &end = sweep.hops.last();
        verdict.icmp = end.icmp;
        if (end.icmp.present && !IsLocalAddress(end.icmp.from))
            verdict.outcome
                = end.reached && IcmpPortUnreachable(end.icmp.ipv6, end.icmp.type, end.icmp.code)
                      ? Outcome::Refused
                      : Outcome::Rejected;
        else if (end.said == QLatin1String("reset"))
            verdict.outcome = Outcome::Refused;
        else if (end.reached) {
            verdict.outcome = Outcome::Open;
            verdict.connectUs = end.rttUs;
        }
        if (verdict.outcome != Outcome::Filtered)
            verdict.notes.append(lateAnswer(verdict, end));
    }
}

// Step 3: the hops, and what they tell of the class.
void sweepPath(PathVerdict &verdict, const Question &question, Knock &knock, qint64 triedUs,
               const QHostAddress &to, const QHostAddress &from, const std::atomic<bool> &stop)
{
    const bool tcp = verdict.transport != Transport::Udp;
    // A silent path all at once; one answered at its end in short
    // waves, within the routers' ICMP allowance; one that a router
    // rejected a hop at a time, up to that router.
    const bool byRouter = verdict.outcome == Outcome::Rejected && verdict.icmp.present
                          && verdict.icmp.from != verdict.address;
    const SweepPlan plan{verdict.outcome == Outcome::Filtered ? 0
                         : byRouter                           ? 1
                                                              : SweepWave,
                         byRouter ? verdict.icmp.from : QString(), from};
    const Sweep sweep
        = SweepHops(tcp, to, verdict.port, question.maxHops, verdict.timeoutMs, stop, plan);
    verdict.hops = sweep.hops;
    verdict.lastHop = sweep.lastHop;
    classifyLateAnswer(verdict, sweep);
    // This machine itself said that nobody answered on its link
    // (slower than the attempt's wait: the neighbour look-up takes
    // three seconds).
    for (const Hop &hop : sweep.hops)
        if (verdict.outcome == Outcome::Filtered && IsLocalAddress(hop.address)) {
            verdict.outcome = Outcome::NoRoute;
            verdict.notes.append(noNeighbour(verdict));
        }
    // Silence is called so only after the attempt was sent again, a
    // quiet pause after the first packets (a router's ICMP allowance
    // fills again meanwhile); a missing neighbour on this machine's
    // link is told only after its look-up gave up (NeighbourMs).
    if (verdict.outcome == Outcome::Filtered && !stop)
        retryAfterPause(verdict, knock, triedUs, from, stop);
    if (verdict.outcome == Outcome::Filtered && tcp && sweep.lastHop == 0 && !stop)
        checkLocalDrop(verdict, knock, triedUs, to, from, stop);
    if (verdict.outcome == Outcome::Refused && tcp && !stop)
        checkReset(verdict, to, question.maxHops, {SweepWave, {}, from}, stop);
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
    QHostAddress from;
    ParseAddress(question.source, &from);
    const bool found = lookUp(verdict, from, question.family);
    progress(Step::LookedUp, verdict);
    if (!found || stop)
        return verdict;

    QHostAddress to;
    ParseAddress(verdict.address, &to);
    const bool tcp = question.transport != Transport::Udp;
    const RouteFound route = LookUpRoute(to);
    noteRoute(verdict, route);
    Knock knock(tcp, to, question.port, 0, from);
    const qint64 triedUs = MonotonicUs();
    if (knock.send())
        await(knock, question.timeoutMs, stop);
    classify(verdict, knock);
    progress(Step::Tried, verdict);
    if (stop)
        return verdict;

    if ((verdict.outcome != Outcome::Open || question.hops) && verdict.outcome != Outcome::NoRoute
        && verdict.outcome != Outcome::Blocked) {
        sweepPath(verdict, question, knock, triedUs, to, from, stop);
        progress(Step::Swept, verdict);
    }
    if (verdict.outcome == Outcome::Open && question.transport == Transport::Tls && !stop) {
        // The handshake goes on the attempt's connection; when only a later
        // packet of the sweep got through, the attempt is closed before the
        // handshake's own connection is made (a server that serves one
        // client at a time would never answer it).
        const int connected = knock.release();
        if (!knock.answered() && connected >= 0)
            ::close(connected);
        CheckTls(verdict, knock.answered() ? connected : -1, from, question.tls, stop);
    }
    if ((verdict.outcome == Outcome::Open || verdict.outcome == Outcome::Refused) && !stop)
        MeasurePathMtu(verdict, to, from, stop);
    addNotes(verdict);
    return verdict;
}

Outcome IcmpOutcome(const IcmpSeen &icmp, const QString &address)
{
    switch (SaidBy(icmp, address)) {
    case IcmpSender::ThisMachine: return Outcome::NoRoute;
    case IcmpSender::ClosedPort: return Outcome::Refused;
    case IcmpSender::Rejecting: break;
    }
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
