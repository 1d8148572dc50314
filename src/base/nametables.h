// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <QStringList>

// An ordered table of display names for codes: the name of code c is entry
// c + 1 counted from 1.  A code without an entry fails with 9 "Subscript out
// of range", like an array index out of bounds.
class NameTable
{
public:
    void append(const QString &name) { m_names.append(name); }
    qsizetype count() const { return m_names.size(); }
    // Entry at a 1-based position.
    QString item(qsizetype position) const;
    // Name of a code (entry code + 1).
    QString name(int code) const { return item(qsizetype(code) + 1); }

private:
    QStringList m_names;
};

// The two tables the start-up sequence fills and the rest of the program
// reads: protocol code -> "TCP"/"UDP", socket state code -> "Closed" ...
struct NameTables
{
    NameTable Protocol;
    NameTable States;
};

// The names as start-up fills the tables, in code order.
const QStringList &ProtocolNames();
const QStringList &StateNames();
