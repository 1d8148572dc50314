#pragma once
// The adapter snapshot: the machine's IP-enabled network adapters, each with
// its addresses and subnet masks as dotted text.
//
// On Linux the snapshot comes from the interface list (getifaddrs): every
// interface that is up, is not loopback and has an IPv4 address is one
// adapter, in interface index order, with its IPv4 addresses in the order the
// system lists them (labelled aliases such as "eth0:1" included) and one
// dotted mask per address, at the same position.  IPv6 addresses are left
// out: the address rules read every address and mask as four dotted parts,
// and an IPv6 address would be neither a valid remote address nor a usable
// mask there.  An interface with IPv6 addresses only is therefore not an
// adapter here.

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
