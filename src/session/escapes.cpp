// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "escapes.h"

#include <utility>

namespace {

// The value of an ASCII hexadecimal digit; -1 for any other character.
int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The byte a backslash and this letter stand for; -1 when they are no escape.
int letterByte(QChar c)
{
    switch (c.unicode()) {
    case u'r': return '\r';
    case u'n': return '\n';
    case u't': return '\t';
    case u'0': return 0;
    case u'\\': return '\\';
    default: return -1;
    }
}

bool startsPair(QStringView text, qsizetype i)
{
    return i + 1 < text.size() && text[i].isHighSurrogate() && text[i + 1].isLowSurrogate();
}

EscapedBytes refuse(qsizetype position, QString error)
{
    return {{}, position, std::move(error)};
}

} // namespace

EscapedBytes ReadEscapes(QStringView text)
{
    EscapedBytes result;
    result.bytes.reserve(text.size());
    qsizetype taken = 0;      // the text before this index is in result.bytes
    qsizetype characters = 0; // code points before index i
    qsizetype i = 0;
    // The characters since the last escape go out as their UTF-8 bytes.  No
    // pair is split: a surrogate just before a backslash has no partner.
    const auto takeText = [&] { result.bytes += text.sliced(taken, i - taken).toUtf8(); };
    while (i < text.size()) {
        if (text[i] != u'\\') {
            if (startsPair(text, i)) {
                i += 2;
            } else if (text[i].isSurrogate()) {
                // toUtf8 would write '?', which reads as a character typed.
                takeText();
                result.bytes += "\xEF\xBF\xBD";
                taken = ++i;
            } else {
                ++i;
            }
            ++characters;
            continue;
        }
        takeText();
        const qsizetype position = characters + 1;
        if (i + 1 == text.size())
            return refuse(position,
                          QStringLiteral("a lone \"\\\" at the end; write \\\\ for a backslash"));
        if (text[i + 1] == u'x') {
            const int high = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            const int low = high >= 0 && i + 3 < text.size() ? hexValue(text[i + 3]) : -1;
            if (low < 0)
                return refuse(position, QStringLiteral("\"%1\" needs two hexadecimal digits")
                                            .arg(text.sliced(i, high < 0 ? 2 : 3)));
            result.bytes += char(high << 4 | low);
            i += 4;
            characters += 4;
        } else if (const int byte = letterByte(text[i + 1]); byte >= 0) {
            result.bytes += char(byte);
            i += 2;
            characters += 2;
        } else {
            const QStringView escape = text.sliced(i, startsPair(text, i + 1) ? 3 : 2);
            return refuse(
                position,
                QStringLiteral("\"%1\" is not an escape; use \\xHH, \\r, \\n, \\t, \\0 or \\\\")
                    .arg(escape));
        }
        taken = i;
    }
    takeText();
    return result;
}
