// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "lookup.h"

#include "socketerrors.h"
#include "systemsocket.h"

#include <QHostInfo>

int LookUpHost(const QString &name, QObject *context, std::function<void(const LookedUp &)> done,
               bool ipv4, bool ipv6)
{
    return QHostInfo::lookupHost(
        name, context, [done = std::move(done), ipv4, ipv6](const QHostInfo &info) {
            LookedUp result;
            if (info.error() == QHostInfo::HostNotFound)
                result.error = sck::HostNotFound;
            else if (info.error() != QHostInfo::NoError)
                result.error = sck::HostNotFoundTryAgain;
            else if ((result.address = PickAddress(info.addresses(), ipv4, ipv6)).isNull())
                result.error = sck::NoData;
            done(result);
        });
}
