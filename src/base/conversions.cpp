// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "conversions.h"

#include "failure.h"

#include <cmath>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Rounds half to even, as the whole-number conversions do.
double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

template<typename T>
T toWhole(const QString &text, double low, double high)
{
    const auto value = ParseNumber(text);
    if (!value)
        Raise(rt::TypeMismatch);
    const double rounded = roundHalfEven(*value);
    if (!(rounded >= low && rounded <= high))
        Raise(rt::Overflow);
    return static_cast<T>(rounded);
}

} // namespace

std::optional<double> ParseNumber(const QString &text)
{
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && isBlank(text[i]))
        ++i;
    while (end > i && isBlank(text[end - 1]))
        --end;
    if (i == end)
        return std::nullopt;

    // [sign] digits [. digits] [e|E [sign] digits], at least one digit in the mantissa
    QString plain;
    qsizetype p = i;
    if (text[p] == u'+' || text[p] == u'-')
        plain += text[p++];
    qsizetype digits = 0;
    while (p < end && text[p].isDigit() && text[p].unicode() < 128) {
        plain += text[p++];
        ++digits;
    }
    if (p < end && text[p] == u'.') {
        plain += text[p++];
        while (p < end && text[p].isDigit() && text[p].unicode() < 128) {
            plain += text[p++];
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (p < end && (text[p] == u'e' || text[p] == u'E')) {
        plain += u'e';
        ++p;
        if (p < end && (text[p] == u'+' || text[p] == u'-'))
            plain += text[p++];
        qsizetype expDigits = 0;
        while (p < end && text[p].isDigit() && text[p].unicode() < 128) {
            plain += text[p++];
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (p != end)
        return std::nullopt;
    bool ok = false;
    const double value = plain.toDouble(&ok);
    if (!ok && !std::isinf(value))
        return std::nullopt;
    return value;
}

bool IsNumeric(const QString &text)
{
    return ParseNumber(text).has_value();
}

qint32 ToLong(const QString &text)
{
    return toWhole<qint32>(text, -2147483648.0, 2147483647.0);
}

quint8 ToByte(const QString &text)
{
    return toWhole<quint8>(text, 0.0, 255.0);
}
