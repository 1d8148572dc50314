// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "nametables.h"

#include "failure.h"

QString NameTable::item(qsizetype position) const
{
    if (position < 1 || position > m_names.size())
        Raise(rt::SubscriptOutOfRange);
    return m_names.at(position - 1);
}

const QStringList &ProtocolNames()
{
    static const QStringList names{QStringLiteral("TCP"), QStringLiteral("UDP"),
                                   QStringLiteral("TLS")};
    return names;
}

const QStringList &StateNames()
{
    static const QStringList names{
        QStringLiteral("Closed"),         QStringLiteral("Open"),
        QStringLiteral("Listening"),      QStringLiteral("Connection Pending"),
        QStringLiteral("Resolving Host"), QStringLiteral("Host Resolved"),
        QStringLiteral("Connecting"),     QStringLiteral("Connected"),
        QStringLiteral("Closing"),        QStringLiteral("Error"),
    };
    return names;
}
