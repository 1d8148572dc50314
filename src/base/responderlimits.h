// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a responder (and the STAMP reflector) lets in, and how much it
// answers: the addresses it answers at all, its budgets of answers, and the
// limits on its clients.  The command line and the configuration file fill
// it; peers/sourcegate.h applies it.
//
// The default budgets never limit an ordinary probe: one probe of 1,000
// targets at a query a second, every target on this responder, is 1,000
// queries a second from one address, half the budget per source; ten such
// probes fit the budget in all.  What a source may get is bounded all the
// same: an answer is no longer than its query, so a forged flood aimed at a
// third party gets it at most 2,000 answers a second (about 1 Mbit/s), and
// no number of forged sources more than 20,000 a second in all.

#include <QList>
#include <QString>

#include <array>
#include <optional>

// Addresses as 16 octets, IPv4 as IPv4-mapped IPv6 (::ffff:a.b.c.d), so
// that one comparison serves both families and an IPv4 peer of an IPv6
// socket is matched as IPv4.
using AddressOctets = std::array<unsigned char, 16>;

// The octets of an address's text (IPv4 dotted, IPv6 with or without
// brackets or a zone); nothing when it is no address.
std::optional<AddressOctets> ReadAddressOctets(QString text);
// The address as the lines write it: dotted IPv4, compressed IPv6.
QString AddressText(const AddressOctets &octets);

// A range of addresses, CIDR: prefix of the 128 bits (an IPv4 range's is 96
// more than it is written with).
struct AddressRange
{
    AddressOctets base{};
    int prefix = 128;
    bool contains(const AddressOctets &address) const;
    bool operator==(const AddressRange &) const = default;
};
// The range as it is written: "192.0.2.0/24", "2001:db8::/32".
QString AddressRangeText(const AddressRange &range);
// "192.0.2.0/24", "2001:db8::/32"; a bare address is /32 or /128.  A range
// whose base has bits beyond the prefix is refused (a typo more often than
// not).  Nothing and *why when it is none.
std::optional<AddressRange> ReadAddressRange(const QString &text, QString *why);

// A token bucket: rate answers a second, at most burst at once.
struct AnswerBudget
{
    double rate = 0;
    double burst = 0;
    bool operator==(const AnswerBudget &) const = default;
};
// "R" (the burst twice the rate) or "R/B": R from 1 to 10,000,000, B at
// least 1 (of option, "--budget", for *why).
std::optional<AnswerBudget> ReadAnswerBudget(const QString &option, const QString &text,
                                             QString *why);

struct ResponderLimits
{
    QList<AddressRange> allow; // empty: every address
    AnswerBudget perSource{2'000, 4'000};
    AnswerBudget total{20'000, 40'000};
    // Sources whose budget is kept: a new one beyond them takes the place
    // of the one heard from the longest ago.
    int sourcesKept = 16'384;
    // A stream server's clients: in all (or what the limit of open files
    // allows), from one address; how long one may stay silent, and how long
    // one must have been silent to make room for a newcomer when it is full.
    int maxClients = 4'096;
    int maxClientsPerAddress = 64;
    int clientIdleMs = 120'000;
    int evictAfterMs = 5'000;
    bool operator==(const ResponderLimits &) const = default;
};
