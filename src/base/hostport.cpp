// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hostport.h"

QString BracketedHost(const QString &host)
{
    const bool bracket = host.contains(u':') && !host.startsWith(u'[');
    return bracket ? u'[' + host + u']' : host;
}

QString HostAndPort(const QString &host, qint32 port)
{
    return BracketedHost(host) + u':' + QString::number(port);
}
