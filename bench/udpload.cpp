// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A load of AutoPing queries for a UDP responder on 127.0.0.1:<port>:
// numbered queries ("++ AutoPing Query ++ #n") sent as fast as answers come
// back, with at most <window> of them waiting, until <count> answers came (or
// none came for IdleMs).  Prints "<answers> <seconds>".  The same load serves
// the responder and the plain echo loop it is measured against.  With a
// fourth argument, <gap> ms, it sends one query at a time, waits that long
// between an answer and the next query (as a probe does), and prints
// "<answers> <mean round trip in ms>" instead.

#include "loopback.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int IdleMs = 1000;
}

int main(int argc, char *argv[])
{
    if (argc != 4 && argc != 5)
        return 2;
    const int gapMs = argc == 5 ? std::atoi(argv[4]) : -1;
    const int count = std::atoi(argv[2]), window = std::atoi(argv[3]);
    const int fd = LoopbackUdp(argv[1], LoopbackEnd::Connected);
    if (fd < 0)
        return 1;
    const timeval wait{IdleMs / 1000, (IdleMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    int sent = 0, answered = 0;
    const auto send = [&] {
        const std::string query = "++ AutoPing Query ++ #" + std::to_string(++sent);
        ::send(fd, query.data(), query.size(), 0);
    };
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < window; ++i)
        send();
    char buffer[2048];
    if (gapMs >= 0) {
        double total = 0;
        for (answered = 0; answered < count; ++answered) {
            const auto t0 = std::chrono::steady_clock::now();
            if (answered > 0)
                send();
            if (::recv(fd, buffer, sizeof buffer, 0) < 0)
                break;
            total
                += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                       .count();
            ::usleep(useconds_t(gapMs) * 1000);
        }
        std::printf("%d %.4f\n", answered, total / std::max(answered, 1));
        return 0;
    }
    while (answered < count) {
        if (::recv(fd, buffer, sizeof buffer, 0) < 0)
            break; // nothing for IdleMs: the rest was lost
        ++answered;
        if (sent < count)
            send();
    }
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d %.3f\n", answered, seconds);
    return 0;
}
