// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampreply.h"

#include <QtEndian>

namespace Stamp {

namespace {

constexpr quint16 TimestampInfoBytes = 4, ClassOfServiceBytes = 4;

// The length a known TLV's value must have; 0 for any length.
int knownLength(quint8 type)
{
    switch (TlvType(type)) {
    case TlvType::ExtraPadding: return 0;
    case TlvType::TimestampInfo: return TimestampInfoBytes;
    case TlvType::ClassOfService: return ClassOfServiceBytes;
    }
    return -1;
}

// Answers one complete TLV of the reply in place.
void answerTlv(char *header, quint8 type, const Reflection &reflection)
{
    char *value = header + TlvHeaderBytes;
    const ReflectorClock &clock = reflection.clock;
    switch (TlvType(type)) {
    case TlvType::ExtraPadding: break;
    case TlvType::TimestampInfo:
        // The source and method of T2 ("in") and T3 ("out").
        value[0] = char(clock.source);
        value[1] = char(clock.receiveMethod);
        value[2] = char(clock.source);
        value[3] = char(clock.sendMethod);
        break;
    case TlvType::ClassOfService: {
        ClassOfService cos = ReadClassOfService(value);
        cos.dscpReceived = reflection.dscpReceived;
        cos.ecnReceived = reflection.ecnReceived;
        cos.rp = reflection.dscpSent == cos.dscpWanted ? 0 : 1;
        WriteClassOfService(cos, value);
        break;
    }
    }
}

void answerTlvs(QByteArray &reply, const Reflection &reflection)
{
    for (const Tlv &tlv : ReadTlvs(reply)) {
        char *header = reply.data() + tlv.at;
        const int length = knownLength(tlv.type);
        quint8 flags = tlv.flags & ~(FlagU | FlagM);
        if (!tlv.complete || (length > 0 && tlv.length != length))
            flags |= FlagM;
        else if (length < 0)
            flags |= FlagU;
        else
            answerTlv(header, tlv.type, reflection);
        header[0] = char(flags);
    }
}

} // namespace

QByteArray StampReply(QByteArrayView request, const Reflection &reflection)
{
    const std::optional<SenderPacket> sender = ReadSenderPacket(request);
    if (!sender)
        return {};
    QByteArray reply(qMax(request.size(), BaseBytes), '\0');
    if (request.size() > BaseBytes)
        std::copy(request.begin() + BaseBytes, request.end(), reply.begin() + BaseBytes);
    ErrorEstimate own = reflection.clock.estimate;
    own.ptp = ReadErrorEstimate(sender->errorEstimate).ptp;
    const int tai = reflection.clock.taiOffsetS;
    const auto stamp = [&](qint64 ns) { return own.ptp ? PtpStamp(ns, tai) : NtpStamp(ns); };
    WriteReflectorPacket({reflection.seq, stamp(reflection.t3Ns), PackErrorEstimate(own),
                          sender->ssid, stamp(reflection.t2Ns), sender->seq, sender->timestamp,
                          sender->errorEstimate, reflection.ttl},
                         reply.data());
    answerTlvs(reply, reflection);
    return reply;
}

std::optional<quint8> WantedDscp(QByteArrayView request)
{
    for (const Tlv &tlv : ReadTlvs(request))
        if (tlv.complete && tlv.type == quint8(TlvType::ClassOfService)
            && tlv.length == ClassOfServiceBytes)
            return ReadClassOfService(request.data() + tlv.at + TlvHeaderBytes).dscpWanted;
    return std::nullopt;
}

} // namespace Stamp
