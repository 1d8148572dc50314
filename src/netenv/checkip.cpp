// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "addressrules.h"
#include "base/conversions.h"
#include "base/failure.h"
#include "localadapters.h"

// The rules for dotted IPv4 addresses, judged against the adapter snapshot
// taken at start-up.
//
// The text is split at every dot and every piece is kept, an empty one too;
// the number of pieces is not checked (a fifth piece is only range-checked).
// An empty piece after the first has no numeric value and is refused with the
// octet message ("10.1.1." reads " is not a valid octet value; " and the
// ranges), so the user gets the reason rather than an error line.  An empty or
// oversized first piece cannot be converted to a byte: that is reported as an
// error line of CheckIP and the address is refused.

namespace {

QString lines(std::initializer_list<const char *> parts)
{
    QStringList all;
    for (const char *part : parts)
        all.append(QString::fromLatin1(part));
    return all.join(CRLF);
}

QString firstOctetMessage()
{
    return lines({"Only numbers between:", "1 - 126", "..and..", "128 - 223..",
                  "are valid in the 1st octet"});
}

QString octetMessage()
{
    return lines(
        {"Only numbers between:", "0", "..and..", "255..", "are valid in the 2nd - 4th octets"});
}

// An octet's value when it has one in 0 to 255.
bool octetInRange(const QString &octet)
{
    const auto value = ParseNumber(octet);
    return value && *value >= 0 && *value <= 255;
}

const QString &piece(const QStringList &parts, qsizetype index)
{
    if (index < 0 || index >= parts.size())
        Raise(rt::SubscriptOutOfRange);
    return parts[index];
}

// Whether every octet's bits that the mask leaves clear are all ones or all
// zeros.
bool broadcastUnder(const QStringList &maskParts, const QStringList &octets)
{
    int ones = 0;
    int zeros = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        const quint8 m = ToByte(piece(maskParts, i));
        const quint8 t = ToByte(piece(octets, i));
        const quint8 x = m | t;
        if (x == 255)
            ++ones;
        else if ((m ^ x) == 0)
            ++zeros;
    }
    return ones + zeros == 4;
}

} // namespace

const AdapterSet &AddressRules::snapshot() const
{
    const auto &adapters = m_adapters.adapterSet();
    if (!adapters)
        Raise(rt::ObjectNotSet);
    return *adapters;
}

bool AddressRules::CheckIP(const QString &ip, QString &message) const
{
    bool answer = false;
    QString reason = message;
    const bool completed = Guard(m_report, QStringLiteral(" in mdlMain.CheckIP; "), [&] {
        for (const Adapter &adapter : snapshot()) {
            if (adapter.IPAddress.contains(ip)) {
                reason = QStringLiteral("Cannot connect to yourself");
                return;
            }
        }

        const QStringList octets = ip.split(u'.', Qt::KeepEmptyParts);
        const quint8 first = ToByte(octets.first());
        if (first == 0 || first == 255) {
            reason = firstOctetMessage();
            return;
        }
        if (first >= 240) {
            reason = QStringLiteral("Class 'D' IP addresses (240.x.x.x) are not supported");
            return;
        }
        if (first >= 224) {
            reason = QStringLiteral(
                "Multicast IP addresses (224.x.x.x - 239.x.x.x) are not supported");
            return;
        }
        if (first == 127) {
            reason = QStringLiteral("LocalHost IP addresses (127.x.x.x) are not valid");
            return;
        }

        for (const QString &octet : octets) {
            if (!octetInRange(octet)) {
                reason = octet + QStringLiteral(" is not a valid octet value; ") + CRLF
                         + octetMessage();
                return;
            }
        }

        if (CheckIsBcst(octets)) {
            reason = QStringLiteral("Broadcast IP addresses are not supported");
            return;
        }
        answer = true;
    });
    // A failure leaves the caller's message as it was.
    if (completed)
        message = reason;
    return completed && answer;
}

bool AddressRules::CheckIsBcst(const QStringList &octets) const
{
    // A failure keeps the answer as it stood: a broadcast address.
    bool answer = true;
    Guard(m_report, QStringLiteral(" in mdlMain.CheckIsBcst; "), [&] {
        int compared = 0;
        for (const Adapter &adapter : snapshot()) {
            for (const QString &mask : adapter.IPSubnet) {
                if (mask == QLatin1String("255.255.255.255")) {
                    ++compared;
                    continue;
                }
                if (mask.isEmpty())
                    continue;
                const QStringList maskParts = mask.split(u'.');
                // The octets are read only here, when a mask is tested: an
                // address with fewer than four of them fails at its first test.
                for (qsizetype n = 0; n < adapter.IPAddress.size(); ++n) {
                    if (broadcastUnder(maskParts, octets))
                        return;
                    ++compared;
                }
            }
        }
        if (compared > 0)
            answer = false;
    });
    return answer;
}
