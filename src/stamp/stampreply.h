// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The session-reflector's answer to a sender's packet, as one function of
// bytes (stampwire.h has the layout):
//
// - as long as the request, but never shorter than the base: a request of
//   fewer octets (a TWAMP-Light sender's) is answered with the base, what it
//   lacks read as zero; shorter than MinSenderBytes, none at all;
// - the sender's number, time stamp, error estimate and SSID copied, T2 and
//   T3 in the format the sender's Z flag asks for (NTP, or PTP), the
//   reflector's own error estimate with the same Z, MBZ zero;
// - the octets past the base copied, and the TLVs in them answered: Extra
//   Padding as it came, Timestamp Information and Class of Service filled
//   in, a TLV of any other type returned with U set, one that runs past
//   the end (or a known one of the wrong length) with M set and the rest
//   left as it came.

#include "stamptime.h"
#include "stampwire.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace Stamp {

// The reflector's clock, as the system tells its state.
struct ReflectorClock
{
    ErrorEstimate estimate; // S, scale and multiplier; Z follows the request
    int taiOffsetS = 0;     // for PTP time stamps
    SyncSource source = SyncSource::FreeRunning;
    StampMethod receiveMethod = StampMethod::SoftwareLocal; // how T2 was taken
    StampMethod sendMethod = StampMethod::SoftwareLocal;    // and T3
};

struct Reflection
{
    qint64 t2Ns = 0; // the request's arrival (real-time clock, ns since 1970)
    qint64 t3Ns = 0; // the answer's sending
    quint8 ttl = 0;  // the request's TTL or hop limit
    quint32 seq = 0; // the reflector's number for this answer
    ReflectorClock clock;
    quint8 dscpReceived = 0; // the request's DSCP and ECN
    quint8 ecnReceived = 0;
    quint8 dscpSent = 0; // the DSCP the answer goes with
};

// The answer to request; empty when it gets none (shorter than
// MinSenderBytes).
QByteArray StampReply(QByteArrayView request, const Reflection &reflection);
// The DSCP a request's Class of Service TLV asks the answer to be sent
// with; none without one.
std::optional<quint8> WantedDscp(QByteArrayView request);

} // namespace Stamp
