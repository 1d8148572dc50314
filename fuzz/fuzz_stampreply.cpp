// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Fuzzes the two-way measurement reflector's answer on any datagram: it
// never reads past the request's end, and the answer is empty (too short
// for a sender's packet) or as long as the request and at least the base;
// a TLV's type and length come back as they were sent, and so do the octets
// of every TLV but the two the reflector fills in.

#include "stamp/stampreply.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray request(reinterpret_cast<const char *>(data), qsizetype(size));
    Stamp::Reflection reflection;
    reflection.t2Ns = 1'700'000'000'000'000'000;
    reflection.t3Ns = reflection.t2Ns + 1000;
    reflection.dscpSent = Stamp::WantedDscp(request).value_or(0);
    const QByteArray reply = Stamp::StampReply(request, reflection);
    if (request.size() < Stamp::MinSenderBytes) {
        if (!reply.isEmpty())
            std::abort();
        return 0;
    }
    if (reply.size() != qMax(request.size(), Stamp::BaseBytes))
        std::abort();
    const std::vector<Stamp::Tlv> sent = Stamp::ReadTlvs(request), back = Stamp::ReadTlvs(reply);
    if (sent.size() != back.size())
        std::abort();
    for (size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].type != back[i].type || sent[i].length != back[i].length)
            std::abort();
        const bool filled = sent[i].type == quint8(Stamp::TlvType::TimestampInfo)
                            || sent[i].type == quint8(Stamp::TlvType::ClassOfService);
        const qsizetype from = sent[i].at + 1;
        const qsizetype to = qMin(request.size(), sent[i].at + Stamp::TlvHeaderBytes
                                                      + (filled ? 0 : sent[i].length));
        if (request.mid(from, to - from) != reply.mid(from, to - from))
            std::abort();
    }
    return 0;
}
