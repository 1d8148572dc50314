// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "loadpacer.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

std::optional<LoadRate> ParseLoadRate(const QString &text, QString *error)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d+(?:\\.\\d+)?)(?:([kKMG])(?:bit/s|b)?)?$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch()) {
        if (error)
            *error = QStringLiteral("--rate needs datagrams a second (1000) or bits a second "
                                    "with k, M or G (100k, 10M, 1G), not \"%1\".")
                         .arg(text);
        return std::nullopt;
    }
    LoadRate rate;
    rate.value = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    if (!unit.isEmpty()) {
        rate.bits = true;
        rate.value *= unit.compare(QLatin1String("k"), Qt::CaseInsensitive) == 0 ? 1e3
                      : unit == QLatin1String("M")                               ? 1e6
                                                                                 : 1e9;
    }
    if (rate.value > 1e12) {
        if (error)
            *error = QStringLiteral("--rate: %1 is too high.").arg(text);
        return std::nullopt;
    }
    return rate;
}

LoadPacer::LoadPacer(double perSecond, int burst)
    : m_perSecond(perSecond), m_burst(std::max(1, burst))
{}

quint64 LoadPacer::dueBy(qint64 nowUs) const
{
    if (unlimited())
        return std::numeric_limits<quint64>::max();
    if (nowUs < m_startUs)
        return 0;
    const double ticks = std::floor(double(nowUs - m_startUs) * 1e-6 * m_perSecond / m_burst);
    return (quint64(ticks) + 1) * quint64(m_burst);
}

qint64 LoadPacer::dueAt(quint64 index) const
{
    if (unlimited())
        return m_startUs;
    const quint64 tick = index / quint64(m_burst);
    return m_startUs + qint64(std::ceil(double(tick) * m_burst * 1e6 / m_perSecond));
}
