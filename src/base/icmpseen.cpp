// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "icmpseen.h"

#include <QStringList>

namespace {

// ICMP (RFC 792, 1122, 1812): destination unreachable, its codes.
const QStringList Unreachable4 = {
    "network unreachable",
    "host unreachable",
    "protocol unreachable",
    "port unreachable",
    "fragmentation needed",
    "source route failed",
    "destination network unknown",
    "destination host unknown",
    "source host isolated",
    "network administratively prohibited",
    "host administratively prohibited",
    "network unreachable for the type of service",
    "host unreachable for the type of service",
    "communication administratively prohibited",
    "host precedence violation",
    "precedence cut-off in effect",
};

// ICMPv6 (RFC 4443): destination unreachable, its codes.
const QStringList Unreachable6 = {
    "no route to destination",
    "communication administratively prohibited",
    "beyond the scope of the source address",
    "address unreachable",
    "port unreachable",
    "source address failed ingress/egress policy",
    "reject route to destination",
};

QString coded(const QString &what, int code)
{
    return QStringLiteral("%1, code %2").arg(what).arg(code);
}

} // namespace

QString IcmpWords(bool ipv6, int type, int code)
{
    if (!ipv6) {
        switch (type) {
        case 3:
            return QStringLiteral("destination unreachable, ")
                   + (code >= 0 && code < Unreachable4.size()
                          ? Unreachable4.at(code)
                          : QStringLiteral("code %1").arg(code));
        case 11:
            return code == 0 ? QStringLiteral("time exceeded in transit")
                             : QStringLiteral("time exceeded in reassembly");
        case 12: return QStringLiteral("parameter problem");
        case 5: return QStringLiteral("redirect");
        case 4: return QStringLiteral("source quench");
        default: return coded(QStringLiteral("ICMP type %1").arg(type), code);
        }
    }
    switch (type) {
    case 1:
        return QStringLiteral("destination unreachable, ")
               + (code >= 0 && code < Unreachable6.size() ? Unreachable6.at(code)
                                                          : QStringLiteral("code %1").arg(code));
    case 2: return QStringLiteral("packet too big");
    case 3:
        return code == 0 ? QStringLiteral("time exceeded in transit (hop limit)")
                         : QStringLiteral("time exceeded in reassembly");
    case 4: return QStringLiteral("parameter problem");
    default: return coded(QStringLiteral("ICMPv6 type %1").arg(type), code);
    }
}

bool IcmpTimeExceeded(bool ipv6, int type)
{
    return type == (ipv6 ? 3 : 11);
}

bool IcmpPortUnreachable(bool ipv6, int type, int code)
{
    return ipv6 ? type == 1 && code == 4 : type == 3 && code == 3;
}

bool IcmpHostUnreachable(bool ipv6, int type, int code)
{
    return ipv6 ? type == 1 && code == 3 : type == 3 && code == 1;
}

bool IcmpTooBig(bool ipv6, int type, int code)
{
    return ipv6 ? type == 2 : type == 3 && code == 4;
}
