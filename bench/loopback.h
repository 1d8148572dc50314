// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bench programs' UDP socket on 127.0.0.1: bound to port (a far end)
// or connected to it (a sender).

#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

enum class LoopbackEnd { Bound, Connected };

// The socket, or -1 when it cannot be made; port as the command line gave it.
inline int LoopbackUdp(const char *port, LoopbackEnd end, int flags = 0)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | flags, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto *at = reinterpret_cast<const sockaddr *>(&address);
    if (fd >= 0
        && (end == LoopbackEnd::Bound ? ::bind(fd, at, sizeof address)
                                      : ::connect(fd, at, sizeof address))
               != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
