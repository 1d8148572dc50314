// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stamptime.h"

#include <limits>

namespace {
constexpr qint64 NsPerS = 1'000'000'000;

// Floor division: a time before 1970 keeps its nanoseconds positive.
qint64 secondsOf(qint64 ns)
{
    return ns >= 0 ? ns / NsPerS : -((-ns + NsPerS - 1) / NsPerS);
}
} // namespace

quint64 NtpStamp(qint64 unixNs)
{
    const qint64 seconds = secondsOf(unixNs);
    const quint64 ns = quint64(unixNs - seconds * NsPerS);
    // The fraction rounded to the nearest 2^-32 s; 999999999.9 ns stays
    // below the next second.
    quint64 fraction = ((ns << 32) + NsPerS / 2) / NsPerS;
    if (fraction > 0xFFFF'FFFFu)
        fraction = 0xFFFF'FFFFu;
    return (quint64(quint32(seconds + NtpEraOffsetS)) << 32) | fraction;
}

qint64 NtpStampNs(quint64 stamp)
{
    const qint64 seconds = qint64(stamp >> 32) - NtpEraOffsetS;
    const qint64 ns = qint64(((stamp & 0xFFFF'FFFFu) * NsPerS + (1ull << 31)) >> 32);
    return seconds * NsPerS + ns;
}

quint64 PtpStamp(qint64 unixNs, int taiOffsetS)
{
    const qint64 seconds = secondsOf(unixNs);
    const quint64 ns = quint64(unixNs - seconds * NsPerS);
    return (quint64(quint32(seconds + taiOffsetS)) << 32) | ns;
}

qint64 PtpStampNs(quint64 stamp, int taiOffsetS)
{
    const qint64 ns = qint64(stamp & 0xFFFF'FFFFu);
    return (qint64(stamp >> 32) - taiOffsetS) * NsPerS + ns;
}

quint16 PackErrorEstimate(const ErrorEstimate &estimate)
{
    return quint16((estimate.synchronized ? 0x8000 : 0) | (estimate.ptp ? 0x4000 : 0)
                   | (estimate.scale & 0x3F) << 8 | estimate.multiplier);
}

ErrorEstimate ReadErrorEstimate(quint16 bits)
{
    return {(bits & 0x8000) != 0, (bits & 0x4000) != 0, quint8((bits >> 8) & 0x3F),
            quint8(bits & 0xFF)};
}

ErrorEstimate EstimateOf(qint64 errorNs, bool synchronized)
{
    // multiplier * 2^scale units of 2^-32 s must reach errorNs.
    const qint64 units = qMax<qint64>(1, errorNs);
    // errorNs * 2^32 / 1e9, rounded up, without overflow up to 2^31 s.
    const double wanted = double(units) * 4.294967296;
    ErrorEstimate estimate{synchronized, false, 0, 1};
    double step = 1;
    while (estimate.scale < 63 && wanted > 255 * step) {
        ++estimate.scale;
        step *= 2;
    }
    const double multiplier = wanted / step;
    estimate.multiplier = quint8(
        qBound(1.0, multiplier == qint64(multiplier) ? multiplier : double(qint64(multiplier) + 1),
               255.0));
    return estimate;
}

qint64 EstimateNs(const ErrorEstimate &estimate)
{
    const double seconds
        = double(estimate.multiplier) * double(1ull << estimate.scale) / 4294967296.0;
    const double ns = seconds * double(NsPerS);
    return ns >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(ns + 0.999999);
}
