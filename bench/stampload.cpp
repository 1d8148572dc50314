// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A paced load of two-way measurement test packets (the sender's 44-octet
// base packet, numbered) for a reflector on 127.0.0.1:<port>, or for the
// plain UDP echo loop it is measured against: <rate> packets a second for
// <seconds>, in batches (sendmmsg) as the clock says they are due, the
// answers taken meanwhile (recvmmsg) and for a moment after the last.
// Prints "<sent> <answered>".  One thread, so that the load itself takes
// one core at most.

#include "loopback.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int Batch = 64;
constexpr int PacketBytes = 44;
constexpr double DrainSeconds = 0.3;
} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4)
        return 2;
    const double rate = std::atof(argv[2]), seconds = std::atof(argv[3]);
    const int fd = LoopbackUdp(argv[1], LoopbackEnd::Connected, SOCK_NONBLOCK);
    if (fd < 0)
        return 1;
    // Room for every answer: the loss measured is the reflector's, not ours.
    const int room = 16 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
    static char out[Batch][PacketBytes], in[Batch][2048];
    iovec outIo[Batch], inIo[Batch];
    mmsghdr outMsg[Batch] = {}, inMsg[Batch] = {};
    for (int i = 0; i < Batch; ++i) {
        outIo[i] = {out[i], PacketBytes};
        outMsg[i].msg_hdr.msg_iov = &outIo[i];
        outMsg[i].msg_hdr.msg_iovlen = 1;
        inIo[i] = {in[i], sizeof in[i]};
        inMsg[i].msg_hdr.msg_iov = &inIo[i];
        inMsg[i].msg_hdr.msg_iovlen = 1;
    }
    long long sent = 0, answered = 0;
    const long long total = static_cast<long long>(rate * seconds);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const double elapsed
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (sent >= total && elapsed > seconds + DrainSeconds)
            break;
        const long long due = std::min(total, static_cast<long long>(elapsed * rate));
        if (due > sent) {
            const int n = static_cast<int>(std::min<long long>(Batch, due - sent));
            for (int i = 0; i < n; ++i) {
                const uint32_t seq = htonl(static_cast<uint32_t>(sent + i));
                std::memcpy(out[i], &seq, sizeof seq);
            }
            const int taken = ::sendmmsg(fd, outMsg, unsigned(n), 0);
            // A full send buffer: the rest goes out at the next turn.
            sent += taken > 0 ? taken : 0;
        }
        const int got = ::recvmmsg(fd, inMsg, Batch, MSG_DONTWAIT, nullptr);
        answered += got > 0 ? got : 0;
        if (got <= 0 && due <= sent)
            ::usleep(20);
    }
    std::printf("%lld %lld\n", sent, answered);
    return 0;
}
