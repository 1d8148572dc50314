// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "responderlimits.h"

#include <arpa/inet.h>

#include <cstring>

std::optional<AddressOctets> ReadAddressOctets(QString text)
{
    if (text.startsWith(u'[') && text.endsWith(u']'))
        text = text.mid(1, text.size() - 2);
    text = text.section(u'%', 0, 0);
    const QByteArray bytes = text.toLatin1();
    AddressOctets octets{};
    if (::inet_pton(AF_INET, bytes.constData(), octets.data() + 12) == 1) {
        octets[10] = octets[11] = 0xFF;
        return octets;
    }
    if (::inet_pton(AF_INET6, bytes.constData(), octets.data()) == 1)
        return octets;
    return std::nullopt;
}

QString AddressText(const AddressOctets &octets)
{
    static constexpr unsigned char Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    char text[INET6_ADDRSTRLEN] = {};
    if (std::memcmp(octets.data(), Mapped, 12) == 0)
        ::inet_ntop(AF_INET, octets.data() + 12, text, sizeof text);
    else
        ::inet_ntop(AF_INET6, octets.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

bool AddressRange::contains(const AddressOctets &address) const
{
    const int whole = prefix / 8, bits = prefix % 8;
    if (std::memcmp(address.data(), base.data(), size_t(whole)) != 0)
        return false;
    const auto mask = static_cast<unsigned char>(0xFF00 >> bits);
    return bits == 0 || ((address[size_t(whole)] ^ base[size_t(whole)]) & mask) == 0;
}

QString AddressRangeText(const AddressRange &range)
{
    const bool v4 = AddressText(range.base).contains(u'.');
    return AddressText(range.base) + u'/' + QString::number(range.prefix - (v4 ? 96 : 0));
}

std::optional<AddressRange> ReadAddressRange(const QString &text, QString *why)
{
    const QString address = text.section(u'/', 0, 0), length = text.section(u'/', 1);
    const std::optional<AddressOctets> base = ReadAddressOctets(address);
    const bool v4 = !address.contains(u':');
    const int most = v4 ? 32 : 128;
    bool ok = true;
    const int prefix = text.contains(u'/') ? length.toInt(&ok) : most;
    if (!base || text.contains(u'%') || !ok || prefix < 0 || prefix > most
        || (!length.isEmpty() && !length.front().isDigit())) {
        *why = QStringLiteral("--allow: \"%1\" is no address range (e.g. 192.0.2.0/24, "
                              "2001:db8::/32, 192.0.2.7).")
                   .arg(text);
        return std::nullopt;
    }
    AddressRange range{*base, prefix + (v4 ? 96 : 0)};
    AddressRange exact = range;
    for (int bit = range.prefix; bit < 128; ++bit)
        exact.base[size_t(bit / 8)] &= static_cast<unsigned char>(~(0x80 >> (bit % 8)));
    if (exact.base != range.base) {
        *why = QStringLiteral("--allow: %1 has bits set beyond /%2 (the range is %3/%2).")
                   .arg(text)
                   .arg(prefix)
                   .arg(AddressText(exact.base));
        return std::nullopt;
    }
    return range;
}

std::optional<AnswerBudget> ReadAnswerBudget(const QString &option, const QString &text,
                                             QString *why)
{
    bool rateOk = false, burstOk = true;
    const double rate = text.section(u'/', 0, 0).toDouble(&rateOk);
    const double burst = text.contains(u'/') ? text.section(u'/', 1).toDouble(&burstOk) : 2 * rate;
    if (!rateOk || !burstOk || !(rate >= 1 && rate <= 1e7) || !(burst >= 1 && burst <= 2e7)) {
        *why = QStringLiteral("%1 needs R or R/B: answers a second from 1 to 10000000, and "
                              "at most B at once (1 to 20000000; default 2R).")
                   .arg(option);
        return std::nullopt;
    }
    return AnswerBudget{rate, burst};
}
