// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A name looked up in the background for a socket to reach: the system's
// resolver gives its addresses (the program asks no name server itself),
// and of them the one a socket of the families asked for is sent to, as
// PickAddress (systemsocket.h) chooses it: an IPv4 one before any IPv6 one.
// What is handed back is that address, or the failure number when there is
// none; the sockets, the probe targets and the load senders look up here.

#include <QHostAddress>
#include <QObject>

#include <functional>

struct LookedUp
{
    QHostAddress address; // null when none was found
    int error = 0;        // the failure number when none was found (11001, 11002, 11004)
};

// Looks name up in the background and calls done on context's thread (not
// when context is gone first); the look-up's id, for QHostInfo::abortHostLookup.
int LookUpHost(const QString &name, QObject *context, std::function<void(const LookedUp &)> done,
               bool ipv4 = true, bool ipv6 = true);
