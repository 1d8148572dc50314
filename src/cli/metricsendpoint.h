// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The metrics endpoint (--metrics ADDRESS:PORT): an HTTP server on exactly
// the address and port given, whose page /metrics is made anew at every
// request (metricspage.h).

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QHttpServer;

// ADDRESS:PORT ("[IPv6]:PORT", "localhost:PORT"): the address, or a null one.
QHostAddress MetricsAddress(const QString &where, quint16 *port);
bool IsMetricsAddress(const QString &where);

class MetricsEndpoint : public QObject
{
    Q_OBJECT
public:
    explicit MetricsEndpoint(std::function<QString()> page, QObject *parent = nullptr);
    ~MetricsEndpoint() override;
    // Listens on "ADDRESS:PORT" ("[IPv6]:PORT"); false, with why, when it
    // cannot.
    bool listen(const QString &where, QString *why);

private:
    std::function<QString()> m_page;
    std::unique_ptr<QHttpServer> m_server;
};
