// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's one name look-up: a host's addresses from the system's
// resolver (no name server is asked by the program itself), and the one
// address it is reached at: an IPv4 one before any IPv6 one, of the
// families the socket can reach.  Every connection, every datagram and
// every diagnosis of the program is looked up here.

#include <QHostAddress>
#include <QObject>

#include <functional>

struct LookedUp
{
    QHostAddress address;          // null when none was found
    int error = 0;                 // the failure number when none was found (11001, 11002, 11004)
    QList<QHostAddress> addresses; // every address the resolver gave, each once, in its order
    QString resolverSaid;          // its own words when it gave none (11001, 11002)
};

// Looks name up in the background and calls done on context's thread (not
// when context is gone first); the look-up's id, for QHostInfo::abortHostLookup.
int LookUpHost(const QString &name, QObject *context, std::function<void(const LookedUp &)> done,
               bool ipv4 = true, bool ipv6 = true);
// The same, waiting for the answer: for a thread of its own (a diagnosis).
LookedUp LookUpHostNow(const QString &name, bool ipv4 = true, bool ipv6 = true);
