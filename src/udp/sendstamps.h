// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SendStamps: the system's transmit stamps of a socket's datagrams, each
// kept with the send it stamps.
//
// A socket that asked for them (EnableArrivalStamps with sendStamps) has
// every datagram stamped as it leaves, and the stamp queued on its error
// queue (TakeErrorQueue) numbered by the order of the sends, from 0, in 32
// bits.  The owner counts every datagram the system took (sent, with the
// time it was handed over) and hands each stamp over as it is read
// (stamped); at() then tells when a send left.
//
// A stamp is not its send's when it is earlier than the send was handed
// over, later than the next send was, or a second or more after it (the
// system numbered a send that failed, the counts went apart): it is
// dropped, and the owner times that send by its own clock.  The last
// Remembered sends are kept.

#include <cstddef>
#include <cstdint>
#include <vector>

class SendStamps
{
public:
    static constexpr std::size_t Remembered = 1024;
    static constexpr std::int64_t LatestUs = 1'000'000;

    // first: the number of the next send (0 for a socket made anew; a test
    // starts near the wrap of the system's 32 bits).
    explicit SendStamps(std::uint64_t first = 0) : m_sends(first) {}

    // The system took a datagram handed over at handedUs (microseconds on
    // the monotonic clock): its number.
    std::uint64_t sent(std::int64_t handedUs);
    // The number the next datagram sent gets.
    std::uint64_t next() const { return m_sends; }
    // The system stamped its send number (the number's low 32 bits) at atUs.
    void stamped(std::uint32_t number, std::int64_t atUs);
    // When send number left, by the system's stamp; -1 when none came (yet).
    std::int64_t at(std::uint64_t number) const;
    // A socket made anew: the system numbers from 0 again.
    void reset();

private:
    struct Send
    {
        std::uint64_t number = ~std::uint64_t(0);
        std::int64_t handedUs = 0;
        std::int64_t stampUs = -1;
    };
    std::uint64_t m_sends;
    std::vector<Send> m_sent = std::vector<Send>(Remembered);
};
