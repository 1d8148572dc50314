// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "probetexts.h"

#include <QStringBuilder>

#include <charconv>
#include <climits>
#include <utility>

namespace {

const QString &fixedText(ProbeText::Kind kind)
{
    return kind == ProbeText::Query ? AutoPingQuery : AutoPingResponse;
}

// The length of the " #N" that rest starts with, N a number from 1 to
// INT_MAX in decimal digits (*seq); 0 when it starts with none.
qsizetype numberLength(QStringView rest, int *seq = nullptr)
{
    if (!rest.startsWith(u" #"))
        return 0;
    qint64 value = 0;
    qsizetype end = 2;
    for (; end < rest.size() && rest[end] >= u'0' && rest[end] <= u'9'; ++end)
        if ((value = value * 10 + (rest[end].unicode() - u'0')) > INT_MAX)
            return 0;
    if (seq)
        *seq = int(value);
    return value > 0 ? end : 0;
}

// The length of the token " ~..." that rest starts with, its digits in
// *token; 0 when it starts with none.
qsizetype tokenLength(QStringView rest, std::optional<QString> *token = nullptr)
{
    if (!rest.startsWith(u" ~"))
        return 0;
    qsizetype end = 2;
    while (
        end < rest.size()
        && ((rest[end] >= u'0' && rest[end] <= u'9') || (rest[end] >= u'a' && rest[end] <= u'f')))
        ++end;
    if (token)
        *token = rest.sliced(2, end - 2).toString();
    return end;
}

// The length of the padding " ..." that rest starts with (its line feed
// not counted); 0 when it starts with none.
qsizetype paddingLength(QStringView rest)
{
    if (!rest.startsWith(u" ."))
        return 0;
    qsizetype end = 2;
    while (end < rest.size() && rest[end] == u'.')
        ++end;
    return end;
}

// Where the next fixed text begins in text from from on, and which it is;
// nothing when no more is there.
std::optional<std::pair<qsizetype, ProbeText::Kind>> nextFixedText(QStringView text, qsizetype from)
{
    const qsizetype query = text.indexOf(AutoPingQuery, from);
    const qsizetype response = text.indexOf(AutoPingResponse, from);
    if (query < 0 && response < 0)
        return std::nullopt;
    if (response < 0 || (query >= 0 && query < response))
        return std::pair{query, ProbeText::Query};
    return std::pair{response, ProbeText::Response};
}

} // namespace

QString ProbeTextOf(ProbeText::Kind kind, std::optional<int> seq, int size,
                    const std::optional<QString> &token)
{
    QString text = fixedText(kind);
    if (seq) {
        // A responder writes one for every query: no locale machinery.
        char digits[16];
        const char *end = std::to_chars(digits, digits + sizeof digits, *seq).ptr;
        text = text % QLatin1String(" #") % QLatin1String(digits, end - digits);
    }
    if (token)
        text = text % QLatin1String(" ~") % *token;
    const qsizetype dots = size - text.size() - 2;
    if (dots < 1)
        return text;
    return text % u' ' % QString(dots, u'.') % u'\n';
}

int SmallestPadded(bool numbered)
{
    // The response's text, " #" and 10 digits, " ~" and the token, " ."
    // and the line feed.
    return int(AutoPingResponse.size()) + (numbered ? 12 + 18 : 0) + 3;
}

QString TokenText(quint64 token)
{
    return QStringLiteral("%1").arg(token, 16, 16, QLatin1Char('0'));
}

std::optional<ProbeText> ReadProbeDatagram(QStringView text)
{
    const int size = int(text.size());
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    for (const ProbeText::Kind kind : {ProbeText::Query, ProbeText::Response}) {
        const QString &fixed = fixedText(kind);
        if (!text.startsWith(fixed))
            continue;
        const QStringView rest = text.sliced(fixed.size());
        if (rest.isEmpty())
            return ProbeText{kind, std::nullopt, 0, {}};
        // " #" and the number, the token, its padding, nothing else.
        int seq = 0;
        const qsizetype number = numberLength(rest, &seq);
        const std::optional<int> numbered = number > 0 ? std::optional(seq) : std::nullopt;
        std::optional<QString> token;
        const qsizetype tokened = number + tokenLength(rest.sliced(number), &token);
        const qsizetype padding = paddingLength(rest.sliced(tokened));
        if (tokened + padding == rest.size() && (tokened > 0 || padding > 0))
            return ProbeText{kind, numbered, padding > 0 ? size : 0, token};
    }
    return std::nullopt;
}

QString WithoutProbeTexts(QStringView text)
{
    QString rest;
    qsizetype from = 0;
    while (const auto next = nextFixedText(text, from)) {
        const auto [at, kind] = *next;
        rest += text.sliced(from, at - from);
        from = at + fixedText(kind).size();
        from += numberLength(text.sliced(from)); // its number, if it has one
        from += tokenLength(text.sliced(from));
        from += paddingLength(text.sliced(from));
        while (from < text.size() && (text[from] == u'\r' || text[from] == u'\n'))
            ++from;
    }
    return rest.append(text.sliced(from));
}

QList<ProbeText> ProbeStream::feed(QStringView text)
{
    m_rest += text;
    QList<ProbeText> found;
    qsizetype from = 0;
    while (const auto next = nextFixedText(m_rest, from)) {
        const auto [at, kind] = *next;
        const qsizetype after = at + fixedText(kind).size();
        const QStringView rest = QStringView(m_rest).sliced(after);
        // A padded text may carry a number and a token before its padding.
        int seq = 0;
        const qsizetype number = numberLength(rest, &seq);
        std::optional<QString> token;
        const qsizetype tokened = number + tokenLength(rest.sliced(number), &token);
        const qsizetype end = tokened + paddingLength(rest.sliced(tokened));
        // A padded text counts once its line feed came; what came of it so
        // far, or a space after it (or " #" after the fixed text), may go on.
        const QStringView tail = rest.sliced(end);
        const bool goesOn = tail.isEmpty()
                                ? end > 0
                                : end == tokened && (tail == u" " || (end == 0 && tail == u" #"));
        if (goesOn && after + end - at < MaxPadded) {
            m_rest = m_rest.sliced(at);
            return found;
        }
        const bool padded = end > tokened && end < rest.size() && rest[end] == u'\n';
        if (padded)
            found.append({kind, number > 0 ? std::optional(seq) : std::nullopt,
                          int(after + end + 1 - at), token});
        else
            found.append({kind, std::nullopt, 0, {}});
        from = padded ? after + end + 1 : after;
    }
    // Keep what may be the start of a text still to come.
    const qsizetype keep = qMin(m_rest.size() - from, AutoPingResponse.size() - 1);
    m_rest = m_rest.right(keep);
    return found;
}
