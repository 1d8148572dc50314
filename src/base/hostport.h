// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A host and its port as the lines write them: an IPv6 address in brackets,
// so that the port after the last colon cannot be taken for a part of it.

#include <QString>

// host as it stands before ":PORT": "192.0.2.7", "[2001:db8::7]"; a host
// given in brackets already keeps them.
QString BracketedHost(const QString &host);

// "192.0.2.7:7", "[2001:db8::7]:7".
QString HostAndPort(const QString &host, qint32 port);
