// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadlines.h"

#include "base/numbertext.h"

#include <cmath>

QString BitRateText(double bps)
{
    static const char *const units[] = {"bit/s", "kbit/s", "Mbit/s", "Gbit/s"};
    int unit = 0;
    while (unit < 3 && bps >= 1000) {
        bps /= 1000;
        ++unit;
    }
    const int decimals = unit == 0 ? 0 : bps >= 100 ? 1 : 2;
    return QString::number(bps, 'f', decimals) + u' ' + QLatin1String(units[unit]);
}

namespace {

// Nanoseconds as milliseconds, three decimals: "0.012 ms".
QString nsText(qint64 ns)
{
    return Milliseconds(double(ns) / 1000.0, 3);
}

} // namespace

QString PercentText(double percent)
{
    return u'(' + QString::number(percent, 'f', percent > 0 && percent < 0.01 ? 4 : 2)
           + QStringLiteral("%)");
}

QString LoadIntervalText(const LoadTally &t, bool stream)
{
    const qint64 lost = t.intervalLost;
    // Below 0 when pieces of earlier intervals came late: none lost in this one.
    const qint64 lostHere = std::max<qint64>(lost, 0);
    const double expected = double(qint64(t.intervalReceived) + lostHere);
    const double bps = t.intervalUs > 0 ? double(t.intervalBytes) * 8e6 / double(t.intervalUs) : 0;
    if (stream)
        return QStringLiteral("%1 pieces received, %2")
            .arg(t.intervalReceived)
            .arg(BitRateText(bps));
    return QStringLiteral("%1 received, %2 lost %3, %4 out of order, %5 duplicates, jitter %6, "
                          "delay variation max %7, %8")
        .arg(t.intervalReceived)
        .arg(lost)
        .arg(PercentText(Percent(double(lostHere), expected)))
        .arg(t.outOfOrder)
        .arg(t.duplicates)
        .arg(nsText(t.jitterNs), nsText(t.intervalDelayVarMaxNs), BitRateText(bps));
}

QString LoadWholeText(const LoadTally &t, bool ended, bool stream)
{
    if (stream)
        return QStringLiteral("%1 pieces %2, %3 received (%4 bytes), goodput %5")
            .arg(t.expected)
            .arg(ended ? QStringLiteral("sent") : QStringLiteral("expected"))
            .arg(t.received)
            .arg(t.bytes)
            .arg(BitRateText(double(t.goodputBps)));
    return QStringLiteral("%1 %2, %3 received, %4 lost %5, %6 out of order, %7 duplicates, "
                          "jitter %8, delay variation mean %9 max %10, goodput %11")
        .arg(t.expected)
        .arg(ended ? QStringLiteral("sent") : QStringLiteral("expected"))
        .arg(t.received)
        .arg(t.lost())
        .arg(PercentText(t.lossPercent()))
        .arg(t.outOfOrder)
        .arg(t.duplicates)
        .arg(nsText(t.jitterNs), nsText(t.delayVarAvgNs), nsText(t.delayVarMaxNs),
             BitRateText(double(t.goodputBps)));
}

QString LoadToldLine(const LoadReceiver::Told &told)
{
    const QString who = QStringLiteral("%1 #%2").arg(told.from).arg(told.id, 8, 16, QChar(u'0'));
    const QString seconds = QString::number(double(told.tally.elapsedUs) / 1e6, 'f', 1);
    switch (told.why) {
    case LoadReceiver::Told::Why::Second:
        return QStringLiteral("%1 second %2: %3")
            .arg(who)
            .arg(told.tally.report)
            .arg(LoadIntervalText(told.tally));
    case LoadReceiver::Told::Why::Ended:
        return QStringLiteral("%1 ended after %2 s: %3")
            .arg(who, seconds, LoadWholeText(told.tally, true));
    case LoadReceiver::Told::Why::Silent: break;
    }
    return QStringLiteral("%1 ended after %2 s, silent for %3 s (its sender is gone): %4")
        .arg(who, seconds)
        .arg(LoadReceiver::SilenceUs / 1'000'000)
        .arg(LoadWholeText(told.tally, false));
}
