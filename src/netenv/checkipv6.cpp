// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "addressrules.h"
#include "base/failure.h"
#include "localadapters.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <array>
#include <optional>

// The rules for IPv6 literals, judged against the adapter snapshot taken at
// start-up.
//
// A literal is an address as the system's inet_pton reads it (hexadecimal
// groups, "::" once, an IPv4 tail), optionally in one pair of brackets and
// optionally followed by "%" and a zone (an interface name or number).
// Anything else with a colon is malformed and gets the character message,
// as every text with a colon did before IPv6 literals were taken.  An
// IPv4-mapped address is an IPv4 address written in IPv6 form: CheckIP
// judges it, with the same reasons and error lines as the dotted form.

namespace {

struct Literal
{
    std::array<quint8, 16> bytes{};
    QString zone;
};

bool isZoneCharacter(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')
           || c == u'-' || c == u'_' || c == u'.';
}

bool isLiteralCharacter(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')
           || c == u':' || c == u'.';
}

std::optional<Literal> parseLiteral(const QString &text)
{
    QString body = text;
    if (body.startsWith(u'[') && body.endsWith(u']'))
        body = body.mid(1, body.size() - 2);
    Literal literal;
    const qsizetype percent = body.indexOf(u'%');
    if (percent >= 0) {
        literal.zone = body.mid(percent + 1);
        body.truncate(percent);
        if (literal.zone.isEmpty()
            || !std::all_of(literal.zone.begin(), literal.zone.end(), isZoneCharacter))
            return std::nullopt;
    }
    if (!std::all_of(body.begin(), body.end(), isLiteralCharacter))
        return std::nullopt;
    if (inet_pton(AF_INET6, body.toLatin1().constData(), literal.bytes.data()) != 1)
        return std::nullopt;
    return literal;
}

bool isLinkLocal(const Literal &literal)
{
    return literal.bytes[0] == 0xfe && (literal.bytes[1] & 0xc0) == 0x80;
}

// The same zone: the same text, or two texts naming the same interface
// ("eth0" and its number).
bool sameZone(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const auto index = [](const QString &zone) {
        bool numeric = false;
        const uint number = zone.toUInt(&numeric);
        return numeric ? number : if_nametoindex(zone.toLocal8Bit().constData());
    };
    const uint first = index(a);
    return first != 0 && first == index(b);
}

bool isOwn(const Literal &literal, const AdapterSet &adapters)
{
    for (const Adapter &adapter : adapters) {
        for (const QString &own : adapter.IPv6Address) {
            const auto parsed = parseLiteral(own);
            if (parsed && parsed->bytes == literal.bytes
                && (!isLinkLocal(literal) || sameZone(parsed->zone, literal.zone)))
                return true;
        }
    }
    return false;
}

} // namespace

bool AddressRules::CheckIPv6(const QString &address, QString &message) const
{
    bool answer = false;
    QString reason = message;
    const bool completed = Guard(m_report, QStringLiteral(" in mdlMain.CheckIPv6; "), [&] {
        const auto literal = parseLiteral(address);
        if (!literal) {
            reason = characterMessage();
            return;
        }
        const auto &b = literal->bytes;
        const bool mapped = std::all_of(b.begin(), b.begin() + 10, [](quint8 x) { return x == 0; })
                            && b[10] == 0xff && b[11] == 0xff;
        if (mapped) {
            answer = CheckIP(
                QStringLiteral("%1.%2.%3.%4").arg(b[12]).arg(b[13]).arg(b[14]).arg(b[15]), reason);
            return;
        }
        const bool zeroHead
            = std::all_of(b.begin(), b.begin() + 15, [](quint8 x) { return x == 0; });
        if (isOwn(*literal, snapshot()))
            reason = QStringLiteral("Cannot connect to yourself");
        else if (zeroHead && b[15] == 0)
            reason = QStringLiteral("Unspecified IPv6 addresses (::) are not valid");
        else if (zeroHead && b[15] == 1)
            reason = QStringLiteral("LocalHost IPv6 addresses (::1) are not valid");
        else if (b[0] == 0xff)
            reason = QStringLiteral("Multicast IPv6 addresses (ff00::/8) are not supported");
        else if (isLinkLocal(*literal) && literal->zone.isEmpty())
            reason = QStringLiteral(
                "Link-local IPv6 addresses (fe80::/10) need a zone, e.g. fe80::1%eth0");
        else
            answer = true;
    });
    // A failure leaves the caller's message as it was.
    if (completed)
        message = reason;
    return completed && answer;
}
