// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The time stamps of the two-way measurement's test packets and the error
// estimate beside them, as 64-bit and 16-bit numbers of the wire.
//
// Times are nanoseconds since 1970-01-01 UTC (the real-time clock's).  Two
// formats carry them:
//
//   NTP        seconds since 1900-01-01 (32 bits) and a binary fraction of
//              a second (32 bits): the default
//   PTP        seconds (32 bits) and nanoseconds (32 bits) since 1970 on
//              TAI, which runs ahead of UTC by the system's TAI offset
//              (0 when the system was never told it): truncated PTPv2
//
// The error estimate (16 bits): S (the clock is synchronized to UTC from
// outside), Z (the time stamps beside it are PTP), a scale (6 bits) and a
// multiplier (8 bits, never 0): multiplier * 2^(scale - 32) seconds.

#include <QtGlobal>

inline constexpr qint64 NtpEraOffsetS = 2'208'988'800; // 1900 to 1970

quint64 NtpStamp(qint64 unixNs);
qint64 NtpStampNs(quint64 stamp);
quint64 PtpStamp(qint64 unixNs, int taiOffsetS);
qint64 PtpStampNs(quint64 stamp, int taiOffsetS);

struct ErrorEstimate
{
    bool synchronized = false; // S
    bool ptp = false;          // Z
    quint8 scale = 0;          // 0 to 63
    quint8 multiplier = 1;     // 1 to 255

    bool operator==(const ErrorEstimate &) const = default;
};

quint16 PackErrorEstimate(const ErrorEstimate &estimate);
ErrorEstimate ReadErrorEstimate(quint16 bits);
// The smallest estimate that is at least errorNs (at least 1 ns).
ErrorEstimate EstimateOf(qint64 errorNs, bool synchronized);
// What an estimate says, in nanoseconds (rounded up; at most about 2^31 s).
qint64 EstimateNs(const ErrorEstimate &estimate);
