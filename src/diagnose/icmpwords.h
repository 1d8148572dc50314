// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// An ICMP or ICMPv6 message's type and code in words, as an administrator
// reads them: "destination unreachable, host unreachable".

#include <QString>

QString IcmpWords(bool ipv6, int type, int code);

// Whether the message is "time exceeded" (a hop limit ran out on the way).
bool IcmpTimeExceeded(bool ipv6, int type);
// Whether it is the host's own "port unreachable".
bool IcmpPortUnreachable(bool ipv6, int type, int code);
// Whether it is "host unreachable" (ICMPv6: "address unreachable"), what a
// router says once its look-up of the host on its own link found nobody.
bool IcmpHostUnreachable(bool ipv6, int type, int code);
// Whether it is "fragmentation needed" / "packet too big".
bool IcmpTooBig(bool ipv6, int type, int code);
