// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The plain UDP echo loop the responder's answer rate is measured against:
// a socket on 127.0.0.1:<port> that sends every datagram back to its sender,
// in a tight receive-send loop, nothing else.  Prints "ready" once bound and
// runs until it is killed.

#include "loopback.h"

#include <cstdio>
#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const int fd = LoopbackUdp(argv[1], LoopbackEnd::Bound);
    if (fd < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&from), &length);
        if (n >= 0)
            ::sendto(fd, buffer, size_t(n), 0, reinterpret_cast<sockaddr *>(&from), length);
    }
}
