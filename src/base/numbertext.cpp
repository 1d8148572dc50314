// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "numbertext.h"

QString Milliseconds(double us, int decimals, MsUnit unit)
{
    const QString figure = QString::number(us / 1000.0, 'f', decimals);
    return unit == MsUnit::Shown ? figure + QStringLiteral(" ms") : figure;
}

QString MillisecondsSeries(std::initializer_list<double> us, int decimals, QStringView between)
{
    QString text;
    for (const double one : us) {
        if (!text.isEmpty())
            text += between;
        text += Milliseconds(one, decimals, MsUnit::Bare);
    }
    return text;
}

double Percent(double part, double whole)
{
    return whole == 0 ? 0.0 : 100.0 * part / whole;
}
