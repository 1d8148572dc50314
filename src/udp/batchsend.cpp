// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "batchsend.h"

#include <algorithm>

int SendBatch(int fd, const OutDatagram *datagrams, std::size_t count, int flags)
{
    count = std::min(count, BatchMost);
    mmsghdr messages[BatchMost];
    iovec pieces[BatchMost];
    alignas(cmsghdr) char controls[BatchMost][PacketInfoSpace];
    for (std::size_t i = 0; i < count; ++i) {
        const OutDatagram &d = datagrams[i];
        pieces[i] = {const_cast<char *>(d.bytes), d.size};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = const_cast<sockaddr_storage *>(d.target);
        messages[i].msg_hdr.msg_namelen = d.target ? d.length : 0;
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        if (const std::size_t room = d.from ? WritePacketInfo(*d.from, controls[i]) : 0; room > 0) {
            messages[i].msg_hdr.msg_control = controls[i];
            messages[i].msg_hdr.msg_controllen = room;
        }
    }
    return ::sendmmsg(fd, messages, unsigned(count), flags);
}
