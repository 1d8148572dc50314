// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The in-memory server list: the remote host names and addresses offered in
// the main window, one list object for the whole run.  Positions count from 1.
// The list refuses nothing; each operation that adds tests for duplicates by
// its own rule.

#include <QStringList>

class ServerList
{
public:
    int Count() const { return int(m_items.size()); }
    // The entry at a 1-based position; 9 "Subscript out of range" outside.
    QString Item(qsizetype position) const;
    void Add(const QString &text) { m_items.append(text); }
    void Clear() { m_items.clear(); }
    const QStringList &items() const { return m_items; }

    // Appends each text that the list lacks, in order; texts appended
    // earlier in the same call take part in the comparison.  The walks count
    // with 16-bit positions (walk16.h): past 32,767 they stop with 6
    // "Overflow", keeping what was appended before.
    void AppendMissing(const QStringList &texts, Qt::CaseSensitivity cs);

private:
    QStringList m_items;
};
