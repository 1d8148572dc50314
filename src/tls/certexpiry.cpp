// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "certexpiry.h"

QString CertExpiryNotice(const QString &whose, const QString &file, const QDateTime &expiry,
                         const QDateTime &now)
{
    constexpr qint64 Day = 86400;
    const qint64 left = now.secsTo(expiry);
    if (left > CertWarningDays * Day)
        return {};
    const QString when = expiry.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (left <= 0)
        return QStringLiteral("%1 %2 expired on %3 UTC.").arg(whose, file, when);
    const qint64 days = (left + Day - 1) / Day;
    return QStringLiteral("%1 %2 expires on %3 UTC, in %4 %5.")
        .arg(whose, file, when)
        .arg(days)
        .arg(days == 1 ? QStringLiteral("day") : QStringLiteral("days"));
}

CertExpiryWatch::CertExpiryWatch(QString whose, QString file, QDateTime expiry,
                                 std::function<QDateTime()> now, QObject *parent)
    : QObject(parent),
      m_whose(std::move(whose)),
      m_file(std::move(file)),
      m_expiry(std::move(expiry)),
      m_now(std::move(now))
{
    m_daily.setInterval(24 * 3600 * 1000);
    connect(&m_daily, &QTimer::timeout, this, &CertExpiryWatch::check);
}

void CertExpiryWatch::start()
{
    check();
    m_daily.start();
}

void CertExpiryWatch::check()
{
    if (const QString line = CertExpiryNotice(m_whose, m_file, m_expiry, m_now()); !line.isEmpty())
        emit notice(line);
}
