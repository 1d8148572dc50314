// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "probetexts.h"

#include <QStringBuilder>

#include <charconv>
#include <climits>

namespace {

const QString &fixedText(ProbeText::Kind kind)
{
    return kind == ProbeText::Query ? AutoPingQuery : AutoPingResponse;
}

} // namespace

QString ProbeTextOf(ProbeText::Kind kind, std::optional<int> seq)
{
    if (!seq)
        return fixedText(kind);
    // A responder writes one for every query: no locale machinery.
    char digits[16];
    const char *end = std::to_chars(digits, digits + sizeof digits, *seq).ptr;
    return fixedText(kind) % QLatin1String(" #") % QLatin1String(digits, end - digits);
}

std::optional<ProbeText> ReadProbeDatagram(QStringView text)
{
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    for (const ProbeText::Kind kind : {ProbeText::Query, ProbeText::Response}) {
        const QString &fixed = fixedText(kind);
        if (!text.startsWith(fixed))
            continue;
        const QStringView rest = text.sliced(fixed.size());
        if (rest.isEmpty())
            return ProbeText{kind, std::nullopt};
        // " #" and a number from 1 to INT_MAX in decimal digits, nothing else.
        if (!rest.startsWith(u" #") || rest.size() == 2)
            continue;
        qint64 seq = 0;
        for (const QChar c : rest.sliced(2)) {
            if (c < u'0' || c > u'9' || (seq = seq * 10 + (c.unicode() - u'0')) > INT_MAX) {
                seq = 0;
                break;
            }
        }
        if (seq > 0)
            return ProbeText{kind, int(seq)};
    }
    return std::nullopt;
}

QList<ProbeText> ProbeStream::feed(QStringView text)
{
    m_rest += text;
    QList<ProbeText> found;
    qsizetype from = 0;
    for (;;) {
        const qsizetype query = m_rest.indexOf(AutoPingQuery, from);
        const qsizetype response = m_rest.indexOf(AutoPingResponse, from);
        if (query < 0 && response < 0)
            break;
        const bool isQuery = response < 0 || (query >= 0 && query < response);
        found.append({isQuery ? ProbeText::Query : ProbeText::Response, std::nullopt});
        from = (isQuery ? query + AutoPingQuery.size() : response + AutoPingResponse.size());
    }
    // Keep what may be the start of a text still to come.
    const qsizetype keep = qMin(m_rest.size() - from, AutoPingResponse.size() - 1);
    m_rest = m_rest.right(keep);
    return found;
}
