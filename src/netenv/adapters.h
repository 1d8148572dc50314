// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The adapter snapshot: the machine's IP-enabled network adapters, each with
// its IPv4 addresses and subnet masks as dotted text and its IPv6 addresses.
//
// On Linux the snapshot comes from the interface list (getifaddrs): every
// interface that is up, is not loopback and has an IPv4 or an IPv6 address
// is one adapter, in interface index order, with its IPv4 addresses in the
// order the system lists them (labelled aliases such as "eth0:1" included)
// and one dotted mask per address, at the same position, and its IPv6
// addresses in the order the system lists them, a link-local one with its
// zone ("fe80::1%eth0").
//
// The IPv6 addresses are kept apart, and their prefix lengths not at all:
// the IPv4 rules read every entry of IPAddress and IPSubnet as four dotted
// parts (the broadcast rule counts the masks it tests), and an IPv6 address
// or prefix there would change what they answer.  An adapter with IPv6
// addresses only has empty IPv4 lists.

#include <QList>
#include <QStringList>

struct Adapter
{
    QStringList IPAddress;   // IPv4, dotted
    QStringList IPSubnet;    // IPv4 masks, dotted, one per address
    QStringList IPv6Address; // IPv6, link-local ones with "%zone"

    friend bool operator==(const Adapter &, const Adapter &) = default;
};

using AdapterSet = QList<Adapter>;

class AdapterSource
{
public:
    virtual ~AdapterSource() = default;
    // The adapters as the system reports them now; raises a RuntimeError
    // when the system cannot be asked.
    virtual AdapterSet query() const = 0;
};

class SystemAdapterSource final : public AdapterSource
{
public:
    AdapterSet query() const override;
};
