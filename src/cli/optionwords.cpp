// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "optionwords.h"

#include <QHostAddress>

#include <algorithm>

#include <net/if.h>

OptionWord SplitOption(const QString &argument)
{
    OptionWord word;
    const bool longForm = argument.startsWith(QLatin1String("--"));
    word.name = longForm ? argument.mid(2).section(u'=', 0, 0) : argument.mid(1, 1);
    if (longForm && argument.contains(u'=')) {
        word.value = argument.section(u'=', 1);
        word.hasValue = true;
    } else if (!longForm && argument.size() > 2) {
        word.value = argument.mid(2);
        word.hasValue = true;
    }
    return word;
}

std::optional<Command> EndingWord(const QString &argument, bool hasVersion)
{
    Command command;
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
        command.kind = Command::Help;
    else if (hasVersion
             && (argument == QLatin1String("--version") || argument == QLatin1String("-v")))
        command.kind = Command::Version;
    else
        return std::nullopt;
    return command;
}

Command UsageError(const QString &error)
{
    Command command;
    command.kind = Command::Usage;
    command.error = error;
    return command;
}

int PortNumber(const QString &text, int low)
{
    if (text.isEmpty() || text.size() > 5
        || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
        return -1;
    const int value = text.toInt();
    return value >= low && value <= 65535 ? value : -1;
}

QString SecondsValue(const QString &name, const QString &text, int lowMs, int *ms)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < 0 || value * 1000 + 0.5 < lowMs)
        return QStringLiteral("%1 needs seconds, %2.")
            .arg(name, lowMs == 0   ? QStringLiteral("0 or more")
                       : lowMs < 10 ? QStringLiteral("more than 0")
                                    : QStringLiteral("at least %1").arg(lowMs / 1000.0));
    if (value > 2'000'000)
        return QStringLiteral("%1: %2 seconds is too long (at most 2000000).").arg(name, text);
    *ms = int(value * 1000 + 0.5);
    return {};
}

OptionApply SetsFlag(bool Command::*field)
{
    return [field](Command &command, const QString &) {
        command.*field = true;
        return QString();
    };
}

OptionApply KeepsValue(QString Command::*field)
{
    return [field](Command &command, const QString &value) {
        command.*field = value;
        return QString();
    };
}

OptionApply KeepsPort(quint16 Command::*field, int low, const char *refusal)
{
    return [field, low, refusal](Command &command, const QString &value) {
        const int port = PortNumber(value, low);
        command.*field = quint16(std::max(port, 0));
        return port < 0 ? QString::fromLatin1(refusal) : QString();
    };
}

OptionApply TakesSeconds(int Command::*field, const char *name, int lowMs)
{
    return [field, name, lowMs](Command &command, const QString &value) {
        return SecondsValue(QLatin1String(name), value, lowMs, &(command.*field));
    };
}

QString NormalHost(QString host, QString *error)
{
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (!host.contains(u':'))
        return host;
    const QString zone = host.section(u'%', 1);
    if (!zone.isEmpty() && ::if_nametoindex(zone.toLocal8Bit().constData()) == 0)
        *error = QStringLiteral("%1: this machine has no interface %2.").arg(host, zone);
    const QHostAddress address(host);
    return address.isNull() ? host : address.toString();
}

OptionApply SetsFamily(int family)
{
    return [family](Command &c, const QString &) {
        if (c.family != 0 && c.family != family)
            return QStringLiteral("Choose one family: -4 or -6.");
        c.family = family;
        return QString();
    };
}

QString FamilyRefusal(int family, const QString &text)
{
    QHostAddress address;
    if (family == 0 || !address.setAddress(text))
        return {};
    const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    if (ipv4 == (family == 4))
        return {};
    return QStringLiteral("-%1 takes IPv%1 addresses only: %2 is an IPv%3 address.")
        .arg(family)
        .arg(text)
        .arg(ipv4 ? 4 : 6);
}
