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
    // Removes the entry at a 1-based position, closing the gap.
    void Remove(qsizetype position);
    void Clear() { m_items.clear(); }
    const QStringList &items() const { return m_items; }

private:
    QStringList m_items;
};
