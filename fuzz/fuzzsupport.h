// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What the fuzz targets run the program's code against: a pinned machine
// (name PC17, domain EXAMPLE.TEST, one adapter 192.0.2.10/24) and a sink that
// counts the lines reported, of any kind.

#include "base/environment.h"
#include "base/msgsink.h"
#include "netenv/adapters.h"

#include <QMap>

class PinnedEnvironment final : public Environment
{
public:
    std::optional<QString> variable(const QString &name) const override
    {
        static const QMap<QString, QString> values{
            {QStringLiteral("COMPUTERNAME"), QStringLiteral("PC17")},
            {QStringLiteral("USERDNSDOMAIN"), QStringLiteral("EXAMPLE.TEST")}};
        const auto found = values.constFind(name);
        return found == values.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }
    QString hostName() const override { return QStringLiteral("pc17"); }
    QString localDomain() const override { return {}; }
    QString dataHome() const override { return QStringLiteral("/nonexistent"); }
};

class OneAdapter final : public AdapterSource
{
public:
    AdapterSet query() const override
    {
        return {Adapter{{QStringLiteral("192.0.2.10")},
                        {QStringLiteral("255.255.255.0")},
                        {QStringLiteral("2001:db8::10"), QStringLiteral("fe80::10%lo")}}};
    }
};

class CountingSink final : public MsgSink
{
public:
    int lines = 0;
    void addLine(LineKind, const QString &, const QString &) override { ++lines; }
    void ClearMsgsBox() override {}
};
