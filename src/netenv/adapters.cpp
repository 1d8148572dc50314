#include "adapters.h"

#include "startup/failure.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

QString dotted(const sockaddr *address)
{
    if (!address || address->sa_family != AF_INET)
        return {};
    const auto *in = reinterpret_cast<const sockaddr_in *>(address);
    return QHostAddress(ntohl(in->sin_addr.s_addr)).toString();
}

} // namespace

AdapterSet SystemAdapterSource::query() const
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        Raise(rt::DeviceIOError, QString::fromLocal8Bit(std::strerror(errno)));

    // Group the IPv4 entries by interface, keeping the system's order.
    QList<QByteArray> names;
    AdapterSet adapters;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        const QByteArray name(entry->ifa_name);
        qsizetype index = names.indexOf(name);
        if (index < 0) {
            names.append(name);
            adapters.append(Adapter{});
            index = adapters.size() - 1;
        }
        adapters[index].IPAddress.append(dotted(entry->ifa_addr));
        adapters[index].IPSubnet.append(dotted(entry->ifa_netmask));
    }
    freeifaddrs(list);
    return adapters;
}
