// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The way this machine's routing table sends packets to an address: the
// kernel's own answer (a route query over netlink, as "ip route get" asks
// it), which needs no privileges.

#include <QHostAddress>
#include <QString>

// Empty texts where the kernel did not say (no route at all: every one).
struct RouteFound
{
    QString type;      // "unicast", "local", "unreachable", "prohibit", "blackhole" ...
    QString interface; // the interface it leaves by
    QString gateway;   // the next hop, when not on the link
};

RouteFound LookUpRoute(const QHostAddress &to);
