// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A UDP relay that impairs a load on its way, and counts what it did:
//
//   selmarin_relay PORT TARGET TARGET_PORT SEED DUPLICATE% SWAP% JITTER_US SECONDS
//
// Datagrams to PORT go on to TARGET:TARGET_PORT, the answers back to whoever
// sent last.  Each of a load's datagrams (any of at least 100 bytes) waits a
// random time of up to JITTER_US, but never overtakes the one before; with
// SWAP% it is held and sent right after the next Data datagram instead (one
// datagram out of order); with DUPLICATE% it goes twice.  The choices come
// from a generator seeded with SEED.  After SECONDS (or SIGTERM) it prints
// what it did, "duplicated N swapped N forwarded N jitter_us J", J being
// RFC 3550's jitter over the delays it added, in the order it sent the
// datagrams (each first copy): what a receiver behind it measures.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <random>
#include <string>

namespace {

volatile std::sig_atomic_t stopping = 0;

long long nowUs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000LL + t.tv_nsec / 1000;
}

struct Datagram
{
    std::string bytes;
    long long inUs = 0;  // when it came
    long long outUs = 0; // when it goes
    bool data = false;   // a load's datagram
    bool copy = false;   // the second copy of a duplicate
};

// The datagrams of a load, whichever tool sends them: the long ones (the
// short ones are ends, hellos and the like, which keep their place).
bool isData(const std::string &bytes)
{
    return bytes.size() >= 100;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 9) {
        std::fprintf(stderr,
                     "usage: %s PORT TARGET TARGET_PORT SEED DUPLICATE%% SWAP%% "
                     "JITTER_US SECONDS\n",
                     argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(std::uint16_t(std::atoi(argv[3])));
    inet_pton(AF_INET, argv[2], &target.sin_addr);
    std::mt19937 random(unsigned(std::atoi(argv[4])));
    const double duplicate = std::atof(argv[5]) / 100, swap = std::atof(argv[6]) / 100;
    const int jitterUs = std::atoi(argv[7]);
    const long long endUs = nowUs() + std::atoll(argv[8]) * 1'000'000LL;
    std::signal(SIGTERM, [](int) { stopping = 1; });

    const int front = ::socket(AF_INET, SOCK_DGRAM, 0), back = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(std::uint16_t(port));
    if (::bind(front, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0
        || ::connect(back, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        std::perror("relay");
        return 2;
    }
    std::printf("relaying\n");
    std::fflush(stdout);

    std::uniform_real_distribution<double> unit(0, 1);
    std::deque<Datagram> queue; // in the order they go, outUs never going down
    std::optional<Datagram> held;
    sockaddr_in client{};
    socklen_t clientLength = 0;
    long long lastOutUs = 0, duplicated = 0, swapped = 0, forwarded = 0;
    double jitter = 0, lastDelay = 0;
    bool anyDelay = false;
    const auto enqueue = [&](Datagram d) {
        d.outUs = std::max(lastOutUs, d.outUs);
        lastOutUs = d.outUs;
        queue.push_back(std::move(d));
    };
    char buffer[65536];
    while (!stopping && nowUs() < endUs) {
        const long long now = nowUs();
        while (!queue.empty() && queue.front().outUs <= now) {
            Datagram &d = queue.front();
            ::send(back, d.bytes.data(), d.bytes.size(), 0);
            if (d.data && !d.copy) {
                const double delay = double(now - d.inUs);
                if (anyDelay)
                    jitter += (std::fabs(delay - lastDelay) - jitter) / 16;
                lastDelay = delay;
                anyDelay = true;
                ++forwarded;
            }
            queue.pop_front();
        }
        const int waitMs
            = queue.empty() ? 50 : int(std::max(0LL, (queue.front().outUs - now) / 1000));
        pollfd fds[2] = {{front, POLLIN, 0}, {back, POLLIN, 0}};
        if (::poll(fds, 2, waitMs) <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            const ssize_t got = ::recv(back, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0 && clientLength > 0)
                ::sendto(front, buffer, size_t(got), 0, reinterpret_cast<sockaddr *>(&client),
                         clientLength);
        }
        if (fds[0].revents & POLLIN) {
            clientLength = sizeof client;
            const ssize_t got = ::recvfrom(front, buffer, sizeof buffer, MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr *>(&client), &clientLength);
            if (got <= 0)
                continue;
            Datagram d{std::string(buffer, size_t(got)), nowUs(), 0, false, false};
            d.data = isData(d.bytes);
            if (!d.data) {
                // Anything else keeps its place: after a held datagram too.
                if (held) {
                    enqueue(std::move(*held));
                    held.reset();
                }
                d.outUs = d.inUs;
                enqueue(std::move(d));
                continue;
            }
            d.outUs = d.inUs + static_cast<long long>(unit(random) * jitterUs);
            const bool twice = unit(random) < duplicate, later = !held && unit(random) < swap;
            if (later) {
                held = d;
                ++swapped;
                continue;
            }
            enqueue(d);
            if (twice) {
                Datagram copy = d;
                copy.copy = true;
                enqueue(copy);
                ++duplicated;
            }
            if (held) {
                held->outUs = d.outUs;
                enqueue(std::move(*held));
                held.reset();
            }
        }
    }
    std::printf("duplicated %lld swapped %lld forwarded %lld jitter_us %.1f\n", duplicated, swapped,
                forwarded, jitter);
    return 0;
}
