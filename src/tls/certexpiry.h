// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A server's own certificate watched for its end: every TLS endpoint of the
// program (the metrics page's, the responder's) says when its certificate
// has expired or expires soon, at its start and once a day after, in the
// same words, and shows the end on the metrics page.  The endpoint still
// serves: a user testing with an old certificate still wants the port.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Days ahead of its end a certificate is warned of.
inline constexpr int CertWarningDays = 14;

// whose ("The responder's certificate") in file, ending at expiry, as seen
// at now: "... FILE expired on DATE UTC." or "... FILE expires on DATE UTC,
// in N days." (N counted up: a day and an hour left are 2 days); empty while
// its end is more than CertWarningDays away.
QString CertExpiryNotice(const QString &whose, const QString &file, const QDateTime &expiry,
                         const QDateTime &now);

class CertExpiryWatch : public QObject
{
    Q_OBJECT
public:
    // now: the clock the end is measured by.
    CertExpiryWatch(QString whose, QString file, QDateTime expiry, std::function<QDateTime()> now,
                    QObject *parent = nullptr);
    // Tells the notice when it is due, and again every day from now on.
    void start();
    // Tells the notice when it is due (start's timer calls it).
    void check();

    const QString &file() const { return m_file; }
    const QDateTime &expiry() const { return m_expiry; }

signals:
    void notice(const QString &line);

private:
    QString m_whose;
    QString m_file;
    QDateTime m_expiry;
    std::function<QDateTime()> m_now;
    QTimer m_daily;
};
