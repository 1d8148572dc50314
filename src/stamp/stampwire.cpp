// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stampwire.h"

#include <QtEndian>

#include <cstring>

namespace Stamp {

quint32 ReadU32(const char *at)
{
    return qFromBigEndian<quint32>(at);
}

quint64 ReadU64(const char *at)
{
    return qFromBigEndian<quint64>(at);
}

void WriteU16(char *at, quint16 value)
{
    qToBigEndian(value, at);
}

void WriteU32(char *at, quint32 value)
{
    qToBigEndian(value, at);
}

void WriteU64(char *at, quint64 value)
{
    qToBigEndian(value, at);
}

std::optional<SenderPacket> ReadSenderPacket(QByteArrayView bytes)
{
    if (bytes.size() < MinSenderBytes)
        return std::nullopt;
    char base[BaseBytes] = {};
    std::memcpy(base, bytes.data(), size_t(qMin(bytes.size(), BaseBytes)));
    return SenderPacket{ReadU32(base), ReadU64(base + 4), qFromBigEndian<quint16>(base + 12),
                        qFromBigEndian<quint16>(base + 14)};
}

QByteArray SenderBytes(const SenderPacket &packet)
{
    QByteArray bytes(BaseBytes, '\0');
    WriteU32(bytes.data(), packet.seq);
    WriteU64(bytes.data() + 4, packet.timestamp);
    WriteU16(bytes.data() + 12, packet.errorEstimate);
    WriteU16(bytes.data() + 14, packet.ssid);
    return bytes;
}

std::optional<ReflectorPacket> ReadReflectorPacket(QByteArrayView bytes)
{
    if (bytes.size() < MinReflectorBytes)
        return std::nullopt;
    const char *b = bytes.data();
    return ReflectorPacket{ReadU32(b),
                           ReadU64(b + 4),
                           qFromBigEndian<quint16>(b + 12),
                           qFromBigEndian<quint16>(b + 14),
                           ReadU64(b + 16),
                           ReadU32(b + 24),
                           ReadU64(b + 28),
                           qFromBigEndian<quint16>(b + 36),
                           quint8(b[40])};
}

void WriteReflectorPacket(const ReflectorPacket &packet, char *at)
{
    std::memset(at, 0, BaseBytes);
    WriteU32(at, packet.seq);
    WriteU64(at + 4, packet.timestamp);
    WriteU16(at + 12, packet.errorEstimate);
    WriteU16(at + 14, packet.ssid);
    WriteU64(at + 16, packet.receiveTimestamp);
    WriteU32(at + 24, packet.senderSeq);
    WriteU64(at + 28, packet.senderTimestamp);
    WriteU16(at + 36, packet.senderErrorEstimate);
    at[40] = char(packet.senderTtl);
}

std::vector<Tlv> ReadTlvs(QByteArrayView packet)
{
    std::vector<Tlv> tlvs;
    for (qsizetype at = BaseBytes; packet.size() - at >= TlvHeaderBytes;) {
        const char *header = packet.data() + at;
        Tlv tlv{quint8(header[0]), quint8(header[1]), at, qFromBigEndian<quint16>(header + 2)};
        tlv.complete = tlv.length <= packet.size() - at - TlvHeaderBytes;
        tlvs.push_back(tlv);
        if (!tlv.complete)
            break;
        at += TlvHeaderBytes + tlv.length;
    }
    return tlvs;
}

QByteArray TlvBytes(quint8 flags, TlvType type, QByteArrayView value)
{
    QByteArray bytes(TlvHeaderBytes, '\0');
    bytes[0] = char(flags);
    bytes[1] = char(type);
    WriteU16(bytes.data() + 2, quint16(value.size()));
    return bytes + value.toByteArray();
}

ClassOfService ReadClassOfService(const char *value)
{
    const auto b0 = quint8(value[0]), b1 = quint8(value[1]);
    return {quint8(b0 >> 2), quint8((b0 & 0x3) << 4 | b1 >> 4), quint8((b1 >> 2) & 0x3),
            quint8(b1 & 0x3)};
}

void WriteClassOfService(const ClassOfService &cos, char *value)
{
    value[0] = char((cos.dscpWanted & 0x3F) << 2 | (cos.dscpReceived & 0x3F) >> 4);
    value[1] = char((cos.dscpReceived & 0xF) << 4 | (cos.ecnReceived & 0x3) << 2 | (cos.rp & 0x3));
    value[2] = value[3] = 0;
}

} // namespace Stamp
