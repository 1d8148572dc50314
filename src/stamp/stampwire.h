// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The two-way measurement's test packets in unauthenticated mode, numbers
// big-endian, and the extensions (TLVs) that follow them.
//
// The session-sender's packet (BaseBytes):
//
//   0  sequence number     4   the sender's, from 0
//   4  time stamp          8   T1, NTP or PTP as the error estimate's Z says
//  12  error estimate      2   (stamptime.h)
//  14  SSID                2   the session's identifier (0 where not used)
//  16  MBZ                28   zero
//
// The session-reflector's packet (BaseBytes):
//
//   0  sequence number     4   the reflector's own, per session, from 0
//   4  time stamp          8   T3, when it was sent
//  12  error estimate      2   the reflector's
//  14  SSID                2   the sender's, copied
//  16  receive time stamp  8   T2, when the sender's packet arrived
//  24  sender's number     4   copied
//  28  sender's time stamp 8   copied
//  36  sender's estimate   2   copied
//  38  MBZ                 2
//  40  sender's TTL        1   the TTL (hop limit) the sender's packet arrived with
//  41  MBZ                 3
//
// After the base, in both, TLVs: flags (U: not understood, M: malformed,
// I: failed its integrity check), a type, the length of the value (2), the
// value.  A sender that predates them (a TWAMP-Light one) may send as few as
// MinSenderBytes, or padding where TLVs would be.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace Stamp {

inline constexpr qsizetype BaseBytes = 44;
// The sender's number, time stamp and error estimate: the least a sender of
// either protocol sends.
inline constexpr qsizetype MinSenderBytes = 14;
// The reflector's packet up to the sender's TTL: the least either sends.
inline constexpr qsizetype MinReflectorBytes = 41;
inline constexpr qsizetype TlvHeaderBytes = 4;
inline constexpr quint16 DefaultPort = 862;

inline constexpr quint8 FlagU = 0x80, FlagM = 0x40, FlagI = 0x20;

enum class TlvType : quint8 {
    ExtraPadding = 1,
    TimestampInfo = 3,
    ClassOfService = 4,
};

// Where a clock's time comes from, and how a time stamp was taken (the
// Timestamp Information TLV's values).
enum class SyncSource : quint8 { Ntp = 1, Ptp = 2, FreeRunning = 5 };
enum class StampMethod : quint8 { HardwareAssist = 1, SoftwareLocal = 2, ControlPlane = 3 };

struct SenderPacket
{
    quint32 seq = 0;
    quint64 timestamp = 0;
    quint16 errorEstimate = 0;
    quint16 ssid = 0;
};

struct ReflectorPacket
{
    quint32 seq = 0;
    quint64 timestamp = 0; // T3
    quint16 errorEstimate = 0;
    quint16 ssid = 0;
    quint64 receiveTimestamp = 0; // T2
    quint32 senderSeq = 0;
    quint64 senderTimestamp = 0;
    quint16 senderErrorEstimate = 0;
    quint8 senderTtl = 0;
};

// The fields a sender's packet of at least MinSenderBytes holds; what it
// lacks of the base reads as zero.  Shorter: none.
std::optional<SenderPacket> ReadSenderPacket(QByteArrayView bytes);
// BaseBytes of a sender's packet, the MBZ zero.
QByteArray SenderBytes(const SenderPacket &packet);
// A reflector's packet of at least MinReflectorBytes (a TWAMP-Light
// reflector may end it after the sender's TTL); shorter: none.
std::optional<ReflectorPacket> ReadReflectorPacket(QByteArrayView bytes);
// Writes the reflector's base into at (BaseBytes), the MBZ zero.
void WriteReflectorPacket(const ReflectorPacket &packet, char *at);

struct Tlv
{
    quint8 flags = 0;
    quint8 type = 0;
    qsizetype at = 0;     // the header's offset in the packet
    quint16 length = 0;   // of the value, which follows the header
    bool complete = true; // the value ends within the packet
};

// The TLVs after the base of packet, in order, up to the first whose value
// runs past the packet's end (that one last, not complete).  Fewer than a
// header's octets left over are no TLV.
std::vector<Tlv> ReadTlvs(QByteArrayView packet);
// A TLV's header and value.
QByteArray TlvBytes(quint8 flags, TlvType type, QByteArrayView value);

// The Class of Service TLV's value: DSCP1 (6 bits: the one the sender wants
// the answer sent with), DSCP2 (6: the one the reflector received), ECN (2:
// received), RP (2: 1 when the reflector did not send with DSCP1).
struct ClassOfService
{
    quint8 dscpWanted = 0;
    quint8 dscpReceived = 0;
    quint8 ecnReceived = 0;
    quint8 rp = 0;
};
ClassOfService ReadClassOfService(const char *value);
void WriteClassOfService(const ClassOfService &cos, char *value);

quint32 ReadU32(const char *at);
quint64 ReadU64(const char *at);
void WriteU16(char *at, quint16 value);
void WriteU32(char *at, quint32 value);
void WriteU64(char *at, quint64 value);

} // namespace Stamp
