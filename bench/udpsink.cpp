// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The plain receiver that the UDP bursts are measured against: a socket on
// 127.0.0.1:<port> with the system's default receive buffer and a tight
// receive loop, nothing else.  Prints "ready" once bound; after <count>
// datagrams, or when none came for IdleMs after the first, prints
// "<datagrams> <bytes>" and ends.

#include "loopback.h"

#include <cstdio>
#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int IdleMs = 500;
constexpr int FirstWaitMs = 10000;

void setTimeout(int fd, int milliseconds)
{
    const timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <port> <count>\n", argv[0]);
        return 2;
    }
    const long count = std::atol(argv[2]);
    const int fd = LoopbackUdp(argv[1], LoopbackEnd::Bound);
    if (fd < 0) {
        std::perror("bind");
        return 1;
    }
    setTimeout(fd, FirstWaitMs);
    std::printf("ready\n");
    std::fflush(stdout);
    static char buffer[65536];
    long datagrams = 0, bytes = 0;
    while (datagrams < count) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0)
            break; // the idle time is over
        if (datagrams++ == 0)
            setTimeout(fd, IdleMs);
        bytes += got;
    }
    std::printf("%ld %ld\n", datagrams, bytes);
    return 0;
}
