// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "localaddress.h"

#include <QElapsedTimer>
#include <QNetworkInterface>

#include <mutex>

#include <net/if.h>

namespace {

// The IPv4 address an IPv4-mapped IPv6 address (::ffff:a.b.c.d) stands for.
// QHostAddress::toIPv4Address also converts "::", which is no IPv4 address.
bool mappedIPv4(const QHostAddress &address, quint32 *ip4)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        *ip4 = address.toIPv4Address();
        return true;
    }
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 10; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    if (bytes[10] != 0xff || bytes[11] != 0xff)
        return false;
    *ip4
        = quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 | quint32(bytes[14]) << 8 | bytes[15];
    return true;
}

bool usable(const QNetworkInterface &nic)
{
    const auto flags = nic.flags();
    return (flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::IsRunning)
           && !(flags & QNetworkInterface::IsLoopBack);
}

// Four groups of one to three ASCII digits, separated by dots.
bool isDottedQuad(QStringView text)
{
    int groups = 0, digits = 0;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9') {
            if (++digits > 3)
                return false;
        } else if (c == u'.' && digits > 0 && groups < 3) {
            ++groups;
            digits = 0;
        } else {
            return false;
        }
    }
    return groups == 3 && digits > 0;
}

QString primaryAddressNow(bool ipv6First)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const bool ipv6 : {ipv6First, !ipv6First}) {
        for (const QNetworkInterface &nic : interfaces) {
            if (!usable(nic))
                continue;
            const auto entries = nic.addressEntries();
            for (const QNetworkAddressEntry &entry : entries) {
                const QHostAddress ip = entry.ip();
                const bool isIPv6 = ip.protocol() == QAbstractSocket::IPv6Protocol;
                if (isIPv6 == ipv6 && !ip.isLoopback() && !ip.isLinkLocal())
                    return AddressText(ip);
            }
        }
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace

QString PrimaryAddress(bool ipv6First)
{
    // A memo of the system's state, not of the program's: one per process.
    static std::mutex lock;
    static QElapsedTimer age[2];
    static QString found[2];
    const std::lock_guard<std::mutex> held(lock);
    if (!age[ipv6First].isValid() || age[ipv6First].hasExpired(1000)) {
        found[ipv6First] = primaryAddressNow(ipv6First);
        age[ipv6First].start();
    }
    return found[ipv6First];
}

QString AddressText(const QHostAddress &address)
{
    if (address.isNull())
        return QString();
    quint32 ip4 = 0;
    if (mappedIPv4(address, &ip4))
        return QHostAddress(ip4).toString();
    return address.toString();
}

bool ParseAddress(const QString &text, QHostAddress *address)
{
    const QString trimmed = text.trimmed();
    if (trimmed.contains(u':')) {
        QString literal = trimmed;
        if (literal.startsWith(u'[') && literal.endsWith(u']'))
            literal = literal.mid(1, literal.size() - 2);
        QHostAddress parsed;
        if (literal.contains(u'[') || !parsed.setAddress(literal)
            || parsed.protocol() != QAbstractSocket::IPv6Protocol)
            return false;
        quint32 ip4 = 0;
        *address = mappedIPv4(parsed, &ip4) ? QHostAddress(ip4) : parsed;
        return true;
    }
    // Four decimal octets only: shorter forms ("127.1") are left to the
    // name look-up, as the platform's resolver knows them.
    if (!isDottedQuad(trimmed))
        return false;
    QHostAddress parsed;
    if (!parsed.setAddress(trimmed) || parsed.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    *address = parsed;
    return true;
}

bool IsLocalAddress(const QString &address)
{
    for (const QHostAddress &own : QNetworkInterface::allAddresses())
        if (AddressText(own) == address)
            return true;
    return false;
}

quint32 ZoneIndex(const QString &zone)
{
    bool numeric = false;
    const quint32 number = zone.toUInt(&numeric);
    return numeric ? number : if_nametoindex(zone.toLocal8Bit().constData());
}
