// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The program's one name look-up: a host's addresses from the system's
// resolver (no name server is asked by the program itself), and the one
// address it is reached at: an IPv4 one before any IPv6 one, of the
// families the socket can reach.  Every connection and every datagram of
// the program is looked up here.

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
