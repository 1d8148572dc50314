#pragma once
// The adapter snapshot: the machine's IP-enabled network adapters, each with
// its addresses and subnet masks as dotted text.
//
// On Linux the snapshot comes from the interface list (getifaddrs): every
// interface that is up and not loopback is one adapter, in the order the
// system lists them, with one dotted mask per IPv4 address.  IPv6 addresses
// are left out: the address rules read every address and mask as four dotted
// parts, and an IPv6 address would be neither a valid remote address nor a
// usable mask there.

#include <QList>
#include <QStringList>

struct Adapter
{
    QStringList IPAddress;
    QStringList IPSubnet;

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
