#pragma once
// Adapter snapshots written as text: adapters split by ';', each "addresses|masks",
// items split by ',', "_" for an empty item, an empty side for an empty list.
// "192.0.2.10|255.255.255.0;|255.255.0.0" is two adapters, the second with a mask only.

#include "support/fakes.h"

inline AdapterSet Adapters(const QString &text)
{
    const auto items = [](const QString &side) {
        QStringList list = side.isEmpty() ? QStringList() : side.split(u',');
        return list.replaceInStrings(QStringLiteral("_"), QString());
    };
    AdapterSet set;
    for (const QString &adapter : text.split(u';', Qt::SkipEmptyParts))
        set.append(MakeAdapter(items(adapter.section(u'|', 0, 0)), items(adapter.section(u'|', 1))));
    return set;
}
