// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A flood of AutoPing queries from one source: "udpflood SOURCE TARGET PORT
// RATE MS" sends RATE queries a second from SOURCE (an IPv4 or IPv6 address
// of this host) to TARGET PORT for MS milliseconds, paced each millisecond,
// and counts the answers that come back, until half a second after the
// last query.  Prints "<sent> <answers>".  Exits 2 on wrong arguments, 1
// when the socket cannot be made.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// address and port as a socket address; false when it is none.
bool endOf(const char *address, int port, sockaddr_storage &out, socklen_t &length)
{
    std::memset(&out, 0, sizeof out);
    auto &v4 = reinterpret_cast<sockaddr_in &>(out);
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(out);
    if (::inet_pton(AF_INET, address, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<unsigned short>(port));
        length = sizeof v4;
        return true;
    }
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<unsigned short>(port));
    length = sizeof v6;
    return ::inet_pton(AF_INET6, address, &v6.sin6_addr) == 1;
}

} // namespace

int main(int argc, char *argv[])
{
    sockaddr_storage source{}, target{};
    socklen_t sourceLength = 0, targetLength = 0;
    if (argc != 6 || !endOf(argv[1], 0, source, sourceLength)
        || !endOf(argv[2], std::atoi(argv[3]), target, targetLength)
        || source.ss_family != target.ss_family)
        return 2;
    const long rate = std::atol(argv[4]), ms = std::atol(argv[5]);
    const int fd = ::socket(source.ss_family, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&source), sourceLength) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&target), targetLength) != 0)
        return 1;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long sent = 0, answers = 0;
    char buffer[2048];
    for (;;) {
        const long elapsedUs = long(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
        if (elapsedUs > (ms + 500) * 1000)
            break;
        // Due by now: the queries of every millisecond begun.
        const long due = std::min(elapsedUs / 1000 + 1, ms) * rate / 1000;
        for (; sent < due; ++sent) {
            const int length
                = std::snprintf(buffer, sizeof buffer, "++ AutoPing Query ++ #%ld", sent + 1);
            if (::send(fd, buffer, size_t(length), 0) < 0)
                break;
        }
        while (::recv(fd, buffer, sizeof buffer, 0) > 0)
            ++answers;
        ::usleep(200);
    }
    std::printf("%ld %ld\n", sent, answers);
    return 0;
}
