// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "lookup.h"

#include "socketerrors.h"
#include "systemsocket.h"

#include <QHostInfo>

namespace {

LookedUp lookedUp(const QHostInfo &info, bool ipv4, bool ipv6)
{
    LookedUp result;
    for (const QHostAddress &address : info.addresses())
        if (!result.addresses.contains(address))
            result.addresses.append(address);
    if (info.error() == QHostInfo::HostNotFound)
        result.error = sck::HostNotFound;
    else if (info.error() != QHostInfo::NoError)
        result.error = sck::HostNotFoundTryAgain;
    else if ((result.address = PickAddress(result.addresses, ipv4, ipv6)).isNull())
        result.error = sck::NoData;
    if (info.error() != QHostInfo::NoError)
        result.resolverSaid = info.errorString();
    return result;
}

} // namespace

int LookUpHost(const QString &name, QObject *context, std::function<void(const LookedUp &)> done,
               bool ipv4, bool ipv6)
{
    return QHostInfo::lookupHost(name, context,
                                 [done = std::move(done), ipv4, ipv6](const QHostInfo &info) {
                                     done(lookedUp(info, ipv4, ipv6));
                                 });
}

LookedUp LookUpHostNow(const QString &name, bool ipv4, bool ipv6)
{
    return lookedUp(QHostInfo::fromName(name), ipv4, ipv6);
}
