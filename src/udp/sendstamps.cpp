// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sendstamps.h"

namespace {
constexpr std::uint64_t Wrap = std::uint64_t(1) << 32;
} // namespace

std::uint64_t SendStamps::sent(std::int64_t handedUs)
{
    m_sent[m_sends % Remembered] = {m_sends, handedUs, -1};
    return m_sends++;
}

void SendStamps::stamped(std::uint32_t number, std::int64_t atUs)
{
    if (m_sends == 0)
        return;
    // The system's number is 32 bits; ours counts on.  The stamp is of the
    // last send of that number so far.
    const std::uint64_t last = m_sends - 1;
    std::uint64_t full = (last & ~(Wrap - 1)) | number;
    if (full > last) {
        if (full < Wrap)
            return;
        full -= Wrap;
    }
    Send &send = m_sent[full % Remembered];
    if (send.number != full || atUs < send.handedUs || atUs - send.handedUs >= LatestUs)
        return;
    if (const Send &after = m_sent[(full + 1) % Remembered];
        after.number == full + 1 && atUs > after.handedUs)
        return;
    send.stampUs = atUs;
}

std::int64_t SendStamps::at(std::uint64_t number) const
{
    const Send &send = m_sent[number % Remembered];
    return send.number == number ? send.stampUs : -1;
}

void SendStamps::reset()
{
    m_sends = 0;
    m_sent.assign(Remembered, {});
}
