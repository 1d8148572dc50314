// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a socket's failure already tells about its path, without sending
// anything more: a connect that failed, or a datagram that the host or a
// router refused, with the ICMP message that came back.  The window writes
// it under the socket's own lines of the failure.

#include "base/netfailure.h"
#include "pathverdict.h"

#include <optional>

// The verdict of a failure the socket reported (what it tells of the path,
// socket/socketerrors.h: PathError, and the ICMP message that came with it)
// at host:port (the peer's address, or its name while the socket knows no
// address); nothing when the failure says nothing about the path (a name,
// TLS or local failure, or a stream reset once it was connected).
std::optional<PathVerdict> FailureVerdict(Transport transport, const QString &host, quint16 port,
                                          const NetFailure &failure);
