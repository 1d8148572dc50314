// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "clock.h"

#include <chrono>

#include <QLocale>

namespace {

// The locale the system's date formats come from, read as the system locale
// reads it: LC_ALL, else LC_TIME, else LANG, else C.
QLocale timeLocale()
{
    for (const char *variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const QByteArray name = qgetenv(variable);
        if (!name.isEmpty())
            return QLocale(QString::fromLatin1(name));
    }
    return QLocale::c();
}

} // namespace

FormatClock::FormatClock(QString shortDateFormat, QString longTimeFormat)
    : m_dateFormat(std::move(shortDateFormat)),
      m_timeFormat(std::move(longTimeFormat)),
      m_timeCacheable(!m_timeFormat.contains(u'z'))
{}

QDateTime FormatClock::now() const
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms / 1000 != m_offsetSecond) {
        m_offsetSecond = ms / 1000;
        m_offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, m_offset);
}

QString FormatClock::shortDate(const QDate &date) const
{
    return QLocale::system().toString(date, m_dateFormat);
}

QString FormatClock::longTime(const QTime &time) const
{
    if (!m_timeCacheable)
        return QLocale::system().toString(time, m_timeFormat);
    const QTime second
        = time.isValid() ? QTime(time.hour(), time.minute(), time.second()) : QTime();
    if (m_lastTimeText.isNull() || second != m_lastTime) {
        m_lastTime = second;
        m_lastTimeText = QLocale::system().toString(time, m_timeFormat);
    }
    return m_lastTimeText;
}

QString FormatClock::longTimeNow() const
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (!m_timeCacheable || second != m_nowSecond) {
        m_nowText = longTime(now().time());
        m_nowSecond = second;
    }
    return m_nowText;
}

QString LongTimeFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Drop the time-zone field ("t", "tt"...) and the blank or brackets around it,
    // outside quoted literal text.
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
        } else if (!quoted && c == u't') {
            while (i + 1 < format.size() && format[i + 1] == u't')
                ++i;
        } else {
            out += c;
        }
    }
    out.replace(QStringLiteral("()"), QString());
    return out.trimmed();
}

QString ShortDateFormat(const QLocale &locale)
{
    // The C locale's own short date, "d MMM yyyy" (6 Dec 2026), would put
    // blanks and a month name into the log's file name.
    if (locale.language() == QLocale::C)
        return QStringLiteral("M/d/yyyy");
    return locale.dateFormat(QLocale::ShortFormat);
}

SystemClock::SystemClock()
    : FormatClock(ShortDateFormat(timeLocale()), LongTimeFormat(QLocale::system()))
{}

qint64 MonotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
