// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Text-to-number conversions, forgiving the way a user types numbers:
// surrounding blanks are ignored, a sign, a fraction and an
// exponent are accepted ("  80", "+8e1", "79.5"), fractions round half to
// even.  Text that is not a number fails with 13 "Type mismatch", a number
// outside the target's range with 6 "Overflow".

#include <QString>

#include <optional>

// The value of text when it reads as a number, else nothing.
std::optional<double> ParseNumber(const QString &text);

// True when text reads as a number (the general conversion accepts it).
bool IsNumeric(const QString &text);

// To a 32-bit signed whole number.
qint32 ToLong(const QString &text);

// To an unsigned 8-bit number (0 to 255).
quint8 ToByte(const QString &text);
