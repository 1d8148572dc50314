// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Numbers as the lines write them: times measured in microseconds shown in
// milliseconds, and a part as a share in percent.  Each line keeps its own
// decimals and says whether the unit follows; the arithmetic is here once.

#include <QString>
#include <QStringView>

#include <initializer_list>

// Whether " ms" follows the figure.
enum class MsUnit { Bare, Shown };

// A time in microseconds as milliseconds with decimals decimals: "0.350",
// with the unit "0.350 ms".
QString Milliseconds(double us, int decimals, MsUnit unit = MsUnit::Shown);

// Times in microseconds as milliseconds, in order, joined by between and
// without the unit: min/avg/max (and mdev) as "0.210/0.350/1.200".
QString MillisecondsSeries(std::initializer_list<double> us, int decimals,
                           QStringView between = u"/");

// part as a share of whole in percent (100 * part / whole); 0 when whole is 0.
double Percent(double part, double whole);
