// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// One call of sendmmsg for several datagrams: the system's batch send, for
// the responder's answers (udpsender.h) and a load's pieces alike.  What to
// do when the system takes fewer, or none, is the caller's.

#include "packetinfo.h"

#include <sys/socket.h>

#include <cstddef>

struct OutDatagram
{
    const char *bytes = nullptr;
    std::size_t size = 0;
    // Where to, for a socket that is not connected; nothing: its peer.
    const sockaddr_storage *target = nullptr;
    socklen_t length = 0;
    // The local address to send from (an answer goes from the address asked).
    const PacketInfo *from = nullptr;
};

inline constexpr std::size_t BatchMost = 64;

// Hands datagrams[0, min(count, BatchMost)) to the system in one call: how
// many it took, or -1 with errno telling why it took none.
int SendBatch(int fd, const OutDatagram *datagrams, std::size_t count, int flags);
