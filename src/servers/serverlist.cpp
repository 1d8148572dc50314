// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "serverlist.h"

#include "base/failure.h"
#include "walk16.h"

#include <QHash>

QString ServerList::Item(qsizetype position) const
{
    if (position < 1 || position > m_items.size())
        Raise(rt::SubscriptOutOfRange);
    return m_items.at(position - 1);
}

void ServerList::AppendMissing(const QStringList &texts, Qt::CaseSensitivity cs)
{
    const auto key
        = [cs](const QString &text) { return cs == Qt::CaseSensitive ? text : text.toLower(); };
    // Hash lookups stand in for the scan from position 1; WalkTo/WalkThrough
    // make them stop where the scan's counter would overflow.
    QHash<QString, qsizetype> firstAt;
    for (qsizetype i = 1; i <= Count(); ++i) {
        const QString k = key(Item(i));
        if (!firstAt.contains(k))
            firstAt.insert(k, i);
    }
    for (qsizetype n = 1; n <= texts.size(); ++n) {
        WalkTo(n);
        const QString k = key(texts.at(n - 1));
        const auto found = firstAt.constFind(k);
        if (found != firstAt.constEnd()) {
            WalkTo(*found);
            continue;
        }
        WalkThrough(Count());
        Add(texts.at(n - 1));
        firstAt.insert(k, Count());
    }
    WalkThrough(texts.size());
}
