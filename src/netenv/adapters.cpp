// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "adapters.h"

#include "base/failure.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace {

QString dotted(const sockaddr *address)
{
    if (!address || address->sa_family != AF_INET)
        return {};
    const auto *in = reinterpret_cast<const sockaddr_in *>(address);
    return QHostAddress(ntohl(in->sin_addr.s_addr)).toString();
}

// An IPv6 address as the socket writes it, a link-local one with its zone.
QString ipv6Text(const sockaddr *address, const QByteArray &interface)
{
    const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
    QString text = QHostAddress(in6->sin6_addr.s6_addr).toString();
    if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr))
        text += u'%' + QString::fromLocal8Bit(interface);
    return text;
}

// The interface an entry belongs to: a labelled address ("eth0:1") is one of
// eth0's addresses, not an adapter of its own.
QByteArray interfaceName(const char *entryName)
{
    const QByteArray name(entryName);
    const qsizetype colon = name.indexOf(':');
    return colon < 0 ? name : name.left(colon);
}

struct Found
{
    QByteArray name;
    unsigned index = 0;
    Adapter adapter;
};

} // namespace

AdapterSet SystemAdapterSource::query() const
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        Raise(rt::DeviceIOError, QString::fromLocal8Bit(std::strerror(errno)));

    QList<Found> found;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr
            || (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_INET6))
            continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        const QByteArray name = interfaceName(entry->ifa_name);
        auto it = std::find_if(found.begin(), found.end(),
                               [&](const Found &f) { return f.name == name; });
        if (it == found.end()) {
            found.append(Found{name, if_nametoindex(name.constData()), {}});
            it = found.end() - 1;
        }
        if (entry->ifa_addr->sa_family == AF_INET6) {
            it->adapter.IPv6Address.append(ipv6Text(entry->ifa_addr, name));
            continue;
        }
        it->adapter.IPAddress.append(dotted(entry->ifa_addr));
        it->adapter.IPSubnet.append(dotted(entry->ifa_netmask));
    }
    freeifaddrs(list);

    // Interface index order is the order the system numbers its interfaces
    // in and does not change while they exist; the addresses keep the order
    // the system lists them in.
    std::stable_sort(found.begin(), found.end(),
                     [](const Found &a, const Found &b) { return a.index < b.index; });
    AdapterSet adapters;
    for (const Found &f : found)
        adapters.append(f.adapter);
    return adapters;
}
