// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A data table's columns in one call, each type with its name:
// columns<QString, int>("text", "status").

#include <QTest>

#include <tuple>

template<typename... Types, typename... Names>
void columns(const Names &...names)
{
    static_assert(sizeof...(Types) == sizeof...(Names), "a name for every column");
    (QTest::addColumn<Types>(names), ...);
}

// One row of the table, its values in the columns' order:
// dataRow("name", QString("text"), 2).
template<typename... Values>
void dataRow(const char *name, const Values &...values)
{
    (QTest::newRow(name) << ... << values);
}

// The row's values, for structured bindings in the columns' order:
// const auto [text, status] = fetched<QString, int>("text", "status").
template<typename... Types, typename... Names>
std::tuple<Types...> fetched(const Names &...names)
{
    static_assert(sizeof...(Types) == sizeof...(Names), "a name for every column");
    return {*static_cast<Types *>(QTest::qData(names, qMetaTypeId<Types>()))...};
}
