// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "metricsendpoint.h"

#include <QHttpServer>
#include <QHttpServerResponse>

MetricsEndpoint::MetricsEndpoint(std::function<QString()> page, QObject *parent)
    : QObject(parent), m_page(std::move(page))
{}

MetricsEndpoint::~MetricsEndpoint() = default;

QHostAddress MetricsAddress(const QString &where, quint16 *port)
{
    const qsizetype colon = where.lastIndexOf(u':');
    QString host = where.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    bool numeric = false;
    const uint number = where.mid(colon + 1).toUInt(&numeric);
    QHostAddress address;
    if (colon < 0 || !numeric || number == 0 || number > 65535 || !address.setAddress(host))
        return QHostAddress();
    *port = quint16(number);
    return address;
}

bool IsMetricsAddress(const QString &where)
{
    quint16 port = 0;
    return !MetricsAddress(where, &port).isNull();
}

bool MetricsEndpoint::listen(const QString &where, QString *why)
{
    quint16 port = 0;
    const QHostAddress address = MetricsAddress(where, &port);
    m_server = std::make_unique<QHttpServer>();
    m_server->route(QStringLiteral("/metrics"), [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                   m_page().toUtf8());
    });
    if (m_server->listen(address, port) == 0) {
        *why = QStringLiteral("The metrics endpoint cannot listen on %1").arg(where);
        return false;
    }
    return true;
}
