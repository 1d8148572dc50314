// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The current date and time, and the user's date and time formats.
//
// The log writes dates in the user's short date format, times in the long
// time format and date-with-time in the general date format (short date, a
// blank, long time).  SystemClock takes the formats from the system locale
// (LC_ALL / LC_TIME / LANG); the long time format is the locale's long format
// without its time-zone name.  In the C/POSIX locale (also when no locale is
// set) the short date is the numeric M/d/yyyy, not the locale's own
// "d MMM yyyy", so that the log's file name holds no blanks or month names.
// Tests pin both the time and the formats.

#include <QDateTime>
#include <QString>

class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual QString shortDate(const QDate &date) const = 0;
    virtual QString longTime(const QTime &time) const = 0;
    QString generalDate(const QDateTime &dateTime) const
    {
        return shortDate(dateTime.date()) + u' ' + longTime(dateTime.time());
    }
    // The current time in the long time format (the log's record stamp).
    virtual QString longTimeNow() const { return longTime(now().time()); }
};

// Formats given as QDate/QTime format strings.
class FormatClock : public Clock
{
public:
    FormatClock(QString shortDateFormat, QString longTimeFormat);
    // The local time.  The C library looks at the time-zone file for every
    // local time it gives (a stat() each, a good part of the work per record
    // in a flood), so the offset from UTC is asked for once a second.
    QDateTime now() const override;
    QString shortDate(const QDate &date) const override;
    QString longTime(const QTime &time) const override;
    // Within the second of the last text, that text again, without a
    // QDateTime (a flood of records asks thousands of times a second).
    QString longTimeNow() const override;

private:
    QString m_dateFormat;
    QString m_timeFormat;
    // The log stamps every record with the time: a format without
    // milliseconds gives the same text for a whole second, so the last text
    // is kept and formatting (slow: it goes through the system locale) is
    // done once a second at most.
    bool m_timeCacheable = false;
    mutable QTime m_lastTime;
    mutable QString m_lastTimeText;
    mutable qint64 m_nowSecond = -1; // the second of m_nowText (longTimeNow)
    mutable QString m_nowText;
    mutable qint64 m_offsetSecond = -1; // the second m_offset was asked for
    mutable int m_offset = 0;           // seconds east of UTC
};

class SystemClock final : public FormatClock
{
public:
    SystemClock();
};

// The locale's long time format with its time-zone part removed.
QString LongTimeFormat(const QLocale &locale);

// The locale's short date format; "M/d/yyyy" for the C locale.
QString ShortDateFormat(const QLocale &locale);

// Microseconds on the system's monotonic clock: the one time base of round
// trips, connection and handshake times, whichever part of the program
// takes the two ends of one of them.
qint64 MonotonicUs();
