// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hopsweep.h"

#include "base/clock.h"
#include "base/icmpseen.h"
#include "knock.h"
#include "socket/localaddress.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <poll.h>

namespace {

// What one knock tells about its hop.
Hop hopOf(const Knock &knock, const QString &target, bool tcp)
{
    Hop hop;
    hop.ttl = knock.hops();
    if (!knock.decided())
        return hop;
    hop.rttUs = knock.rttUs();
    hop.sentAgain = knock.sends() > 1;
    if (knock.icmp().present) {
        const IcmpSeen &icmp = knock.icmp();
        hop.address = icmp.from;
        hop.said
            = IcmpTimeExceeded(icmp.ipv6, icmp.type) ? QStringLiteral("time exceeded") : icmp.words;
        hop.reached = icmp.from == target;
        if (!IcmpTimeExceeded(icmp.ipv6, icmp.type))
            hop.icmp = icmp;
    } else if (knock.answered()) {
        hop.address = target;
        hop.said = tcp ? QStringLiteral("connection made") : QStringLiteral("answered");
        hop.reached = true;
    } else if (knock.error() == ECONNREFUSED) {
        hop.address = target;
        hop.said = tcp ? QStringLiteral("reset") : QStringLiteral("port unreachable");
        hop.reached = true;
    } else {
        hop.rttUs = -1;
        hop.said = QString::fromLocal8Bit(std::strerror(knock.error()));
    }
    return hop;
}

} // namespace

Sweep SweepHops(bool tcp, const QHostAddress &to, quint16 port, int maxHops, int waitMs,
                const std::atomic<bool> &stop, const SweepPlan &plan)
{
    Sweep sweep;
    const QString target = AddressText(to);
    const int wave = plan.wave <= 0 ? maxHops : plan.wave;
    std::vector<std::unique_ptr<Knock>> knocks;
    // The first hop limit whose answer ends the path (the host, a router
    // that rejected it); 0: none yet.
    int final = 0;
    qint64 finalAtUs = 0;
    const auto finalIn = [&] {
        for (const auto &knock : knocks) {
            const Hop hop = hopOf(*knock, target, tcp);
            if (hop.reached
                || (!hop.address.isEmpty() && hop.said != QLatin1String("time exceeded"))
                || (!plan.endAt.isEmpty() && hop.address == plan.endAt))
                return hop.ttl;
        }
        return 0;
    };
    for (int first = 1; first <= maxHops && final == 0 && !stop; first += wave) {
        for (int hops = first; hops < first + wave && hops <= maxHops; ++hops) {
            knocks.push_back(std::make_unique<Knock>(tcp, to, port, hops, plan.from));
            if (!knocks.back()->send() && hops == 1
                && (knocks.back()->error() == EPERM || knocks.back()->error() == EACCES)) {
                sweep.error = knocks.back()->error();
                return sweep;
            }
        }
        const qint64 endUs = MonotonicUs() + qint64(waitMs) * 1000;
        for (;;) {
            const qint64 nowUs = MonotonicUs();
            if (final == 0 && (final = finalIn()) != 0)
                finalAtUs = nowUs + 2 * std::max<qint64>(knocks[size_t(final - 1)]->rttUs(), 0)
                            + GraceMs * 1000;
            // The hops before the final one: answered, or silent long enough.
            bool waiting = false;
            for (const auto &knock : knocks)
                if (!knock->decided() && (final == 0 || knock->hops() < final))
                    waiting = true;
            if (!waiting || stop || nowUs >= endUs || (final != 0 && nowUs >= finalAtUs))
                break;
            std::vector<pollfd> ready;
            std::vector<Knock *> polled;
            for (const auto &knock : knocks)
                if (!knock->decided() && knock->fd() >= 0) {
                    ready.push_back({knock->fd(), knock->events(), 0});
                    polled.push_back(knock.get());
                }
            // Short slices, so that a stop is seen soon.
            if (::poll(ready.data(), ready.size(),
                       int(std::min<qint64>((endUs - nowUs) / 1000 + 1, 50)))
                    < 0
                && errno != EINTR)
                break;
            for (size_t i = 0; i < ready.size(); ++i)
                polled[i]->settle(ready[i].revents);
        }
    }
    for (const auto &knock : knocks) {
        const Hop hop = hopOf(*knock, target, tcp);
        if (!hop.address.isEmpty())
            sweep.lastHop = hop.ttl;
        sweep.hops.append(hop);
        if (hop.ttl == final)
            break;
    }
    // Past the last hop that answered, one line says that nothing did.
    if (final == 0)
        sweep.hops = sweep.hops.mid(0, std::min(int(sweep.hops.size()), sweep.lastHop + 1));
    return sweep;
}
